"""The base of every end-to-end scenario: a studio of chosen devices inside the lab, and
kvportal runs with private folders that end with the test."""

import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "studio"))

from kvstudio import description as studio_description  # noqa: E402
from kvstudio.studio import Studio  # noqa: E402
from portal import Portal, own_version_text, version_text  # noqa: E402
from waiting import wait_until  # noqa: E402

STATUS_LINE = re.compile(r"^Product Status Changed (\S+)\((.*)\):(.*)$")


def last_statuses(lines):
    """{(code, name): the last status text the log shows for it}."""
    statuses = {}
    for line in lines:
        match = STATUS_LINE.match(line)
        if match:
            statuses[match.group(1), match.group(2)] = match.group(3)
    return statuses


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
        return own_version_text() if code == "KVPORTAL" else "None"

    def wait_statuses(self, portal, expected, deadline_s=90):
        """Waits until the log's last status of every (code, name) is the one expected."""
        def mismatches():
            actual = last_statuses(portal.log())
            return {key: actual.get(key) for key, text in expected.items()
                    if actual.get(key) != text}

        wait_until(lambda: not mismatches(), "statuses %s" % expected, deadline_s,
                   explain=lambda: "Differing: %s\n%s" % (mismatches(), portal.log_tail()),
                   abort=portal.crashed)

    def assert_logged(self, log, line):
        if line not in log:
            self.fail("%r is not in the log, which ends with:\n  %s"
                      % (line, "\n  ".join(log[-40:])))

    def assert_in_order(self, log, lines):
        """Each line appears in the log after the one before it; returns their indices."""
        indices, start = [], 0
        for line in lines:
            try:
                start = log.index(line, start) + 1
            except ValueError:
                self.fail("%r does not follow %r in the log:\n  %s"
                          % (line, lines[:len(indices)], "\n  ".join(log[-40:])))
            indices.append(start - 1)
        return indices


def firmware_folder_file(portal, name, content):
    """Puts a package into the program's firmware folder, as another program would."""
    os.makedirs(portal.firmware_dir, exist_ok=True)
    path = os.path.join(portal.firmware_dir, name)
    with open(path, "wb") as out:
        out.write(content)
    return path
