"""500 devices announced at once: the program lists every one with its own address and
firmware version, keeps its window responsive meanwhile, and, when they are withdrawn together,
removes every one from its list and from the status file. The devices do not answer HTTP: each
has an address of its own inside the lab, where a connection is refused at once. The program
lives within a desktop's limits: the system bus's connections per user (netlab's bus) and 1024
open files."""

import dataclasses
import os
import sys
import time

import lab_main
from display import Display
from kvstudio import lab as studio_lab
from kvstudio.announcement import announcement
from portal import version_text
from studio_case import StudioCase

DEVICES = 500
# (name, TXT vendor, TXT product, product code, firmware generation of the current release)
FAMILIES = [
    ("Korvex", "Kelmora Technologies", "KELMORA+KORVEX", "KORVEX-FIRMWARE", 2),
    ("Voraveri", "Kelmora Technologies", "VESK_MkII", "VORAVERI-FIRMWARE", 1),
    ("Vesk III", "Kelmora Technologies", "VESK-III", "VESK-III-FIRMWARE", 3),
    ("Vesk", "Kelmora Technologies", "Vesk", "VESK-FIRMWARE", 1),
    ("Pelra", "Kelmora Technologies", "Pelra", "PELRA-FIRMWARE", 1),
    ("RX 48", "Trennel", "RX 48", "RX48-FIRMWARE", 1),
]
SUBTYPES = ["_ravenna", "_kelmora_dante_zman", "_kelmora_maintenance"]
COMPANIONS = {"KORVEX-FIRMWARE": "Korvex Remote Controllers", "RX48-FIRMWARE": "RX48 Toolkit"}
ADDRESSES_PER_BLOCK = 250
DESKTOP_OPEN_FILES = 1024
# Ten times what the plain build takes: room for a sanitized one, none for a hang.
DISCOVERY_DEADLINE_S = 120
# The running program answers a second start within a second while its interface thread is free;
# a sanitized build is several times slower at everything the burst gives that thread to do.
RAISE_DEADLINE_S = 10 * int(os.environ.get("KV_SANITIZE_TIME_FACTOR", "1"))
RAISES = 3


@dataclasses.dataclass
class Device:
    name: str
    host: str
    subtype: str
    ip: str
    vendor: str
    product: str
    code: str
    version: str
    generation: int

    def txt(self):
        return ["vendor=" + self.vendor, "product=" + self.product, "version=" + self.version,
                "firmware_generation=%d" % self.generation]


def mass_devices(lab):
    """Distinct names, host names, addresses and versions, the families and subtypes mixed.
    The lab's own /24 is too small: the addresses fill two more of the namespace."""
    lab_number = lab["subnet"].split(".")[2]
    devices = []
    for number in range(DEVICES):
        family, vendor, product, code, generation = FAMILIES[number % len(FAMILIES)]
        block, host = divmod(number, ADDRESSES_PER_BLOCK)
        devices.append(Device(
            name="%s Stage %03d" % (family, number), host="mass-%03d" % number,
            subtype=SUBTYPES[number % len(SUBTYPES)],
            ip="10.%d.%s.%d" % (78 + block, lab_number, host + 1), vendor=vendor,
            product=product, code=code,
            version="3.%d.%db%d" % (number // 100, number % 100, number + 1),
            generation=generation))
    return devices


class MassAnnouncement(StudioCase):
    def test_lists_all_500_with_address_and_version_then_removes_all_500(self):
        studio = self.start_studio([])
        lab = studio.lab
        devices = mass_devices(lab)
        # On the far end of the wire: avahi announces them as other hosts' addresses.
        studio_lab.add_addresses(lab, [d.ip for d in devices], peer=True)
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name, open_files=DESKTOP_OPEN_FILES)
        process = portal.start()
        display.wait_window("KVPortal", abort=portal.crashed)

        applications = {a["name"]: (self.installed(a["code"]), self.released(studio, a["code"]))
                        for a in studio.description.applications}
        portal.wait_status(lambda products: products == applications,
                           "the program lists its applications before any device appears",
                           running=process)

        started = time.monotonic()
        handle = studio_lab.publish_static(
            lab, [item for d in devices for item in announcement(d, d.ip, d.txt())])
        announced_s = time.monotonic() - started
        raises_s = [self.raise_by_second_start(display, portal) for _ in range(RAISES)]

        companions = {c["name"]: c["code"] for c in studio.description.companions}
        remaining = dict(applications)
        for device in devices:
            companion = COMPANIONS.get(device.code)
            if companion:
                remaining[companion] = ("None", self.released(studio, companions[companion]))
        expected = dict(remaining)
        for device in devices:
            expected[device.name] = (version_text(device.version),
                                     self.released(studio, device.code))
        portal.wait_status(lambda products: products == expected,
                           "the status file lists all %d devices with their versions and "
                           "releases" % DEVICES, DISCOVERY_DEADLINE_S, running=process)
        listed_s = time.monotonic() - started

        added = [line for line in portal.log() if line.startswith("Product added: ")]
        for device in devices:
            line = "Product added: (%s, %s, %s, %s)" % (device.code, device.name, device.ip,
                                                        version_text(device.version))
            self.assertEqual(added.count(line), 1, "%r appears once in the log" % line)

        started = time.monotonic()
        studio_lab.withdraw(lab, [handle])
        portal.wait_status(lambda products: products == remaining,
                           "the status file lists none of the withdrawn devices",
                           DISCOVERY_DEADLINE_S, running=process)
        removed_s = time.monotonic() - started
        removed = [line for line in portal.log() if line.startswith("Product removed: ")]
        self.assertEqual(sorted(removed), sorted("Product removed: (%s)" % d.name
                                                 for d in devices))
        self.assertIsNone(process.poll(), "kvportal runs on")
        print("\n%d devices: announced in %.1f s; a second start raised the window in %s s; "
              "all listed %.1f s and all removed %.1f s after their announcement and withdrawal "
              "began" % (DEVICES, announced_s, ", ".join("%.1f" % s for s in raises_s), listed_s,
                         removed_s), file=sys.stderr)

    def raise_by_second_start(self, display, portal):
        """Covers the program's window, starts the program again, and returns how long the
        running one took to come to the front: its interface thread answers the request."""
        cover = display.cover("KVPortal", abort=portal.crashed)
        try:
            started = time.monotonic()
            second = portal.start()
            display.wait_on_top("KVPortal", "cover", RAISE_DEADLINE_S, abort=portal.crashed)
            raised_s = time.monotonic() - started
            self.assertEqual(portal.wait_exit(second, 60), 0)
            return raised_s
        finally:
            cover.terminate()
            cover.wait()


if __name__ == "__main__":
    lab_main.main()
