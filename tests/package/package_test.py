"""The Debian package as a user receives it: made by CPack from this build, checked with Debian's
own tools, unpacked and run; and "make install" below another prefix, which must hold the same."""

import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

BINARY_DIR = Path(os.environ["KV_BINARY_DIR"])
SOURCE_DIR = Path(os.environ["KV_SOURCE_DIR"])
VERSION = os.environ["KV_VERSION"]
BUILD_NUMBER = os.environ["KV_BUILD_NUMBER"]
APP_ID = "example.kelmora.KVPortal"

# Every file of an installation below its prefix, with its permissions.
LAYOUT = {
    "bin/kvportal": 0o755,
    "lib/kvportal/app_launcher": 0o755,
    "lib/kvportal/libkvdns_sd.so": 0o644,
    "share/applications/%s.desktop" % APP_ID: 0o644,
    "share/metainfo/%s.metainfo.xml" % APP_ID: 0o644,
    "share/man/man1/kvportal.1.gz": 0o644,
    "share/doc/kvportal/copyright": 0o644,
    "share/doc/kvportal/changelog.gz": 0o644,
}
LAYOUT.update({"share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP_ID): 0o644
               for size in (16, 22, 24, 32, 48, 64, 128, 256)})


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def accepted_lintian_warnings():
    """The tags the README's list of accepted lintian warnings names."""
    readme = (SOURCE_DIR / "README.md").read_text()
    section = readme.split("### Accepted lintian warnings", 1)[1].split("\n#", 1)[0]
    return set(re.findall(r"^\| `([a-z0-9-]+)` \|", section, re.MULTILINE))


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="kvpackage-")
        scratch = Path(cls.scratch.name)
        made = run(os.environ["KV_CPACK"], "-G", "DEB", "-B", str(scratch / "out"),
                   cwd=BINARY_DIR)
        if made.returncode != 0:
            raise AssertionError("cpack failed:\n" + made.stdout + made.stderr)
        (cls.deb,) = (scratch / "out").glob("*.deb")
        cls.unpacked = scratch / "unpacked"
        subprocess.run(["dpkg-deb", "-x", str(cls.deb), str(cls.unpacked)], check=True)
        # make install's step, below a prefix of its own and inside DESTDIR.
        cls.installed = scratch / "destdir"
        subprocess.run([os.environ["KV_CMAKE"], "--install", str(BINARY_DIR),
                        "--prefix", "/opt/kvportal"], check=True, capture_output=True,
                       env=dict(os.environ, DESTDIR=str(cls.installed)))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_package_and_make_install_lay_out_the_same_files(self):
        listing = run("dpkg-deb", "-c", str(self.deb)).stdout.splitlines()
        files = {}
        for line in listing:
            mode, owner, _, _, _, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", path)
            if mode.startswith("-"):
                self.assertTrue(path.startswith("./usr/"), path)
                files[path[len("./usr/"):]] = mode
        self.assertEqual(files, {path: "-" + stat_text(mode) for path, mode in LAYOUT.items()})
        prefix = self.installed / "opt/kvportal"
        installed = {str(path.relative_to(prefix)): path.stat().st_mode & 0o777
                     for path in prefix.rglob("*") if path.is_file()}
        self.assertEqual(installed, LAYOUT)

    def test_control_fields(self):
        for field, value in [("Package", "kvportal"),
                             ("Version", "%s+b%s" % (VERSION, BUILD_NUMBER)),
                             ("Architecture", run("dpkg", "--print-architecture").stdout.strip()),
                             ("Recommends", "avahi-daemon")]:
            with self.subTest(field=field):
                self.assertEqual(run("dpkg-deb", "-f", str(self.deb), field).stdout.strip(), value)
        depends = run("dpkg-deb", "-f", str(self.deb), "Depends").stdout
        # Computed from the shared libraries the program and its provider link.
        for library in ("libc6", "libcurl4", "libdbus-1-3", "libqt5widgets5", "libqt5dbus5"):
            with self.subTest(depends=library):
                self.assertRegex(depends, r"(^|, )%s( \(|,|$)" % re.escape(library))

    def test_program_tells_its_version_and_finds_its_own_provider_without_a_display(self):
        environment = {name: value for name, value in os.environ.items()
                       if name not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                       "KVPORTAL_DNSSD_LIBRARY")}
        for prefix in (self.unpacked / "usr", self.installed / "opt/kvportal"):
            with self.subTest(prefix=str(prefix)):
                answer = run(str(prefix / "bin/kvportal"), "--version", env=environment,
                             timeout=60)
                self.assertEqual(answer.returncode, 0, answer.stderr)
                self.assertEqual(answer.stdout, "KVPortal %s b%s\nDNS-SD provider: %s\n" % (
                    VERSION, BUILD_NUMBER, prefix / "lib/kvportal/libkvdns_sd.so"))

    def test_desktop_entry_and_metainfo_validate_and_name_this_version(self):
        share = self.unpacked / "usr/share"
        desktop = run("desktop-file-validate", str(share / "applications" / (APP_ID + ".desktop")))
        self.assertEqual((desktop.returncode, desktop.stdout), (0, ""), desktop.stderr)
        metainfo = share / "metainfo" / (APP_ID + ".metainfo.xml")
        result = run("appstreamcli", "validate", "--no-net", str(metainfo))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        newest = ElementTree.parse(metainfo).find("releases/release").get("version")
        self.assertEqual(newest, VERSION)

    def test_lintian_finds_no_error_and_no_warning_beyond_the_accepted_ones(self):
        result = run("lintian", "--no-tag-display-limit", str(self.deb))
        reported = re.findall(r"^([EW]): kvportal: ([a-z0-9-]+)", result.stdout, re.MULTILINE)
        self.assertEqual([tag for kind, tag in reported if kind == "E"], [], result.stdout)
        warnings = {tag for kind, tag in reported if kind == "W"}
        self.assertLessEqual(warnings, accepted_lintian_warnings(), result.stdout)


def stat_text(mode):
    """Permissions as ls shows them: 0o755 is rwxr-xr-x."""
    return "".join(letter if mode & (1 << (8 - i)) else "-"
                   for i, letter in enumerate("rwxrwxrwx"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
