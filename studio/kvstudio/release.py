"""The studio's release server: the lab's release server serving the catalogue folder."""

import json
import os
import sys
import urllib.parse
import urllib.request

from .catalogue import LAB_DIR
from .child import Child

START_DEADLINE_S = 30
CONTROL_TIMEOUT_S = 10
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class ReleaseServer:
    """Can be taken down and brought back on the same address, as a real server can."""

    def __init__(self, root, description, log_path):
        self.root = root
        self.address = description.release_address
        self.port = description.release_port
        self.log_path = log_path
        self.child = None

    def start(self):
        if self.child:
            return
        self.child = Child(
            [sys.executable, os.path.join(LAB_DIR, "release_server.py"), "--root", self.root,
             "--host", self.address, "--port", str(self.port), "--exit-with-stdin"],
            name="release server", stdin_pipe=True, log_path=self.log_path)
        self.child.wait_line(lambda line: line.strip() == str(self.port), START_DEADLINE_S)

    def stop(self):
        if self.child:
            self.child.stop()
            self.child = None

    @property
    def running(self):
        return self.child is not None

    def requests_for(self, path):
        """How many requests for `path` the server has answered since it started."""
        query = urllib.parse.urlencode({"path": path})
        url = "http://%s:%d/control/count?%s" % (self.address, self.port, query)
        with _OPENER.open(url, timeout=CONTROL_TIMEOUT_S) as reply:
            return int(reply.read())

    def requests(self, path):
        """The requests for `path` since the server started, oldest first: each a dict of its
        method, query, Range header (None without one) and the body bytes sent so far."""
        query = urllib.parse.urlencode({"path": path})
        url = "http://%s:%d/control/requests?%s" % (self.address, self.port, query)
        with _OPENER.open(url, timeout=CONTROL_TIMEOUT_S) as reply:
            return json.loads(reply.read())
