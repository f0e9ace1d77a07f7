"""`--list` as a studio's administrator runs it over SSH: no display, no terminal, the answer
on the standard output alone."""

import json
import subprocess

import lab_main
from portal import Portal, program_path, version_text
from studio_case import StudioCase

# Bounds the program's own wait; the studio settles long before.
WAIT_S = 60


def list_products(portal):
    environment = portal.environment()
    del environment["QT_QPA_PLATFORM"]
    answer = subprocess.run([program_path(), "--list", "--json", "--wait", str(WAIT_S)],
                            env=environment, stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, timeout=WAIT_S * 2)
    try:
        return answer.returncode, json.loads(answer.stdout), answer.stderr
    except ValueError:
        raise AssertionError("not one JSON array (exit %d):\n%s\n%s" % (
            answer.returncode, answer.stdout, answer.stderr[-3000:]))


class ListWithoutADisplay(StudioCase):
    def test_lists_every_product_of_the_studio_once_evaluated(self):
        studio = self.start_studio()
        description = studio.description
        code, products, said = list_products(self.portal(studio))
        self.assertEqual(code, 0, said)

        devices = [d for d in description.devices if not d.ignored]
        expected = {d.name: (d.code, version_text(d.version), self.released(studio, d.code))
                    for d in devices}
        for product in description.companions + description.applications:
            expected[product["name"]] = (product["code"], self.installed(product["code"]),
                                         self.released(studio, product["code"]))
        self.assertEqual({p["name"]: (p["code"], p["installed"], p["released"])
                          for p in products}, expected)
        listed = {p["name"]: p for p in products}
        for device in devices:
            self.assertEqual((listed[device.name]["address"], listed[device.name]["status_text"]),
                             (studio.address(device.name), device.expect["status"]), device.name)

    def test_ends_with_2_when_the_catalogue_cannot_be_read(self):
        portal = Portal(self.work, "http://127.0.0.1:1/dozoPublishConf.json")
        self.addCleanup(portal.stop)
        code, products, said = list_products(portal)
        self.assertEqual(code, 2, said)
        self.assertTrue(all(p["released"] is None for p in products), products)


if __name__ == "__main__":
    lab_main.main()
