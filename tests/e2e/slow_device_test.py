"""A device that trickles its answers to status queries, a byte or two a second: the program
asks it within a bounded time, so another device is still listed soon after and the window
still answers."""

import os

import lab_main
from display import Display
from studio_case import StudioCase
from waiting import wait_until

# Each query of the slow device gives up after 3 s, and it is asked twice (serial and Dante);
# without that bound its answers, fast enough for no stall limit to end them, hold the product
# list for about half a minute each.
SOON_S = 20
TRICKLE_BYTES_PER_S = 2


class SlowDevice(StudioCase):
    def test_another_device_is_listed_and_the_window_answers_while_one_trickles(self):
        slow, other = "Korvex Studio A", "Pelra Live"
        studio = self.start_studio([slow, other], announced=[])
        studio.device(slow).configure(status_service="trickle",
                                      trickle_bytes_per_s=TRICKLE_BYTES_PER_S)
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name)
        first = portal.start()
        display.wait_window("KVPortal", abort=portal.crashed)
        cover = display.cover("KVPortal", abort=portal.crashed)
        self.addCleanup(cover.wait)
        self.addCleanup(cover.terminate)

        studio.announce(slow)
        wait_until(lambda: studio.device(slow).state()["counters"]["status_queries"] >= 1,
                   "the program asks the slow device", abort=portal.crashed)
        second = portal.start()
        self.assertEqual(portal.wait_exit(second, SOON_S), 0)
        display.wait_on_top("KVPortal", "cover", SOON_S, abort=portal.crashed)

        studio.announce(other)
        portal.wait_status(lambda products: other in products, "the other device is listed",
                           SOON_S, running=first)
        portal.wait_status(lambda products: slow in products, "the slow device is listed",
                           SOON_S, running=first)


if __name__ == "__main__":
    lab_main.main()
