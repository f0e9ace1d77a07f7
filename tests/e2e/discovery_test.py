"""From DNS-SD announcements to the status file and to `--list` as an administrator runs it
over SSH: every device family, the companion applications, the Dante twins, and the services
the program must leave alone; and none of it
where the administrator disabled the program ("disable_this" = 1 in the machine-wide settings,
whatever the user's own settings say)."""

import lab_main
from avahi import browse
from portal import list_products, version_text
from studio_case import StudioCase


class DiscoveryToStatusFile(StudioCase):
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
        expected = {name: (installed, released)
                    for name, (_, installed, released) in listed.items()}
        portal.wait_status(lambda products: products == expected,
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
            self.assert_logged(log, "Product added: (%s, %s, %s, %s)" % (
                device.code, device.name, studio.address(device.name),
                version_text(device.version)))
            counters = studio.device(device.name).state()["counters"]
            self.assertGreaterEqual(counters["status_queries"], 1,
                                    "%s was asked for its serial" % device.name)
            self.assertEqual(counters["auth_failures"], 0, device.name)

        # The foreign services are really on the network, and the program left them alone.
        network = browse("_http._tcp")
        for device in ignored:
            self.assertIn(device.name, network)
            self.assertFalse([line for line in log if device.name in line],
                             "%s (%s) must not appear" % (device.name, device.expect["ignored"]))
            self.assertEqual(studio.device(device.name).state()["counters"]["status_queries"], 0)

        code, products, said = list_products(self.portal(studio, "list"))
        self.assertEqual(code, 0, said)
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


if __name__ == "__main__":
    lab_main.main()
