"""A private X display (Xvfb) for the scenarios that need a real window system: pictures of the
screen, a mouse click, and which window lies on top."""

import os
import re
import subprocess
import tempfile

from waiting import wait_until

SCREEN = "1024x768x24"


class Picture:
    """A screenshot as RGB bytes."""

    def __init__(self, ppm):
        header = re.match(rb"P6\s+(?:#.*\s+)*(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not header:
            raise ValueError("not a binary PPM picture")
        if header.group(3) != b"255":
            raise ValueError("not an 8-bit picture")
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = ppm[header.end():]

    def box_of(self, rgb):
        """The bounding box (left, top, right, bottom) of the pixels of exactly that colour,
        or None when there are none."""
        colour = bytes(rgb)
        rows = [y for y in range(self.height)
                if colour in self._row_pixels(y)]
        if not rows:
            return None
        columns = []
        for y in rows:
            row = self._row_pixels(y)
            columns += [x for x in range(self.width) if row[x * 3:x * 3 + 3] == colour]
        return min(columns), rows[0], max(columns), rows[-1]

    def _row_pixels(self, y):
        start = y * self.width * 3
        return _Row(self.pixels[start:start + self.width * 3])


class _Row(bytes):
    def __contains__(self, colour):
        position = self.find(colour)
        while position >= 0:
            if position % 3 == 0:
                return True
            position = self.find(colour, position + 1)
        return False


class Display:
    def __init__(self, log_path):
        self._log = open(log_path, "wb")
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-dpi", "96",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self._log,
            stderr=subprocess.STDOUT)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start; see %s" % log_path)
        self.name = ":" + number

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        self._log.close()

    def _run(self, *argv):
        return subprocess.run(argv, check=True, capture_output=True,
                              env=dict(os.environ, DISPLAY=self.name), timeout=60).stdout

    def picture(self, save_as=None):
        ppm = self._run("import", "-display", self.name, "-window", "root", "-depth", "8",
                        "ppm:-")
        if save_as:
            with tempfile.NamedTemporaryFile(suffix=".ppm") as raw:
                raw.write(ppm)
                raw.flush()
                self._run("convert", raw.name, save_as)
        return Picture(ppm)

    def click(self, x, y):
        self._run("xdotool", "mousemove", str(x), str(y), "click", "1")

    def stacking(self):
        """Names of the top-level windows, the top-most first."""
        listing = self._run("xwininfo", "-root", "-children").decode("utf-8", "replace")
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', listing, re.MULTILINE)

    def wait_window(self, name, deadline_s=60, abort=None):
        wait_until(lambda: name in self.stacking(), "window %r on the display" % name,
                   deadline_s, explain=lambda: "Windows: %s" % self.stacking(), abort=abort)

    def on_top(self, upper, lower):
        windows = self.stacking()
        return upper in windows and lower in windows and \
            windows.index(upper) < windows.index(lower)

    def wait_on_top(self, upper, lower, deadline_s=60, abort=None):
        wait_until(lambda: self.on_top(upper, lower), "%r lies over %r" % (upper, lower),
                   deadline_s, explain=lambda: "Windows, top first: %s" % self.stacking(),
                   abort=abort)

    def cover(self, name, abort=None):
        """Opens a window over the one named, for a test to see it raised; returns its process."""
        cover = subprocess.Popen(
            ["xmessage", "-display", self.name, "-name", "cover", "-geometry",
             "1024x768+0+0", "a window over the program's"],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.wait_on_top("cover", name, abort=abort)
        return cover
