"""The program is killed mid-download and started again: the killed run leaves no package, its
unfinished file is not taken for one, and the next run downloads the package again from its
first byte, verifies it and installs it."""

import hashlib
import os

import lab_main
from portal import version_text
from studio_case import StudioCase, last_statuses
from waiting import wait_until

SEPARATOR = "-" * 58
# The server sends the headers and half the package, then nothing more.
STALLING = {"stall": "body"}


def read(path):
    with open(path, "rb") as source:
        return source.read()


def last_run(log):
    """The log lines of the latest start."""
    return log[len(log) - log[::-1].index(SEPARATOR):]


class KilledDownload(StudioCase):
    def test_a_run_killed_mid_download_leaves_no_package_and_the_next_run_downloads_afresh(self):
        name = "RX 48 Büro"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        installed, released = version_text(device.version), version_text(release["IV"])
        self.assertNotEqual(installed, released, "the device starts out of date")
        package = read(studio.catalogue.package_path(release["IF"]))
        half = len(package) // 2
        path = "/packages/" + release["IF"]
        studio.catalogue.publish(behaviours={release["IF"]: STALLING})
        portal = self.portal(studio)
        downloaded = os.path.join(portal.firmware_dir, release["IF"])
        status_changed = "Product Status Changed %s(%s):" % (device.code, name)

        def files():
            return sorted(os.listdir(portal.firmware_dir))

        def unfinished():
            """The file that holds the first bytes of the package, once there is one."""
            if not os.path.isdir(portal.firmware_dir):
                return None
            for file_name in files():
                content = read(os.path.join(portal.firmware_dir, file_name))
                if content and package[:half].startswith(content):
                    return file_name
            return None

        first = portal.start("--firmware_download_update", name)
        portal.wait_log("Downloading %s..." % studio.catalogue.entry(release, STALLING)["LK"],
                        running=first)
        portal.wait_log(status_changed + "Downloading", running=first)
        wait_until(lambda: [r["sent"] for r in studio.release_server.requests(path)] == [half],
                   "the server has sent half the package", explain=portal.log_tail,
                   abort=portal.crashed)
        partial = wait_until(unfinished, "part of the package on disk",
                             explain=lambda: "Firmware folder: %s" % files(),
                             abort=portal.crashed)
        portal.kill(first)

        # Nothing counts as downloaded: no file under the package's name, only the first bytes
        # of it under another. The status file is whole; the job had counted the device's
        # firmware as none, so that the release counts as an update.
        self.assertEqual(files(), [partial])
        self.assertNotEqual(partial, release["IF"])
        self.assertTrue(package.startswith(read(os.path.join(portal.firmware_dir, partial))))
        self.assertEqual(portal.status()[name], ("None", released))
        killed_run = last_run(portal.log())
        self.assertNotIn("Download success for %s %s" % (device.code, name), killed_run)
        self.assertEqual(last_statuses(killed_run)[device.code, name], "Downloading")

        studio.catalogue.publish()
        second = portal.start("--firmware_download_update", name)
        self.assertEqual(portal.wait_exit(second, 180), 0)

        run = last_run(portal.log())
        self.assert_in_order(run, [
            "Product added: (%s, %s, %s, %s)" % (device.code, name, studio.address(name),
                                                  installed),
            # The unfinished file is no package ready to install.
            status_changed + "Ready To Download",
            "Downloading %s..." % studio.catalogue.entry(release)["LK"],
            status_changed + "Downloading",
            "Download success for %s %s" % (device.code, name),
            status_changed + "Verifying file md5",
            status_changed + "Pending Update",
            "Updating firmware %s(%s):%s" % (device.code, name, downloaded),
            status_changed + "Device Rebooting",
            # Back from its reboot, the device is seen through its status service or again
            # through discovery, whichever comes first.
            status_changed + "Update To Date",
        ])
        self.assertNotIn(status_changed + "Ready To Update", run)
        self.assertEqual([line for line in run if line.startswith(status_changed + "Download ")],
                         [])
        self.assertEqual(portal.status()[name], (released, released))

        # Downloaded again from the first byte: no resumption of the unfinished file.
        requests = studio.release_server.requests(path)
        self.assertEqual([(r["method"], r["range"]) for r in requests], [("GET", None)] * 2)
        self.assertEqual([r["sent"] for r in requests], [half, len(package)])
        # Only the package is left, and it is the release: published digest, same bytes, and
        # what the device received.
        self.assertEqual(files(), [release["IF"]])
        self.assertEqual(hashlib.md5(read(downloaded)).hexdigest(),
                         studio.catalogue.md5[release["IF"]])
        self.assertTrue(read(downloaded) == package, "the package differs from the release")
        self.assertTrue(studio.device(name).received_image() == package,
                        "the device received something else than the release")
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["reboot_commands"]), (1, 1))


if __name__ == "__main__":
    lab_main.main()
