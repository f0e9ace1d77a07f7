"""The devices' DNS-SD announcements: for each, its host name's address record and its
"_http._tcp" service with one subtype and the TXT entries, published through the lab."""

import threading

from . import lab as studio_lab

SERVICE_TYPE = "_http._tcp"
STATUS_PORT = 80


def announcement(device, ip, txt):
    host = device.host + ".local"
    return [
        {"address": [host, ip]},
        {"service": [device.name, SERVICE_TYPE, STATUS_PORT], "host": host,
         "subtypes": [device.subtype], "txt": txt},
    ]


class Announcements:
    def __init__(self, lab):
        self._lab = lab
        self._handles = {}
        self._lock = threading.Lock()

    def publish(self, entries):
        """Publishes [(name, [netlab announcement, ...])] at once and returns when avahi has
        established every one; a device published before is withdrawn first."""
        for name, _ in entries:
            self.withdraw(name)
        objects = [item for _, items in entries for item in items]
        handles = studio_lab.publish(self._lab, objects)
        with self._lock:
            for name, items in entries:
                self._handles[name], handles = handles[:len(items)], handles[len(items):]

    def withdraw(self, name):
        with self._lock:
            handles = self._handles.pop(name, [])
        if handles:
            studio_lab.withdraw(self._lab, handles)

    def withdraw_all(self):
        with self._lock:
            handles = [h for name_handles in self._handles.values() for h in name_handles]
            self._handles.clear()
        if handles:
            studio_lab.withdraw(self._lab, handles)
