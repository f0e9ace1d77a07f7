"""The base of every end-to-end scenario: a studio of chosen devices inside the lab, and
kvportal runs with private folders that end with the test. `main()` is every scenario file's
entry point: outside a lab it brings one up and runs the file again inside it."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "studio"))

# The scenarios take the studio's modules from here, where they are found.
from kvstudio import description as studio_description  # noqa: E402,F401
from kvstudio import lab as studio_lab  # noqa: E402
from kvstudio.announcement import announcement  # noqa: E402,F401
from kvstudio.catalogue import write_firmware_image  # noqa: E402,F401
from kvstudio.studio import Studio  # noqa: E402
from portal import SEPARATOR, Portal, program_path, version_text, wait_until  # noqa: E402

STATUS_LINE = re.compile(r"^Product Status Changed (\S+)\((.*)\):(.*)$")


def last_statuses(lines):
    """{(code, name): the last status text the log shows for it}."""
    matches = (STATUS_LINE.match(line) for line in lines)
    return {(m.group(1), m.group(2)): m.group(3) for m in matches if m}


def last_run(log):
    """The log lines of the latest start."""
    return log[len(log) - log[::-1].index(SEPARATOR):]


def main():
    if studio_lab.current() is not None:
        unittest.main(module="__main__", verbosity=2)
    # Before the lab, so that a program that did not build fails even where the lab would skip.
    program_path()
    try:
        lab = studio_lab.Lab.up()
    except studio_lab.LabUnavailable as reason:
        # CI sets KV_LAB_REQUIRED: there a scenario that cannot run fails.
        why = "this machine cannot create a network namespace (%s)" % reason
        if os.environ.get("KV_LAB_REQUIRED", "0") != "0":
            sys.exit("FAILED: KV_LAB_REQUIRED is set, yet " + why)
        print("SKIPPED: " + why)
        sys.exit(77)
    try:
        code = lab.run([sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:])
    finally:
        lab.down()
    sys.exit(code)


class StudioCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kv-e2e-")
        # KV_E2E_KEEP=1 keeps the logs, status files and received images for a look.
        if os.environ.get("KV_E2E_KEEP"):
            print("\n%s keeps its files in %s" % (self.id(), self.work))
        else:
            self.addCleanup(shutil.rmtree, self.work, True)

    def start_studio(self, device_names=None, announced=None, description=None):
        """`description`: a studio description of the test's own instead of studio.json's."""
        description = description or studio_description.load()
        if device_names is not None:
            description = description.only(device_names)
        studio = Studio(os.path.join(self.work, "studio"), description, announced=announced)
        studio.__enter__()
        self.addCleanup(studio.stop)
        return studio

    def portal(self, studio, name="portal", **options):
        portal = Portal(os.path.join(self.work, name), studio.description.publish_url, **options)
        self.addCleanup(portal.stop)
        return portal

    def released(self, studio, code):
        return version_text(studio.description.release(code)["IV"])

    def installed(self, code):
        """An application's installed version in the lab, where none is installed: KVPortal
        is the program itself."""
        if code != "KVPORTAL":
            return "None"
        return subprocess.run([program_path(), "--version"], capture_output=True, text=True,
                              check=True).stdout.splitlines()[0].split(" ", 1)[1]

    def wait_statuses(self, portal, expected, deadline_s=90):
        """Waits until the log's last status of every (code, name) is the one expected."""
        def mismatches():
            actual = last_statuses(portal.log())
            return {key: actual.get(key) for key, text in expected.items()
                    if actual.get(key) != text}

        wait_until(lambda: not mismatches(), "statuses %s" % expected, deadline_s,
                   explain=lambda: "Differing: %s\n%s" % (mismatches(), portal.log_tail()),
                   abort=portal.crashed)

    def assert_in_order(self, log, lines):
        """Each line appears in the log after the one before it."""
        start = 0
        for done, line in enumerate(lines):
            try:
                start = log.index(line, start) + 1
            except ValueError:
                self.fail("%r does not follow %r in the log:\n  %s"
                          % (line, lines[:done], "\n  ".join(log[-40:])))
