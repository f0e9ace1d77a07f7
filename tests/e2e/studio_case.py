"""The base of every scenario: a studio of chosen devices inside the lab, and kvportal runs in
folders that end with the test. `main()`, outside a lab, brings one up and runs the file in it."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "studio"))

from kvstudio import description as studio_description  # noqa: E402,F401
from kvstudio import lab as studio_lab  # noqa: E402
from kvstudio.announcement import announcement  # noqa: E402,F401
from kvstudio.catalogue import write_firmware_image  # noqa: E402,F401
from kvstudio.studio import Studio  # noqa: E402
from portal import SEPARATOR, Portal, program_path, version_text, wait_until  # noqa: E402


def last_statuses(lines):
    """{(code, name): the last status the log shows for it}."""
    matches = (re.match(r"^Product Status Changed (\S+)\((.*)\):(.*)$", line) for line in lines)
    return {(m.group(1), m.group(2)): m.group(3) for m in matches if m}


def last_run(log):
    return log[len(log) - log[::-1].index(SEPARATOR):]


def main():
    if studio_lab.current() is not None:
        unittest.main(module="__main__", verbosity=2)
    # Before the lab, so that a program that did not build fails even where the lab would skip.
    program_path()
    try:
        lab = studio_lab.Lab.up()
    except studio_lab.LabUnavailable as reason:
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


class Display:
    """A private X display (Xvfb), to see which window lies on top."""

    def __init__(self, log_path):
        self._log = open(log_path, "wb")
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self._log,
            stderr=subprocess.STDOUT)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            self.name = ":" + numbers.readline().strip()
        if self.name == ":":
            self.stop()
            raise RuntimeError("Xvfb did not start; see %s" % log_path)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        self._log.close()

    def stacking(self):
        """Names of the top-level windows, the top-most first."""
        listing = subprocess.run(["xwininfo", "-display", self.name, "-root", "-children"],
                                 check=True, capture_output=True, text=True, timeout=60).stdout
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', listing, re.MULTILINE)

    def wait_on_top(self, upper, lower=None, deadline_s=60, abort=None):
        """Waits until `upper` is shown, over `lower` when one is named."""
        def on_top():
            windows = self.stacking()
            return upper in windows and (lower is None or lower in windows and
                                         windows.index(upper) < windows.index(lower))
        wait_until(on_top, "%r on the display over %r" % (upper, lower), deadline_s,
                   explain=lambda: "Windows, top first: %s" % self.stacking(), abort=abort)


class StudioCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kv-e2e-")
        # KV_E2E_KEEP=1 keeps the logs, status files and received images for a look.
        if os.environ.get("KV_E2E_KEEP"):
            print("\n%s keeps its files in %s" % (self.id(), self.work))
        else:
            self.addCleanup(shutil.rmtree, self.work, True)

    def start_studio(self, device_names=None, announced=None, description=None):
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

    def covered_window(self, studio, **options):
        """A display, and a window running on it, once shown, under one that covers it."""
        display = Display(os.path.join(self.work, "xvfb.log"))
        self.addCleanup(display.stop)
        portal = self.portal(studio, display=display.name, **options)
        process = portal.start()
        display.wait_on_top("KVPortal", abort=portal.crashed)
        cover = subprocess.Popen(["xmessage", "-display", display.name, "-name", "cover",
                                  "-geometry", "1024x768+0+0", "a window over the program's"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.addCleanup(cover.wait)
        self.addCleanup(cover.terminate)
        display.wait_on_top("cover", "KVPortal", abort=portal.crashed)
        return display, portal, process

    def released(self, studio, code):
        return version_text(studio.description.release(code)["IV"])

    def installed(self, code):
        """An application's installed version: in the lab, only this program is installed."""
        if code != "KVPORTAL":
            return "None"
        return subprocess.run([program_path(), "--version"], capture_output=True, text=True,
                              check=True).stdout.splitlines()[0].split(" ", 1)[1]

    def assert_in_order(self, log, lines):
        start = 0
        for done, line in enumerate(lines):
            try:
                start = log.index(line, start) + 1
            except ValueError:
                self.fail("%r does not follow %r in the log:\n  %s"
                          % (line, lines[:done], "\n  ".join(log[-40:])))
