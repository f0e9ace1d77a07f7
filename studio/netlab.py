#!/usr/bin/env python3
"""A discovery lab: a private network namespace with a veth interface, a private D-Bus system
bus and an avahi-daemon that serves only that interface, so that mDNS never touches the
machine's real interfaces. Simulated devices are announced with avahi-publish-service and
avahi-publish-address; every process the lab starts is recorded by PID and ended by PID.

    netlab.py up [--owner PID]          bring a lab up, print its description as JSON
    netlab.py down NAME                 end its processes, delete the namespace
    netlab.py gc                        bring down labs whose owner process has gone
    netlab.py info NAME                 print the description as JSON
    netlab.py address NAME [--peer] IP...
                                        add each IP (/24) to the lab's interface, or to its veth
                                        peer, which avahi does not serve: there an address that
                                        avahi announces for another host does not collide with
                                        its own, and connections to it are refused at once
    netlab.py publish-address NAME HOST IP
    netlab.py publish-service NAME [--host HOST] [--subtype SUB]... INSTANCE TYPE PORT [TXT...]
    netlab.py publish-many NAME FILE    one JSON object per line: {"address": [HOST, IP]} or
                                        {"service": [INSTANCE, TYPE, PORT], "host": HOST,
                                         "subtypes": [...], "txt": [...]}
    netlab.py publish-static NAME FILE  the same lines, served by avahi-daemon itself from its
                                        service and hosts files: no client per announcement, for
                                        labs with many devices; one handle for all of them
    netlab.py withdraw NAME HANDLE...   end announcements
    netlab.py exec NAME -- COMMAND...   run a command inside the namespace, on the lab's bus
    netlab.py stop-avahi NAME           end the lab's avahi-daemon; its bus stays
    netlab.py restart-avahi NAME        end the lab's avahi-daemon and start it again

The publish commands print, once avahi has established the announcements, one handle for each
(publish-static: one for all of them).
`up` exits with 77 when this machine cannot create a network namespace.
"""

import argparse
import fcntl
import json
import os
import re
import secrets
import shutil
import signal
import subprocess
import sys
import time

STATE_ROOT = os.environ.get("NETLAB_STATE_DIR", "/run/netlab")
CANNOT_CREATE_NAMESPACE = 77
INTERFACE = "kv0"
PEER = "kv1"
STARTUP_SECONDS = 30
POLL_SECONDS = 0.02

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
  <!-- A machine's system bus allows no more: Avahi's Bonjour layer opens one connection per
       operation, and the program must live within these. -->
  <limit name="max_connections_per_user">256</limit>
  <limit name="max_completed_connections">2048</limit>
  <limit name="max_incomplete_connections">64</limit>
  <limit name="max_match_rules_per_connection">512</limit>
</busconfig>
"""

AVAHI_CONFIG = """[server]
host-name={host}
use-ipv4=yes
use-ipv6=no
allow-interfaces={interface}
enable-dbus=yes
ratelimit-interval-usec=0
ratelimit-burst=0

[wide-area]
enable-wide-area=no

[publish]
publish-workstation=no
publish-hinfo=no

