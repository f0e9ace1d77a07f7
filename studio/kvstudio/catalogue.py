"""The release server's folder: a package for every release, release notes and the publish file
"dozoPublishConf.json" that names them with their MD5."""

import functools
import hashlib
import importlib.util
import json
import os
import urllib.parse

LAB_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PUBLISH_FILE = "dozoPublishConf.json"
INSTALLER_SIZE = 16384


@functools.lru_cache(maxsize=None)
def _simulator():
    found = importlib.util.spec_from_file_location(
        "device_simulator", os.path.join(LAB_DIR, "device_simulator.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def is_firmware(code):
    return "-FIRMWARE" in code


def md5_of(path):
    digest = hashlib.md5()
    with open(path, "rb") as package:
        for block in iter(lambda: package.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _write_installer(path, code, version):
    head = ("KVPortal studio installer for %s %s\n" % (code, version)).encode()
    with open(path, "wb") as out:
        out.write(head + bytes(INSTALLER_SIZE - len(head)))


def write_firmware_image(path, version, size, generation=1):
    """A firmware image that makes a simulated device report `version` after its reboot."""
    _simulator().make_image(path, version, size, generation)


def _write_package(path, entry, description):
    if is_firmware(entry["ID"]):
        write_firmware_image(path, entry["IV"], description.package_size, entry.get("GN", 1))
    else:
        _write_installer(path, entry["ID"], entry["IV"])


class Catalogue:
    """Builds the server's folder once; `publish` writes a publish file over it."""

    def __init__(self, root, description):
        self.root = root
        self.description = description
        self.base_url = "http://%s:%d" % (description.release_address, description.release_port)
        os.makedirs(os.path.join(root, "packages"), exist_ok=True)
        os.makedirs(os.path.join(root, "notes"), exist_ok=True)
        self.md5 = {}
        for entry in description.releases + description.firmware_generations:
            name = entry["IF"]
            if name in self.md5:
                continue
            path = self.package_path(name)
            _write_package(path, entry, description)
            self.md5[name] = md5_of(path)
            with open(os.path.join(root, "notes", entry["ID"] + ".html"), "w") as notes:
                notes.write("<html><body><h1>%s</h1><p>Release notes.</p></body></html>\n"
                            % entry["ID"])

    def package_path(self, file_name):
        return os.path.join(self.root, "packages", file_name)

    def entry(self, release, behaviour=None):
        """`behaviour`: query parameters of the release server for the package's link, such as
        {"stall": "body"}."""
        link = "%s/packages/%s" % (self.base_url, release["IF"])
        parameters = {"rate": self.description.download_rate} \
            if self.description.download_rate else {}
        parameters.update(behaviour or {})
        if parameters:
            link += "?" + urllib.parse.urlencode(parameters)
        entry = {"ID": release["ID"]}
        if "OS" in release:
            entry["OS"] = release["OS"]
        entry.update({"IV": release["IV"], "IF": release["IF"], "LK": link})
        if "GN" in release:
            entry["GN"] = release["GN"]
        entry["MD5"] = self.md5[release["IF"]]
        entry["RN"] = "%s/notes/%s.html" % (self.base_url, release["ID"])
        return entry

    def document(self, releases=None, behaviours=None):
        """The publish file for the studio's releases, or for the releases given;
        `behaviours` maps package file names to the server behaviour of their links."""
        def entry(release):
            return self.entry(release, (behaviours or {}).get(release["IF"]))

        return {
            "products": [entry(r) for r in (releases or self.description.releases)],
            "firmware_generations": [entry(r) for r in self.description.firmware_generations],
        }

    def publish(self, releases=None, behaviours=None):
        """Writes the publish file the server hands out, replacing the one before."""
        path = os.path.join(self.root, PUBLISH_FILE)
        with open(path + ".tmp", "w", encoding="utf-8") as out:
            json.dump(self.document(releases, behaviours), out, indent=1)
        os.replace(path + ".tmp", path)
        return path
