"""The studio description: its devices, the releases on its server and what the program should
make of them."""

import dataclasses
import json
import os

DEFAULT_PATH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                            "studio.json")


@dataclasses.dataclass
class Device:
    name: str
    host: str
    # The last number of the device's IPv4 address in the lab's subnet.
    address: int
    vendor: str
    product: str
    subtype: str
    version: str
    generation: int
    serial: str
    dante_capable: bool
    dante_running: bool
    expect: dict

    @property
    def ignored(self):
        return "ignored" in self.expect

    @property
    def code(self):
        return self.expect.get("code")

    def txt(self, version=None, generation=None):
        """The TXT entries the device announces, for its current or a newer firmware."""
        return [
            "vendor=" + self.vendor,
            "product=" + self.product,
            "version=" + (version or self.version),
            "firmware_generation=%d" % (generation or self.generation),
        ]


@dataclasses.dataclass
class Description:
    release_address: str
    release_port: int
    reboot_seconds: float
    package_size: int
    devices: list
    companions: list
    applications: list
    releases: list
    firmware_generations: list
    download_rate: int = 0
    # Behaviour settings of the device simulator given to every device at start.
    device_behaviour: dict = dataclasses.field(default_factory=dict)

    @property
    def publish_url(self):
        return "http://%s:%d/dozoPublishConf.json" % (self.release_address, self.release_port)

    def device(self, name):
        for device in self.devices:
            if device.name == name:
                return device
        raise KeyError("no device %r in the studio" % name)

    def release(self, code):
        """The release the program should match to a product code."""
        for entry in self.releases:
            if entry["ID"] == code and entry.get("OS", "Windows") == "Windows":
                return entry
        raise KeyError("no release of %s in the studio" % code)

    def only(self, names):
        """The same studio with only the named devices on the network."""
        return dataclasses.replace(self, devices=[self.device(name) for name in names])


def load(path=DEFAULT_PATH, download_rate=0, device_behaviour=None):
    with open(path, encoding="utf-8") as source:
        data = json.load(source)
    devices = [Device(**entry) for entry in data["devices"]]
    addresses = [device.address for device in devices]
    if len(set(addresses)) != len(addresses) or not all(2 <= a <= 254 for a in addresses):
        raise ValueError("devices of %s need distinct addresses from 2 to 254" % path)
    return Description(
        release_address=data["release_server"]["address"],
        release_port=data["release_server"]["port"],
        reboot_seconds=data["reboot_seconds"],
        package_size=data["package_size"],
        devices=devices,
        companions=data["companions"],
        applications=data["applications"],
        releases=data["releases"],
        firmware_generations=data["firmware_generations"],
        download_rate=download_rate,
        device_behaviour=device_behaviour or {},
    )
