"""Starting and ending the real program: its log, its single instance (a second start exits with
0 and brings the running window to the front), its answers without a display or a home, and the
restart launcher that starts it again."""

import json
import os
import re
import shutil
import subprocess
import time
from unittest import mock

from portal import SEPARATOR, Portal, program_path, read, wait_until
from studio_case import StudioCase, main

ENDING = ("--firmware_update", "KVPortal", "missing.bin")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HISTORY_ENTRY = {"time": "2026-12-07T22:35:00Z", "product": "Korvex", "code": "KORVEX-FIRMWARE",
                 "address": "192.0.2.7", "from_version": "1.0.0 b1", "to_version": "2.0.0 b7",
                 "result": "failed", "error_code": -1, "duration_ms": 1234}


class Startup(StudioCase):
    def setUp(self):
        super().setUp()
        self.studio = self.start_studio([])

    def window(self, portal):
        """A running interactive instance, once its first sync is over."""
        before = portal.log().count("Sync finished")
        process = portal.start()
        wait_until(lambda: portal.log().count("Sync finished") > before, "a sync of the window",
                   explain=portal.log_tail, abort=portal.crashed)
        return process

    def failed_line(self, portal):
        return "--firmware_update failed: %s does not exist" % os.path.join(
            portal.kv_dir, "Software", "missing.bin")

    def test_a_command_ends_the_program_with_zero_and_a_killed_instance_blocks_nothing(self):
        """The log is started afresh when older than five days, continued when younger."""
        portal = self.portal(self.studio)
        os.makedirs(portal.kv_dir)
        for age_days in (6, 4):
            with open(portal.log_path, "a", encoding="utf-8") as log:
                log.write("a run %d days ago\n" % age_days)
            then = time.time() - age_days * 86400
            os.utime(portal.log_path, (then, then))
            self.assertEqual(portal.wait_exit(portal.start(*ENDING)), 0)
        log = portal.log()
        self.assertEqual(log[0], SEPARATOR, "the log starts with the run's separator")
        self.assertEqual(log.index("a run 4 days ago"), log.index(SEPARATOR, 1) - 1)
        self.assertEqual(log.count(self.failed_line(portal)), 2)
        self.assertTrue(os.path.exists(portal.status_path))

        portal.kill(self.window(portal))
        self.assertEqual(portal.wait_exit(portal.start(*ENDING)), 0)
        self.assertEqual(portal.log().count(SEPARATOR), 4)
        self.assertEqual(portal.log().count(self.failed_line(portal)), 3)

    def test_a_second_start_exits_with_zero_and_brings_the_running_window_to_the_front(self):
        display, portal, first = self.covered_window(self.studio)
        second = portal.start()
        self.assertEqual(portal.wait_exit(second, 60), 0)
        self.assertIn("KVPortal instance is already running...", portal.console(second))
        display.wait_on_top("KVPortal", "cover", abort=portal.crashed)
        # Without a display, a command beside the window is not run, and says so.
        code, output, errors = portal.run(*ENDING)
        self.assertEqual((code, errors.count("\n")), (1, 1), errors)
        self.assertIn("KVPortal instance is already running...", output)
        self.assertTrue(errors.startswith("kvportal: the command was not run"), errors)
        self.assertIsNone(first.poll())
        self.assertEqual(portal.log().count(SEPARATOR), 1, "only the first start wrote the log")
        self.assertNotIn(self.failed_line(portal), portal.log())

    def test_without_a_display_a_command_runs_on_the_console_and_nothing_else_starts(self):
        code, output, errors = self.portal(self.studio, "command").run(*ENDING)
        self.assertEqual(code, 0, errors)
        self.assertIn("--firmware_update failed: ", output)
        code, output, errors = self.portal(self.studio, "no-command").run()
        self.assertEqual((code, output, errors.count("\n")), (1, "", 1), errors)
        self.assertTrue(errors.startswith("kvportal: no display"), errors)

    def test_help_version_history_and_list_without_the_catalogue(self):
        portal = Portal(os.path.join(self.work, "unreachable"),
                        "http://127.0.0.1:1/dozoPublishConf.json")
        self.addCleanup(portal.stop)
        os.makedirs(portal.kv_dir)
        # The last line was cut by a crash.
        with open(os.path.join(portal.kv_dir, "history.jsonl"), "w", encoding="utf-8") as out:
            out.write(json.dumps(HISTORY_ENTRY) + "\n")
            out.write('{"time":"2026-12-07T22:36:00Z","product":"Rx48"}\n{"time":"2026')

        code, entries, _ = portal.run("--history", "--json")
        self.assertEqual((code, json.loads(entries)), (0, [HISTORY_ENTRY, {
            "time": "2026-12-07T22:36:00Z", "product": "Rx48"}]))
        code, table, _ = portal.run("--history")
        self.assertEqual((code, [line.split() for line in table.splitlines()[:2]],
                          len(table.splitlines())), (0, [
                              ["TIME", "PRODUCT", "CODE", "ADDRESS", "FROM", "TO", "RESULT",
                               "ERROR", "MS"],
                              ["2026-12-07T22:35:00Z", "Korvex", "KORVEX-FIRMWARE", "192.0.2.7",
                               "1.0.0", "b1", "2.0.0", "b7", "failed", "-1", "1234"]], 3), table)

        # As over SSH on a machine with no home for a log: an abort would print nothing.
        code, version, _ = portal.run("--version", home="/nonexistent")
        self.assertRegex("%d %s" % (code, version),
                         r"^0 KVPortal \d+\.\d+\.\d+ b\d+\nDNS-SD provider: /\S+\n$")
        code, help_text, _ = portal.run("--help", home="/nonexistent")
        self.assertTrue(("%d %s" % (code, help_text)).startswith("0 Usage: kvportal"), help_text)
        manual = read(os.path.join(ROOT, "packaging", "kvportal.1")).decode()
        readme = read(os.path.join(ROOT, "README.md")).decode()
        section = re.search(r"\.SH OPTIONS.*?\n\.SH ", manual, re.S).group()
        options = [o.replace("\\-", "-") for o in
                   re.findall(r'(\\-\\-[a-z_]+(?:\\-[a-z_]+)*|\\-[a-z])(?=[ "\n])', section)]
        self.assertGreaterEqual(len(options), 7)
        for option in options:
            self.assertIn(" " + option + ("," if option == "-v" else " "), help_text, option)
            self.assertIn("`" + option, readme, option)
        self.assertFalse(os.path.exists(portal.log_path))

        began = time.monotonic()
        code, said, errors = portal.run("--list", "--json", "--wait", "60")
        self.assertEqual(code, 2, errors)
        # A failed sync settles the studio too: no waiting out the deadline.
        self.assertLess(time.monotonic() - began, 40)
        products = json.loads(said)
        self.assertIn("KVPortal", [p["name"] for p in products])
        self.assertTrue(all(p["released"] is None for p in products), products)
        code, said, _ = portal.run("--list")
        self.assertEqual(said.splitlines()[0].split(),
                         ["NAME", "CODE", "ADDRESS", "INSTALLED", "RELEASED", "STATUS"])

    def test_the_restart_launcher_starts_the_program_again_once_it_has_ended(self):
        portal = self.portal(self.studio)
        # Copies of their own, so that the launcher waits for no other test's instance.
        folder = os.path.join(self.work, "bin")
        os.makedirs(folder)
        program = shutil.copy(program_path(), folder)
        launcher = shutil.copy(os.path.join(os.path.dirname(program_path()), "app_launcher"),
                               folder)
        # Without the restart flag (bit 0) nothing starts; a bad command line ends with 2, a
        # program that cannot start with 1.
        for code, arguments in (
                (0, ["--path", program]), (0, ["--path", program, "--flags", "2"]),
                (1, ["--path", program + "-missing", "--flags", "1"]), (2, ["--name", "kvportal"]),
                (2, ["--flags", "1", "--path"]), (2, ["--path", program, "--flags", "one"]),
                (2, ["--path", program, "--flags", ""]), (2, ["--path", program, "--wait"])):
            ran = subprocess.run([launcher] + arguments, capture_output=True, text=True)
            self.assertEqual((ran.returncode, ran.stdout), (code, ""), arguments)
        with mock.patch.dict(os.environ, {"KVPORTAL": program}):
            first = self.window(portal)
        # A path handed over in quotes, as in one command-line text.
        waiting = subprocess.Popen([launcher, "--name", "kvportal", "--path", '"%s"' % program,
                                    "--flags", "3"], env=portal.environment(),
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(waiting.stdout.close)
        self.addCleanup(waiting.wait)
        self.assertEqual(waiting.stdout.readline(),
                         "app_launcher: waiting for kvportal (process %d) to end\n" % first.pid)
        self.assertEqual(portal.log().count(SEPARATOR), 1)

        portal.kill(first)
        said = waiting.stdout.read()
        self.assertEqual(waiting.wait(60), 0)
        started = re.search(r"^app_launcher: started (.*) \(process (\d+)\)$", said, re.MULTILINE)
        self.assertIsNotNone(started, said)
        self.addCleanup(os.kill, int(started.group(2)), 9)
        self.assertEqual(started.group(1), program)
        wait_until(lambda: portal.log().count(SEPARATOR) == 2 and
                   "Sync finished" in portal.log()[portal.log().index(SEPARATOR, 1):],
                   "the new instance runs", explain=portal.log_tail)


if __name__ == "__main__":
    main()
