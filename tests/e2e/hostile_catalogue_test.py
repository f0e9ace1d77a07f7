"""A release server that hands out a hostile publish file: nothing outside the program folder
changes, the local copy survives, and the devices on the network are still listed."""

import json
import os

import lab_main
from portal import version_text
from studio_case import StudioCase

PUBLISH_FILE = "dozoPublishConf.json"


def read(path):
    with open(path, "rb") as source:
        return source.read()


class HostileCatalogue(StudioCase):
    def serve(self, studio, document):
        """Replaces the publish file the release server hands out."""
        with open(os.path.join(studio.catalogue.root, PUBLISH_FILE), "w",
                  encoding="utf-8") as out:
            out.write(document if isinstance(document, str) else json.dumps(document))

    def test_a_package_name_leading_out_of_the_program_folder_deletes_nothing(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        document = studio.catalogue.document()
        entry = next(e for e in document["products"] if e["ID"] == device.code)
        # From <home>/Downloads/KV/Firmware, three folders up is the home folder.
        entry["IF"] = "../../../.bashrc"
        self.serve(studio, document)
        portal = self.portal(studio)
        bashrc = os.path.join(portal.home, ".bashrc")
        with open(bashrc, "w", encoding="utf-8") as out:
            out.write("# the user's own\n")

        process = portal.start("--firmware_download_update", name)
        portal.wait_log('Download refused %s(%s) %s from %s: unsafe file name "%s"' % (
            device.code, name, version_text(entry["IV"]), entry["LK"], entry["IF"]),
            running=process)

        self.assertEqual(read(bashrc), b"# the user's own\n")
        self.assertEqual(studio.release_server.requests_for("/packages/" + entry["IF"]), 0)

    def test_a_catalogue_nested_too_deep_is_refused_and_a_device_beside_it_is_listed(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        portal = self.portal(studio)
        # An earlier run kept a copy of the catalogue that named a newer release.
        older_release = "2.5.0b1"
        copy = [dict(r, IV=older_release) if r["ID"] == device.code else r
                for r in studio.description.releases]
        os.makedirs(portal.kv_dir)
        local_copy = os.path.join(portal.kv_dir, PUBLISH_FILE)
        with open(local_copy, "w", encoding="utf-8") as out:
            json.dump(studio.catalogue.document(copy), out)
        kept = read(local_copy)
        # Well-formed, with every release, and nested far deeper than any catalogue.
        self.serve(studio, json.dumps(studio.catalogue.document())[:-1] +
                   ', "deep": ' + "[" * 1000 + "]" * 1000 + "}")

        process = portal.start()
        portal.wait_log("Sync: Using local file %s" % local_copy, running=process)
        portal.wait_status(
            lambda products: products.get(name) == (version_text(device.version),
                                                    version_text(older_release)),
            "the device with the release of the local copy", running=process)
        self.assertEqual(read(local_copy), kept)


if __name__ == "__main__":
    lab_main.main()
