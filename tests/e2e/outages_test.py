"""What the program rides out: avahi-daemon restarting, and a download killed with the program
or cut by the server."""

import os

from portal import read, version_text, wait_until
from studio_case import StudioCase, last_run, last_statuses, main, studio_lab


class Outages(StudioCase):
    def test_avahi_restarting_under_the_program_with_either_provider(self):
        """A device announced again stays listed once, one that is not goes, one announced
        afterwards comes; the log tells of the outage once, with the provider's code."""
        kept, gone, newcomer = "Vesk Edit 1", "Voraveri Booth", "Pelra Live"
        studio = self.start_studio([kept, gone, newcomer], announced=[kept, gone])
        for outage_code, library in ((-65563, None), (-65537, "libdns_sd.so.1")):
            with self.subTest(library):
                portal = self.portal(studio, str(library), dnssd_library=library)
                process = portal.start()
                portal.wait_status(lambda products: kept in products and gone in products,
                                   "both devices listed", running=process)
                studio_lab.restart_avahi(studio.lab)
                # The announcers lost their announcements with the daemon.
                studio.withdraw(gone)
                studio.announce(kept)
                studio.announce(newcomer)
                portal.wait_status(lambda products: newcomer in products and kept in products
                                   and gone not in products, "the newcomer in, the gone out",
                                   running=process)
                log = portal.log()
                self.assertEqual([line for line in log if ", %s, " % kept in line], [
                    "Product added: (%s, %s, %s, %s)" % (
                        studio.description.device(kept).code, kept, studio.address(kept),
                        version_text(studio.description.device(kept).version))])
                outage = [line for line in log if "DNS-SD browsing stopped" in line
                          or "errorCode" in line]
                self.assertEqual(len(outage), 1, outage)
                self.assertIn("zeroconf_category: DNS-SD browsing stopped (%d)" % outage_code,
                              outage[0])
                portal.stop()
            # What the first run saw go, the second sees come.
            gone, newcomer = newcomer, gone

    def test_a_killed_download_starts_afresh_and_a_cut_one_is_resumed(self):
        name = "RX 48 Büro"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        release = studio.description.release(device.code)
        installed, released = version_text(device.version), version_text(release["IV"])
        package = read(studio.catalogue.package_path(release["IF"]))
        half, path = len(package) // 2, "/packages/" + release["IF"]
        # The server sends the headers and half the package, then nothing more.
        studio.catalogue.publish(behaviours={release["IF"]: {"stall": "body"}})
        portal = self.portal(studio)

        def files():
            return sorted(os.listdir(portal.firmware_dir)) if os.path.isdir(
                portal.firmware_dir) else []

        def unfinished():
            """The files that hold some of the package's first bytes (an empty one holds none)."""
            return [f for f in files() if package[:half].startswith(
                read(os.path.join(portal.firmware_dir, f)) or b"empty")]

        first = portal.start("--firmware_download_update", name)
        wait_until(lambda: [r["sent"] for r in studio.release_server.requests(path)] == [half],
                   "the server has sent half the package", abort=portal.crashed)
        partial = wait_until(unfinished, "part of the package on disk", abort=portal.crashed)
        portal.kill(first)
        # Nothing counts as downloaded.
        self.assertEqual(files(), partial)
        self.assertNotEqual(partial, [release["IF"]])
        # The job had counted the device's firmware as none, so that the release is an update.
        self.assertEqual(portal.status()[name], ("None", released))
        self.assertEqual(last_statuses(last_run(portal.log()))[device.code, name], "Downloading")

        studio.catalogue.publish(behaviours={release["IF"]: {"close": "body"}})
        self.assertEqual(portal.run("--update-all")[:2], (1, "%s: failed: download: Transferred "
                                                          "a partial file (18)\n" % name))
        self.assertEqual(files(), [release["IF"] + ".partial", release["IF"] + ".partial.resume"])

        studio.catalogue.publish()
        self.assertEqual(portal.run("--update-all")[:2], (0, "%s: updated from %s to %s\n" % (
            name, installed, released)))
        changed = "Product Status Changed %s(%s):" % (device.code, name)
        run = last_run(portal.log())
        # The unfinished file is no package ready to install.
        self.assertNotIn(changed + "Ready To Update", run)
        self.assert_in_order(run, [
            changed + "Ready To Download", changed + "Downloading",
            "Download success for %s %s" % (device.code, name), changed + "Verifying file md5",
            changed + "Pending Update", changed + "Device Rebooting"])
        # The killed run's file was not resumed; the cut one was, from where it stopped.
        self.assertEqual([(r["range"], r["sent"]) for r in studio.release_server.requests(path)],
                         [(None, half), (None, half), ("bytes=%d-" % half, len(package) - half)])
        self.assertEqual(files(), [release["IF"]])
        self.assertTrue(studio.device(name).received_image() == package)


if __name__ == "__main__":
    main()
