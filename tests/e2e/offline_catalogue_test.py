"""The release server is down: statuses come from the local copy of the publish file and the
window says so; once the server is back, "Retry" fetches the current catalogue."""

import json
import os

import lab_main
from display import Display
from portal import version_text
from studio_case import StudioCase
from waiting import wait_until

MESSAGE_BACKGROUND = (255, 227, 191)
# The panel is 28 pixels high for one line and 42 for two (at 96 dpi).
TWO_LINES_MIN_HEIGHT = 38
LINK_RIGHT_MARGIN = 14


class OfflineCatalogue(StudioCase):
    def test_uses_the_local_copy_while_the_server_is_down_and_retry_reaches_it_again(self):
        name = "Korvex Studio A"
        studio = self.start_studio([name])
        device = studio.description.device(name)
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name)

        # An earlier run kept a copy of the catalogue that named a newer release.
        older_release = "2.5.0b1"
        copy = [dict(r, IV=older_release) if r["ID"] == device.code else r
                for r in studio.description.releases]
        os.makedirs(portal.kv_dir)
        local_copy = os.path.join(portal.kv_dir, "dozoPublishConf.json")
        with open(local_copy, "w", encoding="utf-8") as out:
            json.dump(studio.catalogue.document(copy), out)
        studio.release_server.stop()

        process = portal.start()
        portal.wait_log("Failed(0)", running=process)
        portal.wait_log("Sync: Using local file %s" % local_copy, running=process)
        portal.wait_status(
            lambda products: products.get(name) == (version_text(device.version),
                                                    version_text(older_release)),
            "the release of the local copy", running=process)
        self.wait_statuses(portal, {(device.code, name): "Ready To Download"})

        def panel():
            return display.picture().box_of(MESSAGE_BACKGROUND)

        def two_line_panel():
            box = panel()
            return box if box and box[3] - box[1] + 1 >= TWO_LINES_MIN_HEIGHT else None

        # The error and the note about cached data make two lines.
        box = wait_until(two_line_panel, "a two-line message panel",
                         explain=lambda: "Panel: %s" % (panel(),),
                         abort=portal.crashed)
        display.picture(save_as=os.path.join(self.work, "offline.png"))

        studio.release_server.start()
        querying = "Sync: Querying[%s] Kelmora Technologies server..." % (
            studio.description.publish_url)
        queried = portal.log().count(querying)
        display.click(box[2] - LINK_RIGHT_MARGIN - 8, (box[1] + box[3]) // 2)

        wait_until(lambda: portal.log().count(querying) > queried, "Retry queries the server",
                   explain=portal.log_tail,
                   abort=portal.crashed)
        portal.wait_log("Success", running=process)
        portal.wait_status(
            lambda products: products.get(name) == (version_text(device.version),
                                                    self.released(studio, device.code)),
            "the release of the server", running=process)
        self.wait_statuses(portal, {(device.code, name): "Update To Date"})
        wait_until(lambda: panel() is None, "the message panel hides after the sync",
                   abort=portal.crashed)
        with open(local_copy, encoding="utf-8") as saved:
            self.assertEqual(json.load(saved), studio.catalogue.document())


if __name__ == "__main__":
    lab_main.main()
