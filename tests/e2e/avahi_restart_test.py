"""avahi-daemon restarts under the running program, as a package upgrade or a crash makes it:
discovery starts again by itself. A device announced again stays listed once, a device that is
not goes from the list and the status file, one announced after the restart is listed, and the
log tells of the outage once. The same through Avahi's own compatibility library."""

import lab_main
from kvstudio import lab as studio_lab
from studio_case import StudioCase

KEPT = "Vesk Edit 1"
GONE = "Voraveri Booth"
NEWCOMER = "Pelra Live"
OUTAGE = "zeroconf_category: DNS-SD browsing stopped (%d)"
# How each provider ends a browse whose daemon went away, which tells which one was loaded.
OWN_PROVIDER_OUTAGE = -65563
AVAHI_OUTAGE = -65537


class AvahiRestart(StudioCase):
    def restart_under_the_program(self, outage_code, dnssd_library=None):
        studio = self.start_studio([KEPT, GONE, NEWCOMER], announced=[KEPT, GONE])
        portal = self.portal(studio, dnssd_library=dnssd_library)
        process = portal.start()
        portal.wait_status(lambda products: KEPT in products and GONE in products,
                           "both devices listed", running=process)

        studio_lab.restart_avahi(studio.lab)
        # The announcers lost their announcements with the daemon: two announce again.
        studio.withdraw(GONE)
        studio.announce(KEPT)
        studio.announce(NEWCOMER)
        portal.wait_status(lambda products: NEWCOMER in products,
                           "the device announced after the restart listed", running=process)
        portal.wait_status(lambda products: GONE not in products,
                           "the device not announced again removed", running=process)

        self.assertIn(KEPT, portal.status())
        log = portal.log()
        self.assertEqual(1, len([line for line in log if line.startswith("Product added: (")
                                 and ", %s, " % KEPT in line]), "\n".join(log))
        self.assertNotIn("Product removed: (%s)" % KEPT, log)
        outage = [line for line in log if "DNS-SD browsing stopped" in line]
        self.assertEqual(1, len(outage), "\n".join(log))
        self.assertIn(OUTAGE % outage_code, outage[0])
        self.assertFalse([line for line in log if "errorCode" in line], "\n".join(log))

    def test_own_provider(self):
        self.restart_under_the_program(OWN_PROVIDER_OUTAGE)

    def test_avahi_compatibility_library(self):
        self.restart_under_the_program(AVAHI_OUTAGE, "libdns_sd.so.1")


if __name__ == "__main__":
    lab_main.main()
