"""--firmware_update NAME FILE: a package already in the firmware folder is installed and shown
as release 999.999.999 b999 while the job runs; a missing one is reported with its full path."""

import json
import os

import lab_main
from kvstudio.catalogue import write_firmware_image
from portal import version_text
from studio_case import StudioCase

NEW_FIRMWARE = "1.9.0b1"


class FirmwareUpdateFromFile(StudioCase):
    name = "Voraveri Booth"

    def test_installs_the_file_shown_as_the_release_and_exits_when_the_device_is_back(self):
        studio = self.start_studio([self.name])
        device = studio.description.device(self.name)
        portal = self.portal(studio)
        os.makedirs(portal.firmware_dir)
        package = os.path.join(portal.firmware_dir, "fw.bin")
        write_firmware_image(package, NEW_FIRMWARE, 65536)
        # The device stays away after its reboot until the test has looked at the run.
        studio.hold_reboot(self.name)

        process = portal.start("--firmware_update", self.name, "fw.bin")
        portal.wait_status(
            lambda products: products.get(self.name) == (version_text(device.version),
                                                         "999.999.999 b999"),
            "status file shows the file as the device's release", running=process)
        portal.wait_log("Product Status Changed %s(%s):Device Rebooting"
                        % (device.code, self.name), running=process)
        portal.wait_log("Product removed: (%s)" % self.name, running=process)
        self.assertIsNone(process.poll(), "kvportal waits for the device to come back")
        with open(package, "rb") as sent:
            self.assertEqual(studio.device(self.name).received_image(), sent.read())

        studio.release_reboot(self.name)
        self.assertEqual(portal.wait_exit(process), 0)
        updating = "Updating firmware %s(%s):%s" % (device.code, self.name, package)
        # A sync may settle the returning device before its addition reaches the log.
        self.assert_in_order(portal.log(), [
            updating, "Product added: (%s, %s, %s, %s)" % (
                device.code, self.name, studio.address(self.name), version_text(NEW_FIRMWARE))])
        self.assert_in_order(portal.log(), [
            updating, "Product Status Changed %s(%s):Update To Date" % (device.code, self.name)])
        self.assertEqual(portal.status()[self.name],
                         (version_text(NEW_FIRMWARE), self.released(studio, device.code)))
        with open(os.path.join(portal.kv_dir, "history.jsonl"), encoding="utf-8") as history:
            entries = [json.loads(line) for line in history]
        self.assertEqual([{key: entry[key] for key in ("product", "code", "address",
                                                      "from_version", "to_version", "result",
                                                      "error_code")} for entry in entries],
                         [{"product": self.name, "code": device.code,
                           "address": studio.address(self.name),
                           "from_version": version_text(device.version),
                           # The file stands in as this release until the device returns.
                           "to_version": "999.999.999 b999", "result": "succeeded",
                           "error_code": 0}])

    def test_a_device_appearing_during_the_update_does_not_end_the_job(self):
        newcomer = "Pelra Live"
        studio = self.start_studio([self.name, newcomer], announced=[self.name])
        device = studio.description.device(self.name)
        # Slow phases keep the device busy while the newcomer is announced.
        studio.device(self.name).configure(phase_ms=3000)
        portal = self.portal(studio)
        os.makedirs(portal.firmware_dir)
        write_firmware_image(os.path.join(portal.firmware_dir, "fw.bin"), NEW_FIRMWARE, 65536)

        process = portal.start("--firmware_update", self.name, "fw.bin")
        portal.wait_log("Product Status Changed %s(%s):Firmware Updating"
                        % (device.code, self.name))
        studio.announce(newcomer)

        self.assertEqual(portal.wait_exit(process), 0)
        newcomer_code = studio.description.device(newcomer).code
        self.assert_in_order(portal.log(), [
            "Product Status Changed %s(%s):Firmware Updating" % (device.code, self.name),
            "Product added: (%s, %s, %s, %s)" % (
                newcomer_code, newcomer, studio.address(newcomer),
                version_text(studio.description.device(newcomer).version)),
            "Product Status Changed %s(%s):Device Rebooting" % (device.code, self.name),
            # Back from its reboot, the device is seen through its status service or again
            # through discovery, whichever comes first.
            "Product Status Changed %s(%s):Update To Date" % (device.code, self.name),
        ])

    def test_names_the_missing_file_with_its_full_path_and_exits(self):
        studio = self.start_studio([self.name])
        portal = self.portal(studio)

        process = portal.start("--firmware_update", self.name, "missing.bin")
        self.assertEqual(portal.wait_exit(process), 0)

        self.assert_logged(portal.log(), "--firmware_update failed: %s does not exist"
                           % os.path.join(portal.firmware_dir, "missing.bin"))
        self.assertEqual(studio.device(self.name).state()["counters"]["uploads_started"], 0)


if __name__ == "__main__":
    lab_main.main()
