"""What the program rides out: the release server down (the local copy of the publish file
stands in, the window says so, "Retry" reaches the server again), avahi-daemon restarting, a
download killed with the program or cut by the server, and a device failing every upload."""

import hashlib
import json
import os

from display import Display
from portal import read, version_text, wait_until
from studio_case import StudioCase, last_run, last_statuses, main, studio_lab, write_firmware_image

MESSAGE_BACKGROUND = (255, 227, 191)


class Outages(StudioCase):
    def test_the_local_copy_stands_in_while_the_server_is_down_and_retry_reaches_it(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name)
        # An earlier run kept a copy of the catalogue that named another release.
        copy = [dict(r, IV="2.5.0b1") if r["ID"] == device.code else r
                for r in studio.description.releases]
        os.makedirs(portal.kv_dir)
        local_copy = os.path.join(portal.kv_dir, "dozoPublishConf.json")
        with open(local_copy, "w", encoding="utf-8") as out:
            json.dump(studio.catalogue.document(copy), out)
        studio.release_server.stop()

        process = portal.start()
        portal.wait_log("Failed(0)", running=process)
        portal.wait_log("Sync: Using local file %s" % local_copy, running=process)
        portal.wait_status(lambda products: products.get(name) == (
            version_text(device.version), "2.5.0 b1"), "the local copy's release", running=process)
        self.wait_statuses(portal, {(device.code, name): "Ready To Download"})
        # The error and the note about cached data make two lines: 42 pixels, not 28.
        box = wait_until(lambda: (lambda b: b if b and b[3] - b[1] >= 37 else None)(
            display.box_of(MESSAGE_BACKGROUND)), "a two-line message panel",
            explain=lambda: "Panel: %s" % (display.box_of(MESSAGE_BACKGROUND),),
            abort=portal.crashed)

        studio.release_server.start()
        querying = "Sync: Querying[%s] Kelmora Technologies server..." % (
            studio.description.publish_url)
        queried = portal.log().count(querying)
        # "Retry" ends the panel, 14 pixels from its right edge.
        display.click(box[2] - 22, (box[1] + box[3]) // 2)
        wait_until(lambda: portal.log().count(querying) > queried, "Retry queries the server",
                   explain=portal.log_tail, abort=portal.crashed)
        portal.wait_log("Success", running=process)
        portal.wait_status(lambda products: products.get(name) == (
            version_text(device.version), self.released(studio, device.code)),
            "the server's release", running=process)
        self.wait_statuses(portal, {(device.code, name): "Update To Date"})
        wait_until(lambda: display.box_of(MESSAGE_BACKGROUND) is None, "the panel hides",
                   abort=portal.crashed)
        with open(local_copy, encoding="utf-8") as saved:
            self.assertEqual(json.load(saved), studio.catalogue.document())

    def restart_avahi_under_the_program(self, outage_code, dnssd_library=None):
        """A device announced again stays listed once, one that is not goes, one announced
        afterwards comes, and the log tells of the outage once, with the code that tells which
        provider was loaded."""
        kept, gone, newcomer = "Vesk Edit 1", "Voraveri Booth", "Pelra Live"
        studio = self.start_studio([kept, gone, newcomer], announced=[kept, gone])
        portal = self.portal(studio, dnssd_library=dnssd_library)
        process = portal.start()
        portal.wait_status(lambda products: kept in products and gone in products,
                           "both devices listed", running=process)

        studio_lab.restart_avahi(studio.lab)
        # The announcers lost their announcements with the daemon: two announce again.
        studio.withdraw(gone)
        studio.announce(kept)
        studio.announce(newcomer)
        portal.wait_status(lambda products: newcomer in products and gone not in products,
                           "the newcomer listed and the device gone removed", running=process)
        self.assertIn(kept, portal.status())
        log = portal.log()
        self.assertEqual(1, len([line for line in log if line.startswith("Product added: (")
                                 and ", %s, " % kept in line]), "\n".join(log))
        self.assertNotIn("Product removed: (%s)" % kept, log)
        outage = [line for line in log if "DNS-SD browsing stopped" in line]
        self.assertEqual(len(outage), 1, "\n".join(log))
        self.assertIn("zeroconf_category: DNS-SD browsing stopped (%d)" % outage_code, outage[0])
        self.assertFalse([line for line in log if "errorCode" in line], "\n".join(log))

    def test_avahi_restarting_under_the_program_with_its_own_provider(self):
        self.restart_avahi_under_the_program(-65563)

    def test_avahi_restarting_under_the_program_with_avahis_compatibility_library(self):
        self.restart_avahi_under_the_program(-65537, "libdns_sd.so.1")

    def test_a_killed_download_starts_afresh_and_a_cut_one_is_resumed(self):
        name = "RX 48 Büro"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        installed, released = version_text(device.version), version_text(release["IV"])
        package = read(studio.catalogue.package_path(release["IF"]))
        half, path = len(package) // 2, "/packages/" + release["IF"]
        # The server sends the headers and half the package, then nothing more.
        stalling = {"stall": "body"}
        studio.catalogue.publish(behaviours={release["IF"]: stalling})
        portal = self.portal(studio)
        downloaded = os.path.join(portal.firmware_dir, release["IF"])
        status_changed = "Product Status Changed %s(%s):" % (device.code, name)

        def files():
            return sorted(os.listdir(portal.firmware_dir))

        def unfinished():
            """The file that holds the first bytes of the package, once there is one."""
            for file_name in files() if os.path.isdir(portal.firmware_dir) else []:
                content = read(os.path.join(portal.firmware_dir, file_name))
                if content and package[:half].startswith(content):
                    return file_name
            return None

        first = portal.start("--firmware_download_update", name)
        portal.wait_log("Downloading %s..." % studio.catalogue.entry(release, stalling)["LK"],
                        running=first)
        wait_until(lambda: [r["sent"] for r in studio.release_server.requests(path)] == [half],
                   "the server has sent half the package", abort=portal.crashed)
        partial = wait_until(unfinished, "part of the package on disk", abort=portal.crashed)
        portal.kill(first)
        # Nothing counts as downloaded. The status file is whole; the job had counted the
        # device's firmware as none, so that the release counts as an update.
        self.assertEqual(files(), [partial])
        self.assertNotEqual(partial, release["IF"])
        self.assertEqual(portal.status()[name], ("None", released))
        killed_run = last_run(portal.log())
        self.assertNotIn("Download success for %s %s" % (device.code, name), killed_run)
        self.assertEqual(last_statuses(killed_run)[device.code, name], "Downloading")

        # The server closes the connection after half the package.
        studio.catalogue.publish(behaviours={release["IF"]: {"close": "body"}})
        self.assertEqual(portal.run("--update-all")[:2], (1, "%s: failed: download: Transferred "
                                                          "a partial file (18)\n" % name))
        self.assertEqual(files(), [release["IF"] + ".partial", release["IF"] + ".partial.resume"])

        studio.catalogue.publish()
        self.assertEqual(portal.run("--update-all")[:2], (0, "%s: updated from %s to %s\n" % (
            name, installed, released)))
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
        ])
        self.assertNotIn(status_changed + "Ready To Update", run)
        self.assertEqual([line for line in run if line.startswith(status_changed + "Download ")],
                         [])
        # The killed run's file was not resumed; the cut one was, from where it stopped.
        self.assertEqual([(r["method"], r["range"], r["sent"])
                          for r in studio.release_server.requests(path)],
                         [("GET", None, half), ("GET", None, half),
                          ("GET", "bytes=%d-" % half, len(package) - half)])
        self.assertEqual(files(), [release["IF"]])
        self.assertEqual(hashlib.md5(read(downloaded)).hexdigest(),
                         studio.catalogue.md5[release["IF"]])
        self.assertTrue(studio.device(name).received_image() == package,
                        "the device received something else than the release")
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_received"], counters["reboot_commands"]), (1, 1))

    def test_a_device_failing_every_upload_shows_the_error_while_the_program_runs_on(self):
        """Three attempts in all; a device appearing meanwhile ends neither the job nor the
        program, which follows the network afterwards."""
        name, newcomer = "Vesk III Control Room", "Pelra Live"
        studio = self.start_studio([name, newcomer], announced=[name])
        code = studio.description.device(name).code
        studio.device(name).configure(fail_uploads=3)
        portal = self.portal(studio)
        os.makedirs(portal.firmware_dir)
        write_firmware_image(os.path.join(portal.firmware_dir, "fw.bin"), "3.2.0b1", 65536)
        process = portal.start("--firmware_update", name, "fw.bin")
        updating = "Updating firmware %s(%s):%s" % (code, name,
                                                     os.path.join(portal.firmware_dir, "fw.bin"))
        portal.wait_log(updating, running=process)
        studio.announce(newcomer)
        retrying = "Product Status Changed %s(%s):Firmware Update Error (-1). Retrying..." % (
            code, name)
        wait_until(lambda: portal.log().count(updating) == 3 and last_statuses(portal.log()).get(
            (code, name)) == "Firmware Update Error (-1)", "the error after the third attempt",
            explain=portal.log_tail, abort=portal.crashed)
        self.assert_in_order(portal.log(), [updating, retrying, updating, retrying, updating])
        portal.wait_status(lambda products: newcomer in products, "the newcomer listed",
                           running=process)
        studio.withdraw(newcomer)
        portal.wait_log("Product removed: (%s)" % newcomer, running=process)
        counters = studio.device(name).state()["counters"]
        self.assertEqual((counters["uploads_started"], counters["uploads_received"],
                          counters["uploads_failed"], counters["reboot_commands"]), (3, 3, 3, 0))
        self.assertEqual(last_statuses(portal.log())[code, name], "Firmware Update Error (-1)")


if __name__ == "__main__":
    main()
