"""The studio's network: a discovery lab of netlab (a private namespace with its own D-Bus
system bus and avahi-daemon). Everything of the studio, and the program, runs inside it."""

import json
import os
import signal
import subprocess
import sys
import tempfile

NETLAB = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "netlab.py")
CANNOT_CREATE_NAMESPACE = 77
# Set for the processes that run inside the lab: the lab's description as JSON.
LAB_VARIABLE = "KV_STUDIO_LAB"


class LabError(RuntimeError):
    pass


class LabUnavailable(Exception):
    """This machine cannot create a network namespace; the text says why."""


def _netlab(*arguments):
    result = subprocess.run([sys.executable, NETLAB] + list(arguments), capture_output=True,
                            text=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise LabError("netlab %s: %s" % (arguments[0], result.stderr.strip()))
    return result.stdout


def current():
    """The description of the lab this process runs in, or None outside any."""
    text = os.environ.get(LAB_VARIABLE)
    return json.loads(text) if text else None


class Lab:
    """A lab brought up from outside; `down` ends everything it holds."""

    def __init__(self, description):
        self.description = description
        self.name = description["name"]

    @classmethod
    def up(cls):
        result = subprocess.run(
            [sys.executable, NETLAB, "up", "--owner", str(os.getpid())], capture_output=True,
            text=True, stdin=subprocess.DEVNULL)
        if result.returncode == CANNOT_CREATE_NAMESPACE:
            raise LabUnavailable(result.stderr.strip())
        if result.returncode != 0:
            raise LabError("netlab up: %s" % result.stderr.strip())
        lab = cls(json.loads(result.stdout))
        try:
            # Labs of runs that died without cleaning up go too.
            _netlab("gc")
        except LabError:
            lab.down()
            raise
        return lab

    def run(self, argv, env=None):
        """Runs a command inside the lab, in an IPC namespace of its own so that nothing of its
        shared memory outlives it; returns its exit code. A SIGTERM meanwhile is handed on to
        the command, and an interrupt from the terminal reaches it directly."""
        env = dict(os.environ if env is None else env)
        env[LAB_VARIABLE] = json.dumps(self.description)
        # netlab, ip netns exec and unshare each exec the next: the PID is the command's.
        process = subprocess.Popen([sys.executable, NETLAB, "exec", self.name, "--",
                                    "unshare", "--ipc", "--"] + list(argv), env=env)
        previous = {
            signal.SIGTERM: signal.signal(signal.SIGTERM,
                                          lambda *_: process.send_signal(signal.SIGTERM)),
            signal.SIGINT: signal.signal(signal.SIGINT, signal.SIG_IGN),
        }
        try:
            return process.wait()
        finally:
            for number, handler in previous.items():
                signal.signal(number, handler)

    def down(self):
        _netlab("down", self.name)


def address(lab, host_number):
    return "%s.%d" % (lab["subnet"], host_number)


def add_addresses(lab, addresses, peer=False):
    """Gives the lab's interface the addresses it does not have yet; with `peer`, gives them to
    the other end of its wire, which avahi does not serve (see netlab.py)."""
    shown = subprocess.run(["ip", "-o", "-4", "addr", "show"], check=True, capture_output=True,
                           text=True).stdout
    present = {field.split("/")[0] for field in shown.split() if field.count(".") == 3}
    missing = [ip for ip in addresses if ip not in present]
    if missing:
        _netlab("address", lab["name"], *(["--peer"] if peer else []), *missing)


def _publish(lab, command, announcements):
    """Hands the netlab announcements (JSON objects) to a netlab publish command; returns what
    it prints."""
    descriptor, path = tempfile.mkstemp(prefix="studio-publish-", dir=lab["state_dir"])
    with os.fdopen(descriptor, "w", encoding="utf-8") as out:
        for announcement in announcements:
            out.write(json.dumps(announcement) + "\n")
    try:
        return _netlab(command, lab["name"], path)
    finally:
        os.remove(path)


def publish(lab, announcements):
    """Publishes the netlab announcements at once; returns their handles once avahi has
    established all of them."""
    handles = _publish(lab, "publish-many", announcements).split()
    if len(handles) != len(announcements):
        raise LabError("netlab published %d of %d announcements" % (len(handles),
                                                                     len(announcements)))
    return handles


def publish_static(lab, announcements):
    """Has the lab's avahi-daemon serve the announcements itself, without a client for each:
    for studios of hundreds of devices. Returns one handle for all of them once avahi has
    established every one."""
    return _publish(lab, "publish-static", announcements).strip()


def withdraw(lab, handles):
    """Ends the announcements, all at once."""
    _netlab("withdraw", lab["name"], *handles)


def restart_avahi(lab):
    """Ends the lab's avahi-daemon and starts it again, as a package upgrade does; returns once it
    serves again. The announcements published through the lab are lost with it."""
    _netlab("restart-avahi", lab["name"])
