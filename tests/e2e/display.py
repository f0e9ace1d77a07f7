"""A private X display (Xvfb), for the scenarios that need to see which window lies on top."""

import os
import re
import subprocess

from portal import wait_until


class Display:
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
