"""From DNS-SD announcements to the status file and to `--list`: every device family, the
companion applications, the Dante twins, and the services the program must leave alone; none of
it where the administrator disabled the program ("disable_this" = 1 in the machine-wide
settings). 500 devices at once, and a device that trickles its answers, leave the window
responsive."""

import dataclasses
import json
import os
import re
import subprocess

from display import Display
from portal import version_text, wait_until
from studio_case import StudioCase, announcement, main, studio_description, studio_lab

SOON_S = 20 * int(os.environ.get("KV_SANITIZE_TIME_FACTOR", "1"))


def announced_names():
    """The instance names another DNS-SD client in the studio sees (avahi-browse)."""
    listing = subprocess.run(["avahi-browse", "-pt", "_http._tcp"], check=True, text=True,
                             capture_output=True, timeout=60).stdout
    return {re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), line.split(";")[3])
            for line in listing.splitlines() if line.startswith("+;")}


class Discovery(StudioCase):
    def window(self, studio, display=None, **options):
        """A running window under a cover, once it is shown."""
        portal = self.portal(studio, display=display.name, **options)
        process = portal.start()
        display.wait_on_top("KVPortal", abort=portal.crashed)
        cover = display.cover("KVPortal", abort=portal.crashed)
        self.addCleanup(cover.wait)
        self.addCleanup(cover.terminate)
        return portal, process

    def raise_by_second_start(self, display, portal):
        """The running program's interface thread answers a second start by coming to the
        front, soon however busy discovery keeps the program."""
        self.assertEqual(portal.wait_exit(portal.start(), SOON_S), 0)
        display.wait_on_top("KVPortal", "cover", SOON_S, abort=portal.crashed)

    def display(self):
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        return display

    def test_lists_every_family_with_companions_and_twins_and_ignores_foreign_services(self):
        studio = self.start_studio()
        description = studio.description
        ignored = [d for d in description.devices if d.ignored]
        devices = [d for d in description.devices if not d.ignored]
        locked = self.portal(studio, "locked", user_settings={"disable_this": 0},
                             machine_settings={"disable_this": 1})
        locked_process = locked.start()
        locked.wait_log("Sync finished", running=locked_process)
        portal = self.portal(studio)
        process = portal.start()

        listed = {d.name: (d.code, version_text(d.version), self.released(studio, d.code))
                  for d in devices}
        for product in description.companions + description.applications:
            listed[product["name"]] = (product["code"], self.installed(product["code"]),
                                       self.released(studio, product["code"]))
        portal.wait_status(lambda products: products == {
            name: (installed, released) for name, (_, installed, released) in listed.items()},
            "status file lists exactly the devices, companions and applications",
            running=process)
        statuses = {}
        for device in devices:
            statuses[device.code, device.name] = device.expect["status"]
            if "twin_status" in device.expect:
                statuses[device.code + "-DANTE", "dante_" + device.name] = \
                    device.expect["twin_status"]
        self.wait_statuses(portal, statuses)

        log = portal.log()
        for device in devices:
            self.assert_in_order(log, ["Product added: (%s, %s, %s, %s)" % (
                device.code, device.name, studio.address(device.name),
                version_text(device.version))])
            counters = studio.device(device.name).state()["counters"]
            self.assertGreaterEqual(counters["status_queries"], 1, device.name)
            self.assertEqual(counters["auth_failures"], 0, device.name)
        # The foreign services are really on the network, and the program left them alone.
        network = announced_names()
        for device in ignored:
            self.assertIn(device.name, network)
            self.assertFalse([line for line in log if device.name in line], device.name)
            self.assertEqual(studio.device(device.name).state()["counters"]["status_queries"], 0)

        code, said, errors = self.portal(studio, "list").run("--list", "--json", "--wait", "60")
        self.assertEqual(code, 0, errors)
        products = json.loads(said)
        self.assertEqual({p["name"]: (p["code"], p["installed"], p["released"])
                          for p in products}, listed)
        by_name = {p["name"]: p for p in products}
        for device in devices:
            self.assertEqual((by_name[device.name]["address"], by_name[device.name]["status_text"]),
                             (studio.address(device.name), device.expect["status"]), device.name)

        # The locked run was there before all of that and took in nothing.
        self.assertIsNone(locked_process.poll())
        self.assertEqual([line for line in locked.log() if line.startswith("Product")], [])
        self.assertFalse(locked.status(), "no product in the status file")

    def test_500_devices_are_listed_and_removed_within_a_desktops_limits(self):
        """Each has an address of its own where a connection is refused at once. The program
        lives with the system bus's connections per user and 1024 open files."""
        studio = self.start_studio([])
        lab, description = studio.lab, studio.description
        families = [d for d in studio_description.load().devices if not d.ignored]
        devices = [dataclasses.replace(families[n % len(families)], name="Stage %03d" % n,
                                       host="mass-%03d" % n,
                                       version="3.%d.%db%d" % (n // 100, n % 100, n + 1))
                   for n in range(500)]
        # The lab's own /24 is too small: the addresses fill two more.
        ips = ["10.%d.%s.%d" % (78 + n // 250, lab["subnet"].split(".")[2], n % 250 + 1)
               for n in range(500)]
        # On the far end of the wire: avahi announces them as other hosts' addresses.
        studio_lab.add_addresses(lab, ips, peer=True)
        display = self.display()
        portal, process = self.window(studio, display, open_files=1024)
        remaining = {a["name"]: (self.installed(a["code"]), self.released(studio, a["code"]))
                     for a in description.applications}
        portal.wait_status(lambda products: products == remaining,
                           "the applications before any device appears", running=process)

        handle = studio_lab.publish_static(lab, [item for d, ip in zip(devices, ips)
                                                 for item in announcement(d, ip, d.txt())])
        withdrawn = []
        self.addCleanup(lambda: withdrawn or studio_lab.withdraw(lab, [handle]))
        self.raise_by_second_start(display, portal)
        remaining.update({c["name"]: ("None", self.released(studio, c["code"]))
                          for c in description.companions})
        expected = dict(remaining, **{d.name: (version_text(d.version),
                                               self.released(studio, d.code)) for d in devices})
        portal.wait_status(lambda products: products == expected, "all 500 devices listed", 120,
                           running=process)
        self.assertEqual(sorted(line for line in portal.log() if ", Stage " in line),
                         sorted("Product added: (%s, %s, %s, %s)" % (
                             d.code, d.name, ip, version_text(d.version))
                             for d, ip in zip(devices, ips)))

        studio_lab.withdraw(lab, [handle])
        withdrawn.append(handle)
        portal.wait_status(lambda products: products == remaining, "none of the withdrawn", 120,
                           running=process)
        self.assertEqual(sorted(line for line in portal.log() if "removed: (Stage " in line),
                         sorted("Product removed: (%s)" % d.name for d in devices))

    def test_another_device_is_listed_and_the_window_answers_while_one_trickles(self):
        """Each query of the slow device gives up after 3 s; without that bound its answers,
        too fast for a stall limit, would hold the product list for half a minute each."""
        slow, other = "Korvex Studio A", "Pelra Live"
        studio = self.start_studio([slow, other], announced=[])
        studio.device(slow).configure(status_service="trickle", trickle_bytes_per_s=2)
        display = self.display()
        portal, process = self.window(studio, display)
        studio.announce(slow)
        wait_until(lambda: studio.device(slow).state()["counters"]["status_queries"] >= 1,
                   "the program asks the slow device", abort=portal.crashed)
        self.raise_by_second_start(display, portal)
        studio.announce(other)
        for name in (other, slow):
            portal.wait_status(lambda products: name in products, name + " listed", SOON_S,
                               running=process)


if __name__ == "__main__":
    main()
