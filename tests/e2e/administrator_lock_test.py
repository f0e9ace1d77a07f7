""""disable_this" = 1 in the machine-wide settings: the program takes in no product at all, even
when the user's own settings say 0."""

import lab_main
from portal import version_text
from studio_case import StudioCase


class AdministratorLock(StudioCase):
    def test_machine_wide_disable_takes_in_no_product(self):
        names = ["Korvex Studio A", "Pelra Live"]
        studio = self.start_studio(names)
        locked = self.portal(studio, "locked", user_settings={"disable_this": 0},
                             machine_settings={"disable_this": 1})
        # Another user of the same studio, started later, tells when discovery has happened.
        control = self.portal(studio, "control")

        process = locked.start()
        locked.wait_log("Sync finished")
        control.start()
        for name in names:
            device = studio.description.device(name)
            control.wait_log("Product added: (%s, %s, %s, %s)" % (
                device.code, name, studio.address(name), version_text(device.version)))

        self.assertIsNone(process.poll())
        self.assertEqual([line for line in locked.log() if line.startswith("Product")], [])
        self.assertFalse(locked.status(), "no product in the status file")


if __name__ == "__main__":
    lab_main.main()
