#!/usr/bin/env python3
"""The simulated studio: a private network (a netlab lab) with simulated Kelmora devices of
every family announced over DNS-SD, and a release server with a publish file and packages.

    studio.py run [OPTIONS] -- COMMAND...   bring the studio up, run COMMAND inside it, and
                                            take everything down when it ends
    studio.py up --state DIR [OPTIONS]      bring the studio up in the background
    studio.py exec --state DIR -- COMMAND   run COMMAND inside a studio brought up with `up`
    studio.py down --state DIR              take that studio down

OPTIONS: --description FILE (default: studio.json beside this script), --download-rate BYTES
(the server sends packages at about that many bytes per second; 0: as fast as it can),
--device-behaviour JSON (device simulator settings for every device, e.g. {"phase_ms": 1500}).

COMMAND runs inside the studio's network namespace with these variables:
    KV_STUDIO_PUBLISH_URL   the publish file's URL (the program's "publish_file" setting)
    KV_STUDIO_STATE         the studio's folder: received images, device and server logs
    DBUS_SYSTEM_BUS_ADDRESS the bus of the studio's avahi-daemon
Exit code: COMMAND's; 77 when this machine cannot create a network namespace.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from kvstudio import description as studio_description
from kvstudio import lab as studio_lab
from kvstudio.studio import Studio

UP_DEADLINE_S = 120
DOWN_DEADLINE_S = 60
READY_FILE = "ready"
PID_FILE = "studio.pid"
LAB_FILE = "lab.json"


def studio_environment(state_dir, publish_url):
    env = dict(os.environ)
    env.update({"KV_STUDIO_PUBLISH_URL": publish_url, "KV_STUDIO_STATE": state_dir})
    return env


def summary(studio):
    lines = ["Studio up. Publish file: " + studio.description.publish_url]
    for device in studio.description.devices:
        lines.append("  %-24s %-14s %-24s %s" % (device.name, studio.address(device.name),
                                                 device.product, device.version))
    return "\n".join(lines)


def serve(args):
    """Inside the lab: runs the studio until COMMAND ends, or until told to stop."""
    def stop(*_):
        raise SystemExit(128 + signal.SIGTERM)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    description = studio_description.load(args.description, args.download_rate,
                                          json.loads(args.device_behaviour))
    command = None
    try:
        with Studio(os.path.join(args.state, "studio"), description) as studio:
            print(summary(studio), flush=True)
            env = studio_environment(studio.state_dir, description.publish_url)
            if not args.command:
                with open(os.path.join(args.state, READY_FILE), "w") as ready:
                    json.dump({"publish_url": description.publish_url,
                               "state": studio.state_dir}, ready)
                signal.pause()
            command = subprocess.Popen(args.command, env=env)
            return command.wait()
    finally:
        if command and command.poll() is None:
            command.terminate()
            command.wait()


def run(args):
    """Outside: brings the lab up, serves the studio inside it, and brings the lab down."""
    state = args.state or tempfile.mkdtemp(prefix="kvstudio-")
    try:
        try:
            lab = studio_lab.Lab.up()
        except studio_lab.LabUnavailable as reason:
            print("studio: %s" % reason, file=sys.stderr)
            return studio_lab.CANNOT_CREATE_NAMESPACE
        try:
            with open(os.path.join(state, LAB_FILE), "w") as out:
                json.dump(lab.description, out)
            serve_argv = [sys.executable, os.path.abspath(__file__), "serve", "--state", state,
                          "--description", args.description,
                          "--download-rate", str(args.download_rate),
                          "--device-behaviour", args.device_behaviour, "--"] + args.command
            return lab.run(serve_argv)
        finally:
            lab.down()
    finally:
        if not args.state:
            shutil.rmtree(state, ignore_errors=True)


def up(args):
    os.makedirs(args.state, exist_ok=True)
    for stale in (READY_FILE, PID_FILE, LAB_FILE):
        if os.path.exists(os.path.join(args.state, stale)):
            sys.exit("studio: %s is in use; take it down first" % args.state)
    log = open(os.path.join(args.state, "studio.log"), "wb")
    process = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "run", "--state", args.state,
         "--description", args.description, "--download-rate", str(args.download_rate),
         "--device-behaviour", args.device_behaviour],
        stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    log.close()
    with open(os.path.join(args.state, PID_FILE), "w") as out:
        out.write(str(process.pid))
    deadline = time.monotonic() + UP_DEADLINE_S
    ready = os.path.join(args.state, READY_FILE)
    while not os.path.exists(ready):
        if process.poll() is not None or time.monotonic() > deadline:
            down(args)
            sys.exit("studio: did not come up; see %s" % os.path.join(args.state, "studio.log"))
        time.sleep(0.2)
    with open(os.path.join(args.state, "studio.log")) as log_text:
        print(log_text.read(), end="")
    return 0


def exec_inside(args):
    with open(os.path.join(args.state, LAB_FILE)) as lab_file:
        lab = studio_lab.Lab(json.load(lab_file))
    with open(os.path.join(args.state, READY_FILE)) as ready_file:
        ready = json.load(ready_file)
    return lab.run(args.command, studio_environment(ready["state"], ready["publish_url"]))


def down(args):
    pid_path = os.path.join(args.state, PID_FILE)
    try:
        with open(pid_path) as pid_file:
            pid = int(pid_file.read())
    except FileNotFoundError:
        sys.exit("studio: nothing runs from %s" % args.state)
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            ours = os.path.abspath(__file__).encode() in cmdline.read()
    except FileNotFoundError:
        ours = False
    if ours:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + DOWN_DEADLINE_S
        while os.path.exists("/proc/%d" % pid) and time.monotonic() < deadline:
            time.sleep(0.2)
    for name in (READY_FILE, PID_FILE, LAB_FILE):
        if os.path.exists(os.path.join(args.state, name)):
            os.remove(os.path.join(args.state, name))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="action", required=True)
    for name in ("run", "up", "serve"):
        command = commands.add_parser(name)
        command.add_argument("--state", required=name != "run")
        command.add_argument("--description", default=studio_description.DEFAULT_PATH)
        command.add_argument("--download-rate", type=int, default=0)
        command.add_argument("--device-behaviour", default="{}")
        if name != "up":
            command.add_argument("command", nargs=argparse.REMAINDER)
    command = commands.add_parser("exec")
    command.add_argument("--state", required=True)
    command.add_argument("command", nargs=argparse.REMAINDER)
    commands.add_parser("down").add_argument("--state", required=True)
    args = parser.parse_args()
    if getattr(args, "command", None) and args.command[0] == "--":
        args.command = args.command[1:]
    if args.action == "exec" and not args.command:
        parser.error("exec needs a command")
    actions = {"run": run, "up": up, "serve": serve, "exec": exec_inside, "down": down}
    return actions[args.action](args)


if __name__ == "__main__":
    sys.exit(main())
