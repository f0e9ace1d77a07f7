"""One simulated device of the studio: the lab's device simulator on the device's own address,
and its control port."""

import json
import os
import sys
import urllib.request

from .catalogue import LAB_DIR
from .child import Child

CONTROL_PORT = 8099
START_DEADLINE_S = 30
CONTROL_TIMEOUT_S = 10
# The control port is inside the studio: no proxy of the environment may stand in between.
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class SimulatedDevice:
    def __init__(self, description, address, state_dir, behaviour=None):
        self.description = description
        self.address = address
        self.image_path = os.path.join(state_dir, "received-%s.bin" % description.host)
        argv = [
            sys.executable, os.path.join(LAB_DIR, "device_simulator.py"),
            "--address", address,
            "--serial", description.serial,
            "--version", description.version,
            "--generation", str(description.generation),
            "--image-file", self.image_path,
            "--watch-stdin",
        ]
        if description.dante_capable:
            argv.append("--dante-capable")
        if description.dante_running:
            argv.append("--dante-running")
        if behaviour:
            argv += ["--config", json.dumps(behaviour)]
        self.child = Child(argv, name="device " + description.name, stdin_pipe=True,
                           log_path=os.path.join(state_dir, "device-%s.log" % description.host))

    def wait_ready(self):
        self.child.wait_line(lambda line: line.startswith("READY "), START_DEADLINE_S)

    def _control(self, path, body=None):
        request = urllib.request.Request(
            "http://%s:%d%s" % (self.address, CONTROL_PORT, path),
            data=None if body is None else json.dumps(body).encode(),
            headers={"Content-Type": "application/json"})
        with _OPENER.open(request, timeout=CONTROL_TIMEOUT_S) as reply:
            return json.load(reply)

    def state(self):
        """Version, update phase and counters, as the device sees them."""
        return self._control("/lab/state")

    def configure(self, **behaviour):
        """Changes how the device behaves from now on, e.g. fail_uploads=2."""
        return self._control("/lab/config", behaviour)

    def received_image(self):
        with open(self.image_path, "rb") as image:
            return image.read()

    def stop(self):
        self.child.stop()