[rlimits]
"""


class LabError(Exception):
    pass


def fail(message, code=1):
    print("netlab: " + message, file=sys.stderr)
    sys.exit(code)


def run(*command, check=True):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if check and result.returncode != 0:
        raise LabError("{} failed: {}".format(" ".join(command), result.stderr.strip()))
    return result


def state_dir(name):
    return os.path.join(STATE_ROOT, name)


def load(name):
    try:
        with open(os.path.join(state_dir(name), "state.json")) as f:
            return json.load(f)
    except FileNotFoundError:
        raise LabError("no lab named " + name)


def save(state):
    path = os.path.join(state["state_dir"], "state.json")
    with open(path + ".new", "w") as f:
        json.dump(state, f, indent=1)
    os.replace(path + ".new", path)


class Locked:
    """Serialises changes to the labs' state across netlab processes."""

    def __enter__(self):
        os.makedirs(STATE_ROOT, exist_ok=True)
        self.file = open(os.path.join(STATE_ROOT, ".lock"), "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        fcntl.flock(self.file, fcntl.LOCK_UN)
        self.file.close()


# A process is identified by its PID and its start time, so that a reused PID is never killed.
def start_time(pid):
    try:
        with open("/proc/{}/stat".format(pid)) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return None if fields[0] == "Z" else int(fields[19])
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return None


def identify(pid):
    return {"pid": pid, "start": start_time(pid)}


def alive(process):
    return process["start"] is not None and start_time(process["pid"]) == process["start"]


def stop(processes):
    running = [p for p in processes if alive(p)]
    for process in running:
        try:
            os.kill(process["pid"], signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 5
    while any(alive(p) for p in running) and time.monotonic() < deadline:
        time.sleep(POLL_SECONDS)
    for process in running:
        if alive(process):
            os.kill(process["pid"], signal.SIGKILL)


def spawn(command, log_path, env=None):
    with open(log_path, "w") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, env=env, start_new_session=True)
    return process


def wait_for_line(process, log_path, wanted, what):
    """Waits until the process has written the line it writes once it is ready."""
    deadline = time.monotonic() + STARTUP_SECONDS
    while time.monotonic() < deadline:
        with open(log_path) as f:
            text = f.read()
        if wanted in text:
            return
        if process.poll() is not None:
            raise LabError("{} ended: {}".format(what, text.strip()))
        time.sleep(POLL_SECONDS)
    raise LabError("{} did not start within {} s".format(what, STARTUP_SECONDS))


def lab_env(state):
    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = state["bus"]
    return env


def netns_command(state, *command):
    return ["ip", "netns", "exec", state["name"]] + list(command)


def free_subnet():
    used = set()
    if os.path.isdir(STATE_ROOT):
        for entry in os.listdir(STATE_ROOT):
            try:
                used.add(load(entry)["subnet_index"])
            except (LabError, ValueError, KeyError, NotADirectoryError):
                pass
    for index in range(1, 255):
        if index not in used:
            return index
    raise LabError("all 254 lab subnets are in use")


def up(owner):
    if os.geteuid() != 0:
        fail("cannot create a network namespace: not running as root", CANNOT_CREATE_NAMESPACE)
    name = "kvlab-" + secrets.token_hex(4)
    created = run("ip", "netns", "add", name, check=False)
    if created.returncode != 0:
        fail("cannot create a network namespace: " + created.stderr.strip(),
             CANNOT_CREATE_NAMESPACE)
    directory = state_dir(name)
    with Locked():
        index = free_subnet()
        os.makedirs(directory)
        state = {
            "name": name,
            "state_dir": directory,
            "subnet_index": index,
            "subnet": "10.77.{}".format(index),
            "interface": INTERFACE,
            "bus": "unix:path=" + os.path.join(directory, "bus.socket"),
            "host": name + ".local",
            "owner": identify(owner) if owner else None,
            "daemons": [],
            "publishers": [],
        }
        save(state)
    try:
        start_lab(state)
    except LabError:
        down(name)
        raise
    print(json.dumps(describe(state)))


def start_lab(state):
    name = state["name"]
    for command in (["ip", "link", "add", INTERFACE, "type", "veth", "peer", "name", PEER],
                    ["ip", "link", "set", INTERFACE, "multicast", "on", "up"],
                    ["ip", "link", "set", PEER, "up"],
                    ["ip", "addr", "add", state["subnet"] + ".1/24", "dev", INTERFACE],
                    ["ip", "link", "set", "lo", "up"]):
        run("ip", "netns", "exec", name, *command)

    directory = state["state_dir"]
    with open(os.path.join(directory, "bus.conf"), "w") as f:
        f.write(BUS_CONFIG.format(socket=os.path.join(directory, "bus.socket")))
    bus_log = os.path.join(directory, "bus.log")
    bus = spawn(["dbus-daemon", "--config-file=" + os.path.join(directory, "bus.conf"),
                 "--nofork", "--nopidfile", "--print-address=1"], bus_log)
    state["daemons"].append(identify(bus.pid))
    save(state)
    wait_for_line(bus, bus_log, "unix:path=", "dbus-daemon")

    with open(os.path.join(directory, "avahi.conf"), "w") as f:
        f.write(AVAHI_CONFIG.format(host=name, interface=INTERFACE))
    os.makedirs(os.path.join(directory, "services"))
    open(os.path.join(directory, "hosts"), "w").close()
    start_avahi(state)


def start_avahi(state):
    """Starts the lab's avahi-daemon and records it as the last of its daemons."""
    directory = state["state_dir"]
    # avahi-daemon refuses to start beside another one holding /run/avahi-daemon/pid: each lab's
    # daemon gets a private mount of that folder (and no service files of the machine's).
    os.makedirs("/run/avahi-daemon", exist_ok=True)
    script = ("mount -t tmpfs tmpfs /run/avahi-daemon && "
              "mkdir -p /etc/avahi/services && mount --bind {services} /etc/avahi/services && "
              "touch /etc/avahi/hosts && mount --bind {hosts} /etc/avahi/hosts && "
              "exec avahi-daemon -f {config} --no-drop-root --no-chroot --no-rlimits"
              ).format(services=os.path.join(directory, "services"),
                       hosts=os.path.join(directory, "hosts"),
                       config=os.path.join(directory, "avahi.conf"))
    avahi_log = os.path.join(directory, "avahi.log")
    # ip netns exec, unshare and sh all exec: the PID is avahi-daemon's.
    avahi = spawn(netns_command(state, "unshare", "-m", "sh", "-c", script), avahi_log,
                  lab_env(state))
    state["daemons"].append(identify(avahi.pid))
    save(state)
    wait_for_line(avahi, avahi_log, "Server startup complete", "avahi-daemon")


def describe(state):
    return {key: state[key] for key in ("name", "subnet", "interface", "bus", "host", "state_dir")}


def down(name):
    with Locked():
        try:
            state = load(name)
        except LabError:
            state = None
        if state:
            stop([p for p in state["publishers"]])
            stop(list(reversed(state["daemons"])))
        run("ip", "netns", "del", name, check=False)
        shutil.rmtree(state_dir(name), ignore_errors=True)


def gc():
    if not os.path.isdir(STATE_ROOT):
        return
    for entry in os.listdir(STATE_ROOT):
        try:
            state = load(entry)
        except (LabError, ValueError, NotADirectoryError):
            continue
        if state.get("owner") and not alive(state["owner"]):
            down(entry)


def add_addresses(name, ips, peer=False):
    load(name)
    device = PEER if peer else INTERFACE
    commands = "".join("addr add {}/24 dev {}\n".format(ip, device) for ip in ips)
    result = subprocess.run(["ip", "netns", "exec", name, "ip", "-batch", "-"], input=commands,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise LabError("adding addresses failed: " + result.stderr.strip())


def start_publishers(name, announcements):
    """Starts one avahi-publish process per announcement, then waits for all of them."""
    state = load(name)
    started = []
    for number, (command, what) in enumerate(announcements):
        log_path = os.path.join(state["state_dir"],
                                "publish-{}-{}.log".format(os.getpid(), number))
        process = spawn(netns_command(state, *command), log_path, lab_env(state))
        started.append((process, log_path, what))
    with Locked():
        state = load(name)
        state["publishers"].extend(identify(p.pid) for p, _, _ in started)
        save(state)
    for process, log_path, what in started:
        wait_for_line(process, log_path, "Established under name", what)
    for process, _, _ in started:
        print(process.pid)


def address_announcement(host, ip):
    return (["avahi-publish-address", "-R", host, ip], "avahi-publish-address " + host)


def service_announcement(instance, regtype, port, host=None, subtypes=(), txt=()):
    command = ["avahi-publish-service"]
    if host:
        command += ["-H", host]
    for subtype in subtypes:
        command += ["--subtype", "{}._sub.{}".format(subtype, regtype)]
    command += [instance, regtype, str(port)] + list(txt)
    return (command, "avahi-publish-service " + instance)


def publish_many(name, path):
    announcements = []
    with open(path) as f:
        for line in f:
            if not line.strip():
                continue
            entry = json.loads(line)
            if "address" in entry:
                announcements.append(address_announcement(*entry["address"]))
            else:
                instance, regtype, port = entry["service"]
                announcements.append(service_announcement(
                    instance, regtype, port, entry.get("host"), entry.get("subtypes", []),
                    entry.get("txt", [])))
    start_publishers(name, announcements)


def xml(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


STATIC_PREFIX = "static-"
SERVICE_ESTABLISHED = re.compile(r'^Service ".*" \(.*/([^/]+)\) successfully established\.$')
SERVICE_VANISHED = re.compile(r"^Service group file .*/([^/]+) vanished, removing services\.$")
HOST_ESTABLISHED = re.compile(r'^Static host name "(.+)" successfully established\.$')
HOST_VANISHED = re.compile(r"^Static hostname (.+) vanished, removing\.$")


def service_file(entry):
    instance, regtype, port = entry["service"]
    lines = ['<?xml version="1.0" standalone="no"?>',
             '<!DOCTYPE service-group SYSTEM "avahi-service.dtd">',
             "<service-group>", "<name>{}</name>".format(xml(instance)), "<service>",
             "<type>{}</type>".format(xml(regtype))]
    lines += ["<subtype>{}._sub.{}</subtype>".format(xml(sub), xml(regtype))
              for sub in entry.get("subtypes", [])]
    if entry.get("host"):
        lines.append("<host-name>{}</host-name>".format(xml(entry["host"])))
    lines.append("<port>{}</port>".format(port))
    lines += ["<txt-record>{}</txt-record>".format(xml(t)) for t in entry.get("txt", [])]
    lines += ["</service>", "</service-group>"]
    return "\n".join(lines) + "\n"


def write_hosts(state, lines):
    # In place: avahi-daemon sees this very file through a bind mount.
    with open(os.path.join(state["state_dir"], "hosts"), "w") as hosts:
        hosts.writelines(lines)


def read_hosts(state):
    with open(os.path.join(state["state_dir"], "hosts")) as hosts:
        return hosts.readlines()


def reload_until(state, change, wanted, what):
    """Makes the change to avahi-daemon's service and hosts files, has it reload them, and
    waits until its log, from before the change on, holds every wanted (pattern, names) pair:
    the daemon also reloads by itself as soon as it sees a file change."""
    log_path = os.path.join(state["state_dir"], "avahi.log")
    offset = os.path.getsize(log_path)
    missing = [(pattern, set(names)) for pattern, names in wanted]
    change()
    os.kill(state["daemons"][-1]["pid"], signal.SIGHUP)
    deadline = time.monotonic() + STARTUP_SECONDS
    with open(log_path) as log:
        log.seek(offset)
        pending = ""
        while any(names for _, names in missing):
            if time.monotonic() > deadline:
                raise LabError("avahi-daemon did not " + what)
            pending += log.read()
            *lines, pending = pending.split("\n")
            if not lines:
                time.sleep(POLL_SECONDS)
            for line in lines:
                for pattern, names in missing:
                    match = pattern.match(line)
                    if match:
                        names.discard(match.group(1))


def publish_static(name, path):
    """Serves the announcements from avahi-daemon's own files: the addresses first, so that
    every service can be resolved as soon as it appears. Prints one handle for all of them."""
    handle = STATIC_PREFIX + secrets.token_hex(4)
    hosts, services = [], []
    with open(path) as f:
        for line in f:
            if line.strip():
                entry = json.loads(line)
                (hosts if "address" in entry else services).append(entry)
    names = [entry["address"][0] for entry in hosts]
    files = ["{}-{}.service".format(handle, number) for number in range(1, len(services) + 1)]
    with Locked():
        state = load(name)
        directory = state["state_dir"]

        def add_hosts():
            write_hosts(state, read_hosts(state) + ["{} {}\n".format(ip, host)
                                                    for host, ip in (e["address"] for e in hosts)])

        def add_services():
            for file_name, entry in zip(files, services):
                # Moved into place whole: avahi-daemon reloads as soon as the folder changes.
                with open(os.path.join(directory, file_name), "w") as out:
                    out.write(service_file(entry))
                os.rename(os.path.join(directory, file_name),
                          os.path.join(directory, "services", file_name))

        if names:
            reload_until(state, add_hosts, [(HOST_ESTABLISHED, names)],
                         "establish the static host names")
        if files:
            reload_until(state, add_services, [(SERVICE_ESTABLISHED, files)],
                         "establish the static services")
        state.setdefault("static", {})[handle] = {"services": files, "hosts": names}
        save(state)
    print(handle)


def withdraw_static(state, handle):
    """Removes the services of one publish-static, then their addresses."""
    published = state["static"].pop(handle)
    gone = set(published["hosts"])

    def remove_services():
        for file_name in published["services"]:
            os.remove(os.path.join(state["state_dir"], "services", file_name))

    def remove_hosts():
        write_hosts(state, [line for line in read_hosts(state)
                            if line.split()[1:2] and line.split()[1] not in gone])

    if published["services"]:
        reload_until(state, remove_services, [(SERVICE_VANISHED, published["services"])],
                     "withdraw the static services")
    if gone:
        reload_until(state, remove_hosts, [(HOST_VANISHED, gone)],
                     "withdraw the static host names")


def withdraw(name, handles):
    with Locked():
        state = load(name)
        static = {handle for handle in handles if handle.startswith(STATIC_PREFIX)}
        pids = {int(handle) for handle in handles if handle not in static}
        unknown = (pids - {p["pid"] for p in state["publishers"]}) | (
            static - set(state.get("static", {})))
        if unknown:
            raise LabError("no announcement {} in lab {}".format(sorted(unknown, key=str), name))
        stop([p for p in state["publishers"] if p["pid"] in pids])
        state["publishers"] = [p for p in state["publishers"] if p["pid"] not in pids]
        for handle in sorted(static):
            withdraw_static(state, handle)
        save(state)


def stop_avahi(name):
    with Locked():
        # The daemon started last is avahi-daemon.
        stop([load(name)["daemons"][-1]])


def restart_avahi(name):
    """Ends the lab's avahi-daemon as a package upgrade would, and starts it again. Announcements
    of avahi-publish clients are lost with it (their processes stay); static ones come back."""
    with Locked():
        state = load(name)
        stop([state["daemons"].pop()])
        save(state)
        start_avahi(state)


def exec_in(name, command):
    state = load(name)
    if command and command[0] == "--":
        command = command[1:]
    if not command:
        raise LabError("exec needs a command")
    os.execvpe("ip", netns_command(state, *command), lab_env(state))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("up")
    p.add_argument("--owner", type=int, default=0)
    commands.add_parser("gc")
    for command in ("down", "info"):
        commands.add_parser(command).add_argument("name")
    p = commands.add_parser("address")
    p.add_argument("name")
    p.add_argument("--peer", action="store_true")
    p.add_argument("ips", nargs="+")
    p = commands.add_parser("publish-address")
    p.add_argument("name")
    p.add_argument("host")
    p.add_argument("ip")
    p = commands.add_parser("publish-service")
    p.add_argument("name")
    p.add_argument("--host")
    p.add_argument("--subtype", action="append", default=[])
    p.add_argument("instance")
    p.add_argument("regtype")
    p.add_argument("port", type=int)
    p.add_argument("txt", nargs="*")
    p = commands.add_parser("publish-many")
    p.add_argument("name")
    p.add_argument("file")
    p = commands.add_parser("publish-static")
    p.add_argument("name")
    p.add_argument("file")
    p = commands.add_parser("withdraw")
    p.add_argument("name")
    p.add_argument("handles", nargs="+")
    commands.add_parser("stop-avahi").add_argument("name")
    commands.add_parser("restart-avahi").add_argument("name")
    p = commands.add_parser("exec")
    p.add_argument("name")
    p.add_argument("args", nargs=argparse.REMAINDER)
    args = parser.parse_args()

    try:
        if args.command == "up":
            up(args.owner)
        elif args.command == "down":
            down(args.name)
        elif args.command == "gc":
            gc()
        elif args.command == "info":
            print(json.dumps(describe(load(args.name))))
        elif args.command == "address":
            add_addresses(args.name, args.ips, args.peer)
        elif args.command == "publish-address":
            start_publishers(args.name, [address_announcement(args.host, args.ip)])
        elif args.command == "publish-service":
            start_publishers(args.name, [service_announcement(
                args.instance, args.regtype, args.port, args.host, args.subtype, args.txt)])
        elif args.command == "publish-many":
            publish_many(args.name, args.file)
        elif args.command == "publish-static":
            publish_static(args.name, args.file)
        elif args.command == "withdraw":
            withdraw(args.name, args.handles)
        elif args.command == "stop-avahi":
            stop_avahi(args.name)
        elif args.command == "restart-avahi":
            restart_avahi(args.name)
        elif args.command == "exec":
            exec_in(args.name, args.args)
    except LabError as error:
        fail(str(error))


if __name__ == "__main__":
    main()
