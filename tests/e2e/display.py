"""A private X display (Xvfb) for the scenarios that need a real window system: pictures of the
screen, a mouse click, and which window lies on top."""

import os
import re
import subprocess

from portal import wait_until


def box_of(ppm, rgb):
    """The bounding box (left, top, right, bottom) of the pixels of exactly that colour in a
    binary 8-bit PPM picture, or None when there are none."""
    header = re.match(rb"P6\s+(?:#.*\s+)*(\d+)\s+\d+\s+255\s", ppm)
    width, pixels, colour = int(header.group(1)), ppm[header.end():], bytes(rgb)
    xs, ys = [], []
    position = pixels.find(colour)
    while position >= 0:
        if position % 3 == 0:
            y, x = divmod(position // 3, width)
            xs.append(x)
            ys.append(y)
        position = pixels.find(colour, position + 1)
    return (min(xs), min(ys), max(xs), max(ys)) if xs else None


class Display:
    def __init__(self, log_path):
        self._log = open(log_path, "wb")
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-dpi", "96",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=self._log, stderr=subprocess.STDOUT)
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

    def _run(self, *argv):
        return subprocess.run(argv, check=True, capture_output=True,
                              env=dict(os.environ, DISPLAY=self.name), timeout=60).stdout

    def box_of(self, rgb):
        """Where that colour is on the screen (see `box_of`)."""
        return box_of(self._run("import", "-display", self.name, "-window", "root", "-depth",
                                "8", "ppm:-"), rgb)

    def click(self, x, y):
        self._run("xdotool", "mousemove", str(x), str(y), "click", "1")

    def stacking(self):
        """Names of the top-level windows, the top-most first."""
        listing = self._run("xwininfo", "-root", "-children").decode("utf-8", "replace")
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', listing, re.MULTILINE)

    def wait_on_top(self, upper, lower=None, deadline_s=60, abort=None):
        """Waits until the window `upper` is shown, over the window `lower` when one is named."""
        def on_top():
            windows = self.stacking()
            return upper in windows and (lower is None or lower in windows and
                                         windows.index(upper) < windows.index(lower))
        wait_until(on_top, "%r on the display over %r" % (upper, lower), deadline_s,
                   explain=lambda: "Windows, top first: %s" % self.stacking(), abort=abort)

    def cover(self, name, abort=None):
        """Opens a window over the one named, for a test to see it raised; returns its process."""
        cover = subprocess.Popen(
            ["xmessage", "-display", self.name, "-name", "cover", "-geometry",
             "1024x768+0+0", "a window over the program's"],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.wait_on_top("cover", name, abort=abort)
        return cover
