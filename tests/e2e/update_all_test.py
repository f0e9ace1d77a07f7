"""--update-all as a studio's administrator runs it over SSH: no display, no terminal, one line
per device on the standard output, and every attempt in the history."""

import json
import os
import subprocess

import lab_main
from kvstudio import description as studio_description
from portal import program_path, version_text
from studio_case import StudioCase

# Bounds the program's own wait for the studio; it settles long before.
WAIT_S = 60
FAILING, OLD_AGAIN, UPDATED, NOT_UPDATABLE = (
    "RX 48 Büro", "Vesk III Control Room", "Voraveri Booth", "Vesk Edit 1")


def update_all(portal, *options):
    environment = portal.environment()
    del environment["QT_QPA_PLATFORM"]
    answer = subprocess.run([program_path(), "--update-all", "--wait", str(WAIT_S)] +
                            list(options), env=environment, stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=WAIT_S * 5)
    lines = dict(line.split(": ", 1) for line in answer.stdout.splitlines())
    return answer.returncode, lines, answer.stderr


class UpdateAllWithoutADisplay(StudioCase):
    def test_updates_each_device_in_turn_and_reports_those_that_failed(self):
        description = studio_description.load().only([FAILING, OLD_AGAIN, UPDATED,
                                                       NOT_UPDATABLE])
        description.device(UPDATED).version = "1.8.0b1"
        studio = self.start_studio(description=description)
        portal = self.portal(studio)
        devices = {name: description.device(name) for name in (FAILING, OLD_AGAIN, UPDATED)}
        versions = {name: (version_text(device.version), self.released(studio, device.code))
                    for name, device in devices.items()}

        code, lines, said = update_all(portal, "--dry-run")
        self.assertEqual(code, 0, said)
        expected = {name: "would update from %s to %s" % versions[name] for name in devices}
        expected[NOT_UPDATABLE] = "skipped: this program does not update it"
        self.assertEqual(lines, expected, said)
        self.assertEqual([studio.device(name).state()["counters"]["uploads_started"]
                          for name in devices], [0, 0, 0])

        studio.device(FAILING).configure(fail_uploads=3)
        studio.device(OLD_AGAIN).configure(reject_images=1)
        code, lines, said = update_all(portal)
        self.assertEqual(code, 1, said)
        self.assertEqual(lines, {
            FAILING: "failed: the device reported that its update failed (-1)",
            OLD_AGAIN: "failed: the update did not take effect, the device still runs its old "
                       "version (-3)",
            UPDATED: "updated from %s to %s" % versions[UPDATED],
            NOT_UPDATABLE: "skipped: this program does not update it"}, said)
        self.assert_logged(portal.log(), "Update %s(%s) to %s did not take effect: the device "
                           "still runs %s" % ((devices[OLD_AGAIN].code, OLD_AGAIN) +
                                              versions[OLD_AGAIN][::-1]))
        self.assertEqual(studio.device(UPDATED).state()["version"], "1.8.4b220")

        with open(os.path.join(portal.kv_dir, "history.jsonl"), encoding="utf-8") as history:
            entries = [json.loads(line) for line in history]
        self.assertEqual(sorted((e["product"], e["from_version"], e["to_version"], e["result"],
                                 e["error_code"]) for e in entries),
                         sorted([(FAILING,) + versions[FAILING] + ("failed", -1),
                                 (OLD_AGAIN,) + versions[OLD_AGAIN] + ("failed", -3),
                                 (UPDATED,) + versions[UPDATED] + ("succeeded", 0)]))


if __name__ == "__main__":
    lab_main.main()
