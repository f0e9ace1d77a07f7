"""The studio as a whole, run inside a lab: the release server with its catalogue, the
simulated devices on their own addresses, their announcements and their reboots."""

import os

from . import description as studio_description
from . import lab as studio_lab
from .announcement import Announcements, announcement
from .catalogue import Catalogue
from .device import SimulatedDevice
from .reboots import RebootWatcher
from .release import ReleaseServer


class Studio:
    def __init__(self, state_dir, description=None, lab=None, announced=None):
        """`announced`: the devices on the network from the start (default: all of them)."""
        self.state_dir = state_dir
        self.description = description or studio_description.load()
        self.announced = [d.name for d in self.description.devices] if announced is None \
            else announced
        self.lab = lab or studio_lab.current()
        if self.lab is None:
            raise studio_lab.LabError("the studio runs inside a lab (see studio.py run)")
        self.catalogue = None
        self.release_server = None
        self.devices = {}
        self._announcements = Announcements(self.lab)
        self._reboots = None

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *_):
        self.stop()

    def _path(self, name):
        return os.path.join(self.state_dir, name)

    def address(self, name):
        return studio_lab.address(self.lab, self.description.device(name).address)

    def start(self):
        os.makedirs(self.state_dir, exist_ok=True)
        self.catalogue = Catalogue(self._path("release"), self.description)
        self.catalogue.publish()
        self.release_server = ReleaseServer(self._path("release"), self.description,
                                            self._path("release-server.log"))
        self.release_server.start()
        studio_lab.add_addresses(self.lab, [self.address(d.name)
                                            for d in self.description.devices])
        for device in self.description.devices:
            self.devices[device.name] = SimulatedDevice(device, self.address(device.name),
                                                        self.state_dir,
                                                        self.description.device_behaviour)
        for device in self.devices.values():
            device.wait_ready()
        self._announcements.publish(
            [(d.name, announcement(d, self.address(d.name), d.txt()))
             for d in self.description.devices if d.name in self.announced])
        self._reboots = RebootWatcher(self.devices, self.withdraw, self.announce,
                                      self.description.reboot_seconds)
        self._reboots.start()

    def stop(self):
        if self._reboots:
            self._reboots.stop()
            self._reboots = None
        self._announcements.withdraw_all()
        for device in self.devices.values():
            device.stop()
        self.devices.clear()
        if self.release_server:
            self.release_server.stop()

    def device(self, name):
        return self.devices[name]

    def announce(self, name, version=None, generation=None):
        """Publishes the device again, with the firmware it now runs when that is given."""
        device = self.description.device(name)
        self._announcements.publish(
            [(name, announcement(device, self.address(name), device.txt(version, generation)))])

    def withdraw(self, name):
        self._announcements.withdraw(name)

    def hold_reboot(self, name):
        """The device stays off the network after its next reboot until `release_reboot`."""
        self._reboots.hold(name)

    def release_reboot(self, name):
        self._reboots.release(name)
