"""Firmware uploads that the device reports as failed are tried three times in all."""

import os

import lab_main
from kvstudio.catalogue import write_firmware_image
from portal import version_text
from studio_case import StudioCase, last_statuses
from waiting import wait_until

NEW_FIRMWARE = "3.2.0b1"


class UploadRetries(StudioCase):
    def start_update(self, studio, name, failures):
        studio.device(name).configure(fail_uploads=failures)
        portal = self.portal(studio)
        os.makedirs(portal.firmware_dir)
        write_firmware_image(os.path.join(portal.firmware_dir, "fw.bin"), NEW_FIRMWARE, 65536)
        return portal, portal.start("--firmware_update", name, "fw.bin")

    def test_a_device_failing_two_uploads_is_updated_by_the_third(self):
        name = "Voraveri Booth"
        studio = self.start_studio([name])
        code = studio.description.device(name).code
        portal, process = self.start_update(studio, name, 2)

        self.assertEqual(portal.wait_exit(process), 0)

        log = portal.log()
        updating = "Updating firmware %s(%s):%s" % (code, name,
                                                     os.path.join(portal.firmware_dir, "fw.bin"))
        retrying = "Product Status Changed %s(%s):Firmware Update Error (-1). Retrying..." % (
            code, name)
        self.assert_in_order(log, [updating, retrying, updating, retrying, updating,
                                   "Product Status Changed %s(%s):Device Rebooting" % (code, name),
                                   "Product Status Changed %s(%s):Update To Date" % (code, name)])
        self.assertEqual(log.count(updating), 3)
        self.assertEqual(portal.status()[name][0], version_text(NEW_FIRMWARE))
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["uploads_failed"],
                          counters["reboot_commands"]), (3, 2, 1))

    def test_a_device_failing_every_upload_shows_the_error_while_the_program_runs_on(self):
        name, bystander = "Vesk III Control Room", "Pelra Live"
        studio = self.start_studio([name, bystander])
        code = studio.description.device(name).code
        portal, process = self.start_update(studio, name, 3)

        updating = "Updating firmware %s(%s):%s" % (code, name,
                                                     os.path.join(portal.firmware_dir, "fw.bin"))

        def failed_after_third_attempt():
            log = portal.log()
            return (log.count(updating) == 3 and
                    last_statuses(log).get((code, name)) == "Firmware Update Error (-1)")

        wait_until(failed_after_third_attempt, "the error after the third attempt",
                   explain=portal.log_tail, abort=portal.crashed)
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["uploads_failed"],
                          counters["reboot_commands"]), (3, 3, 0))

        # Still running and following the network.
        studio.withdraw(bystander)
        portal.wait_log("Product removed: (%s)" % bystander, running=process)
        self.assertIsNone(process.poll())
        self.assertEqual(studio.device(name).state()["counters"]["uploads_started"], 3)
        self.assertEqual(last_statuses(portal.log())[code, name], "Firmware Update Error (-1)")


if __name__ == "__main__":
    lab_main.main()
