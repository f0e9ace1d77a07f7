"""Plays the network's part in a device's reboot. The simulated devices announce nothing
themselves, so when one reboots its announcement is withdrawn, and after the reboot time it is
published again with the version the device now reports. While it is withdrawn, its status
service does not answer either."""

import threading
import time
import urllib.error

POLL_INTERVAL_S = 0.25


class RebootWatcher:
    def __init__(self, devices, withdraw, announce, reboot_seconds):
        """`devices` maps names to SimulatedDevice; `withdraw(name)` and
        `announce(name, version, generation)` change what the network sees."""
        self._devices = devices
        self._withdraw = withdraw
        self._announce = announce
        self._reboot_seconds = reboot_seconds
        self._lock = threading.Lock()
        self._held = set()
        self._down = {}  # name -> (back at, version, generation, status service mode)
        self._reboots = {name: 0 for name in devices}
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._run, name="reboot watcher", daemon=True)

    def start(self):
        self._thread.start()

    def stop(self):
        self._stopping.set()
        self._thread.join()

    def hold(self, name):
        """Keeps the device off the network after its next reboot until `release`."""
        with self._lock:
            self._held.add(name)

    def release(self, name):
        with self._lock:
            self._held.discard(name)

    def _run(self):
        while not self._stopping.wait(POLL_INTERVAL_S):
            for name, device in self._devices.items():
                self._watch(name, device)
            self._bring_back()

    def _watch(self, name, device):
        try:
            state = device.state()
        except (OSError, urllib.error.URLError):
            return
        reboots = state["counters"]["reboots"]
        if reboots == self._reboots[name]:
            return
        self._reboots[name] = reboots
        with self._lock:
            was_down = name in self._down
            back_at = time.monotonic() + self._reboot_seconds
            mode = self._down[name][3] if was_down else state["behaviour"]["status_service"]
            self._down[name] = (back_at, state["version"], state["generation"], mode)
        if not was_down:
            self._withdraw(name)
            device.configure(status_service="refuse")

    def _bring_back(self):
        now = time.monotonic()
        with self._lock:
            ready = [(name, version, generation, mode)
                     for name, (back_at, version, generation, mode) in self._down.items()
                     if back_at <= now and name not in self._held]
            for name, _, _, _ in ready:
                del self._down[name]
        for name, version, generation, mode in ready:
            self._devices[name].configure(status_service=mode)
            self._announce(name, version, generation)
