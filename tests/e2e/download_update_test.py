"""--firmware_download_update NAME: the released package is downloaded afresh, verified,
uploaded and installed even on an up-to-date device, and the program ends by itself once the
device is back from its reboot."""

import os

import lab_main
from portal import version_text
from studio_case import StudioCase


def read(path):
    with open(path, "rb") as source:
        return source.read()


class FirmwareDownloadUpdate(StudioCase):
    def test_installs_the_release_on_an_up_to_date_device_and_exits_when_it_is_back(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        self.assertEqual(device.version, release["IV"], "the device starts up to date")
        package = studio.catalogue.package_path(release["IF"])
        link = studio.catalogue.entry(release)["LK"]
        portal = self.portal(studio)

        process = portal.start("--firmware_download_update", name)
        self.assertEqual(portal.wait_exit(process, 180), 0)

        downloaded = os.path.join(portal.firmware_dir, release["IF"])
        version = version_text(release["IV"])
        self.assert_in_order(portal.log(), [
            "Product added: (%s, %s, %s, %s)" % (device.code, name, studio.address(name),
                                                  version),
            "Downloading %s..." % link,
            "Download success for %s %s" % (device.code, name),
            "Updating firmware %s(%s):%s" % (device.code, name, downloaded),
            "Product Status Changed %s(%s):Device Rebooting" % (device.code, name),
            # Back from its reboot, the device is seen through its status service or again
            # through discovery, whichever comes first.
            "Product Status Changed %s(%s):Update To Date" % (device.code, name),
        ])
        self.assertEqual(studio.release_server.requests_for("/packages/" + release["IF"]), 1)
        self.assertEqual(read(downloaded), read(package))
        self.assertEqual(studio.device(name).received_image(), read(package))
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["reboot_commands"]), (1, 1))


if __name__ == "__main__":
    lab_main.main()
