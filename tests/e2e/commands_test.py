"""The firmware commands of the real program in the studio: --firmware_download_update and
--firmware_update NAME FILE end the program once the device is back; --update-all, as an
administrator runs it over SSH, writes one line per device and records every attempt."""

import json
import os

from portal import read, version_text
from studio_case import StudioCase, last_run, main, studio_description, write_firmware_image


def history(portal):
    with open(os.path.join(portal.kv_dir, "history.jsonl"), encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


def serve(studio, document):
    """Replaces the publish file the release server hands out."""
    with open(os.path.join(studio.catalogue.root, "dozoPublishConf.json"), "w",
              encoding="utf-8") as out:
        json.dump(document, out)


class Commands(StudioCase):
    def test_download_update_without_a_release_with_a_hostile_one_and_with_the_real_one(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        self.assertEqual(device.version, release["IV"], "the device starts up to date")
        portal = self.portal(studio)
        document = studio.catalogue.document()
        serve(studio, dict(document, products=[e for e in document["products"]
                                               if e["ID"] != device.code]))
        self.assertEqual(portal.wait_exit(portal.start("--firmware_download_update", name)), 0)
        self.assertIn("--firmware_download_update failed: No cloud information", portal.log())

        # From <home>/Downloads/KV/Firmware, three folders up is the home folder.
        hostile = next(e for e in document["products"] if e["ID"] == device.code)
        hostile["IF"] = "../../../.bashrc"
        serve(studio, document)
        bashrc = os.path.join(portal.home, ".bashrc")
        with open(bashrc, "w", encoding="utf-8") as out:
            out.write("# the user's own\n")
        refused = portal.start("--firmware_download_update", name)
        portal.wait_log('Download refused %s(%s) %s from %s: unsafe file name "%s"' % (
            device.code, name, version_text(hostile["IV"]), hostile["LK"], hostile["IF"]),
            running=refused)
        portal.kill(refused)
        self.assertEqual(read(bashrc), b"# the user's own\n")
        self.assertEqual(studio.release_server.requests_for("/packages/" + hostile["IF"]), 0)

        studio.catalogue.publish()
        # The package is fetched afresh even when a good copy is there already.
        package = read(studio.catalogue.package_path(release["IF"]))
        downloaded = os.path.join(portal.firmware_dir, release["IF"])
        os.makedirs(portal.firmware_dir, exist_ok=True)
        with open(downloaded, "wb") as copy:
            copy.write(package)
        process = portal.start("--firmware_download_update", name)
        self.assertEqual(portal.wait_exit(process, 180), 0)
        self.assert_in_order(last_run(portal.log()), [
            "Product added: (%s, %s, %s, %s)" % (device.code, name, studio.address(name),
                                                  version_text(release["IV"])),
            "Downloading %s..." % studio.catalogue.entry(release)["LK"],
            "Download success for %s %s" % (device.code, name),
            "Updating firmware %s(%s):%s" % (device.code, name, downloaded),
            "Product Status Changed %s(%s):Device Rebooting" % (device.code, name),
            # Back from its reboot, the device is seen through its status service or again
            # through discovery, whichever comes first.
            "Product Status Changed %s(%s):Update To Date" % (device.code, name),
        ])
        self.assertEqual(studio.release_server.requests_for("/packages/" + release["IF"]), 1)
        self.assertEqual(read(downloaded), package)
        self.assertEqual(studio.device(name).received_image(), package)
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["reboot_commands"]), (1, 1))

    def test_firmware_update_retries_failed_uploads_and_shows_the_file_as_the_release(self):
        name = "Voraveri Booth"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        studio.device(name).configure(fail_uploads=2)
        portal = self.portal(studio)
        os.makedirs(portal.firmware_dir)
        package = os.path.join(portal.firmware_dir, "fw.bin")
        write_firmware_image(package, "1.9.0b1", 65536)
        # The device stays away after its reboot until the test has looked at the run.
        studio.hold_reboot(name)

        process = portal.start("--firmware_update", name, "fw.bin")
        installed = version_text(device.version)
        portal.wait_status(lambda products: products.get(name) == (installed, "999.999.999 b999"),
                           "the file shown as the device's release", running=process)
        changed = "Product Status Changed %s(%s):" % (device.code, name)
        portal.wait_log(changed + "Device Rebooting", running=process)
        portal.wait_log("Product removed: (%s)" % name, running=process)
        self.assertIsNone(process.poll(), "kvportal waits for the device to come back")
        self.assertEqual(studio.device(name).received_image(), read(package))

        studio.release_reboot(name)
        self.assertEqual(portal.wait_exit(process), 0)
        updating = "Updating firmware %s(%s):%s" % (device.code, name, package)
        retrying = changed + "Firmware Update Error (-1). Retrying..."
        log = portal.log()
        self.assertEqual(log.count(updating), 3)
        # A sync may settle the returning device before its addition reaches the log.
        self.assert_in_order(log, [updating, retrying, updating, retrying, updating,
                                   changed + "Device Rebooting", changed + "Update To Date"])
        self.assert_in_order(log, [updating, "Product added: (%s, %s, %s, 1.9.0 b1)" % (
            device.code, name, studio.address(name))])
        self.assertEqual(portal.status()[name], ("1.9.0 b1", self.released(studio, device.code)))
        self.assertEqual([{key: entry[key] for key in (
            "product", "code", "address", "from_version", "to_version", "result", "error_code")}
            for entry in history(portal)], [{
                "product": name, "code": device.code, "address": studio.address(name),
                # The file stands in as this release until the device returns.
                "from_version": installed, "to_version": "999.999.999 b999",
                "result": "succeeded", "error_code": 0}])
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["uploads_failed"],
                          counters["reboot_commands"]), (3, 2, 1))

    def test_update_all_updates_each_device_in_turn_and_reports_those_that_failed(self):
        failing, old_again, updated, not_updatable = (
            "RX 48 Büro", "Vesk III Control Room", "Voraveri Booth", "Vesk Edit 1")
        description = studio_description.load().only([failing, old_again, updated,
                                                       not_updatable])
        description.device(updated).version = "1.8.0b1"
        studio = self.start_studio(description=description)
        portal = self.portal(studio)
        devices = {name: description.device(name) for name in (failing, old_again, updated)}
        versions = {name: (version_text(device.version), self.released(studio, device.code))
                    for name, device in devices.items()}

        def update_all(*options):
            code, said, errors = portal.run("--update-all", "--wait", "60", *options)
            return code, dict(line.split(": ", 1) for line in said.splitlines()), errors

        code, lines, said = update_all("--dry-run")
        self.assertEqual(code, 0, said)
        expected = {name: "would update from %s to %s" % versions[name] for name in devices}
        expected[not_updatable] = "skipped: this program does not update it"
        self.assertEqual(lines, expected, said)
        self.assertEqual([studio.device(name).state()["counters"]["uploads_started"]
                          for name in devices], [0, 0, 0])

        studio.device(failing).configure(fail_uploads=3)
        studio.device(old_again).configure(reject_images=1)
        code, lines, said = update_all()
        self.assertEqual(code, 1, said)
        self.assertEqual(lines, {
            failing: "failed: the device reported that its update failed (-1)",
            old_again: "failed: the update did not take effect, the device still runs its old "
                       "version (-3)",
            updated: "updated from %s to %s" % versions[updated],
            not_updatable: "skipped: this program does not update it"}, said)
        self.assert_in_order(portal.log(), [
            "Update %s(%s) to %s did not take effect: the device still runs %s" % (
                (devices[old_again].code, old_again) + versions[old_again][::-1])])
        self.assertEqual(studio.device(updated).state()["version"], "1.8.4b220")
        self.assertEqual(sorted((e["product"], e["from_version"], e["to_version"], e["result"],
                                 e["error_code"]) for e in history(portal)),
                         sorted([(failing,) + versions[failing] + ("failed", -1),
                                 (old_again,) + versions[old_again] + ("failed", -3),
                                 (updated,) + versions[updated] + ("succeeded", 0)]))


if __name__ == "__main__":
    main()
