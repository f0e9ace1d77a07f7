"""The studio itself, as any DNS-SD or HTTP client inside it sees it: announced devices with
their TXT entries and subtypes, devices and a release server answering, and a device that
leaves the network when it reboots and returns with the firmware it was given."""

import hashlib
import json
import os
import subprocess
import urllib.request

import lab_main
from avahi import browse
from kvstudio.catalogue import write_firmware_image
from kvstudio.child import Child
from studio_case import StudioCase

DEVICE_CREDENTIALS = "dvus:dvpw"
DEADLINE_S = 60
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def get(url):
    with _OPENER.open(url, timeout=DEADLINE_S) as reply:
        return reply.read()


class StudioItself(StudioCase):
    def test_devices_are_announced_and_answer_and_the_server_serves_the_catalogue(self):
        studio = self.start_studio()
        description = studio.description

        everything = browse("_http._tcp")
        self.assertEqual(set(everything), {d.name for d in description.devices})
        for device in description.devices:
            self.assertEqual(everything[device.name],
                             (studio.address(device.name), 80, set(device.txt())))
        for subtype in {d.subtype for d in description.devices}:
            self.assertEqual(set(browse("%s._sub._http._tcp" % subtype)),
                             {d.name for d in description.devices if d.subtype == subtype})

        device = description.devices[0]
        serial = subprocess.run(
            ["curl", "-sf", "-u", DEVICE_CREDENTIALS,
             "http://%s/API/get_device_status:$.identity.serial" % studio.address(device.name)],
            check=True, capture_output=True, text=True, timeout=DEADLINE_S).stdout
        self.assertEqual(json.loads(serial), {"error": "Success",
                                              "data": {"value": device.serial}})

        catalogue = json.loads(get(description.publish_url))
        codes = {entry["ID"] for entry in catalogue["products"]}
        self.assertEqual(len(codes), 15, "a release of every product code")
        for entry in catalogue["products"] + catalogue["firmware_generations"]:
            self.assertEqual(hashlib.md5(get(entry["LK"])).hexdigest(), entry["MD5"], entry["IF"])

    def test_a_rebooting_device_leaves_and_returns_with_its_new_firmware(self):
        name = "Voraveri Booth"
        studio = self.start_studio([name])
        address = studio.address(name)
        watcher = Child(["avahi-browse", "-rp", "_http._tcp"], name="avahi-browse")
        self.addCleanup(watcher.stop)
        watcher.wait_line(lambda line: line.startswith("=;") and "version=1.8.4b220" in line,
                          DEADLINE_S)
        image = os.path.join(self.work, "image.bin")
        write_firmware_image(image, "2.0.0b1", 8192, 2)
        studio.hold_reboot(name)
        # Nobody follows the update here: the device need not wait for a state query.
        studio.device(name).configure(hold_ms=0)

        subprocess.run(["curl", "-sf", "-F", "firmware.bin=@" + image,
                        "http://%s:8080/commands/upload" % address], check=True,
                       capture_output=True, timeout=DEADLINE_S)
        subprocess.run(["curl", "-sf", "-u", DEVICE_CREDENTIALS, "-X", "POST",
                        "http://%s:8080/commands/reboot" % address], check=True,
                       capture_output=True, timeout=DEADLINE_S)
        watcher.wait_line(lambda line: line.startswith("-;") and "Voraveri\\032Booth" in line,
                          DEADLINE_S)
        self.assertNotIn(name, browse("_http._tcp"), "held back while it reboots")

        studio.release_reboot(name)
        returned = watcher.wait_line(lambda line: line.startswith("=;") and
                                     "version=2.0.0b1" in line, DEADLINE_S)
        self.assertIn('"firmware_generation=2"', returned)
        with open(image, "rb") as sent:
            self.assertEqual(studio.device(name).received_image(), sent.read())


if __name__ == "__main__":
    lab_main.main()
