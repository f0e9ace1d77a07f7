"""Starting the program while it runs: the second process exits with 0 at once, and the running
window comes to the front."""

import os
import subprocess

import lab_main
from display import Display
from studio_case import StudioCase
from waiting import wait_until

SEPARATOR = "-" * 58


class SecondStart(StudioCase):
    def test_exits_with_zero_and_brings_the_running_window_to_the_front(self):
        studio = self.start_studio([])
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name)
        first = portal.start()
        display.wait_window("KVPortal", abort=portal.crashed)

        cover = subprocess.Popen(
            ["xmessage", "-display", display.name, "-name", "cover", "-geometry",
             "1024x768+0+0", "a window over the program's"],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.addCleanup(cover.wait)
        self.addCleanup(cover.terminate)

        def on_top(upper, lower):
            windows = display.stacking()
            return upper in windows and lower in windows and \
                windows.index(upper) < windows.index(lower)

        wait_until(lambda: on_top("cover", "KVPortal"), "the cover lies over the program",
                   explain=lambda: "Windows, top first: %s" % display.stacking(),
                   abort=portal.crashed)

        second = portal.start()
        self.assertEqual(portal.wait_exit(second, 60), 0)
        self.assertIn("KVPortal instance is already running...", portal.console(second))
        wait_until(lambda: on_top("KVPortal", "cover"), "the running program comes to the front",
                   explain=lambda: "Windows, top first: %s" % display.stacking(),
                   abort=portal.crashed)
        self.assertIsNone(first.poll())
        self.assertEqual(portal.log().count(SEPARATOR), 1, "only the first start wrote the log")


if __name__ == "__main__":
    lab_main.main()
