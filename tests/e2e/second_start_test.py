"""Starting the program while it runs: the second process exits with 0 at once, and the running
window comes to the front."""

import os

import lab_main
from display import Display
from studio_case import StudioCase

SEPARATOR = "-" * 58


class SecondStart(StudioCase):
    def test_exits_with_zero_and_brings_the_running_window_to_the_front(self):
        studio = self.start_studio([])
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name)
        first = portal.start()
        display.wait_window("KVPortal", abort=portal.crashed)

        cover = display.cover("KVPortal", abort=portal.crashed)
        self.addCleanup(cover.wait)
        self.addCleanup(cover.terminate)

        second = portal.start()
        self.assertEqual(portal.wait_exit(second, 60), 0)
        self.assertIn("KVPortal instance is already running...", portal.console(second))
        display.wait_on_top("KVPortal", "cover", abort=portal.crashed)
        self.assertIsNone(first.poll())
        self.assertEqual(portal.log().count(SEPARATOR), 1, "only the first start wrote the log")


if __name__ == "__main__":
    lab_main.main()
