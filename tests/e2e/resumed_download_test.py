"""A package download cut off midway is continued by the next run from where it stopped: the
release server sees one range request, and the package verifies and is installed."""

import hashlib
import os

import lab_main
from portal import version_text
from studio_case import StudioCase
from update_all_test import update_all

# The server sends the headers and half the package, then closes the connection.
CUT = {"close": "body"}


class ResumedDownload(StudioCase):
    def test_a_cut_download_is_continued_with_one_range_request_and_verifies(self):
        name = "RX 48 Büro"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        with open(studio.catalogue.package_path(release["IF"]), "rb") as source:
            package = source.read()
        half = len(package) // 2
        studio.catalogue.publish(behaviours={release["IF"]: CUT})
        portal = self.portal(studio)

        code, lines, said = update_all(portal)
        self.assertEqual((code, lines), (1, {name: "failed: download: %s (18)" % (
            "Transferred a partial file")}), said)
        self.assertEqual(sorted(os.listdir(portal.firmware_dir)),
                         [release["IF"] + ".partial", release["IF"] + ".partial.resume"])

        studio.catalogue.publish()
        code, lines, said = update_all(portal)
        self.assertEqual((code, lines), (0, {name: "updated from %s to %s" % (
            version_text(device.version), version_text(release["IV"]))}), said)

        requests = studio.release_server.requests("/packages/" + release["IF"])
        self.assertEqual([(r["range"], r["sent"]) for r in requests],
                         [(None, half), ("bytes=%d-" % half, len(package) - half)])
        downloaded = os.path.join(portal.firmware_dir, release["IF"])
        with open(downloaded, "rb") as source:
            self.assertEqual(hashlib.md5(source.read()).hexdigest(),
                             studio.catalogue.md5[release["IF"]])
        self.assertEqual(os.listdir(portal.firmware_dir), [release["IF"]])
        self.assertTrue(studio.device(name).received_image() == package,
                        "the device received something else than the release")


if __name__ == "__main__":
    lab_main.main()
