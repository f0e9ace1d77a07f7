#!/usr/bin/env python3
"""A simulated Kelmora device: one process per device, bound to its own loopback address.

Port 80 answers the status queries, port 8080 the update state, the commands and the
firmware upload. A third port (8099 by default) is the lab's own control endpoint:

    GET  /lab/state    the device's state and counters as JSON
    POST /lab/config   a JSON object whose members replace the behaviour settings below

The device announces nothing itself. It prints "READY <address>" on standard output once all
ports listen, and with --watch-stdin it ends when its standard input closes, so a test that
dies takes its devices with it.

Firmware images carry the version the device reports after the reboot that follows them:

    KELMORA-FIRMWARE-IMAGE 1\\n
    version=<version text>\\n
    generation=<number>\\n          (optional)
    \\n
    <payload>

`--make-image PATH --image-version V --image-size N` writes such an image and exits.
"""

import argparse
import base64
import json
import os
import random
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

IMAGE_MAGIC = b"KELMORA-FIRMWARE-IMAGE 1\n"
CREDENTIALS = "dvus:dvpw"
CHUNK = 1 << 20
OVERSIZED_PADDING = 70000

STATE_NONE, STATE_UPLOADING, STATE_UPDATING, STATE_FAILED, STATE_FINISHED, STATE_RESIZING = range(6)
TERMINAL_STATES = (STATE_FAILED, STATE_FINISHED)

DEFAULT_BEHAVIOUR = {
    # Port 80 as a whole: "answer", "refuse" (close without a reply), "stall", "trickle" (the
    # headers at once, then the answer at trickle_bytes_per_s) or "oversized" (the answer
    # padded with blanks past 64 KiB).
    "status_service": "answer",
    "trickle_bytes_per_s": 1,
    # The update-state request on port 8080: "answer" or "refuse" (HTTP 503).
    "state_request": "answer",
    # Commands (reboot) on port 8080: "answer" or "stall".
    "commands": "answer",
    # False: every state reply says 0 (no information), whatever the device does.
    "report_state": True,
    # False: state replies carry no "text".
    "report_text": True,
    # The next N accepted uploads end in state 3.
    "fail_uploads": 0,
    # The next N uploads lose their connection halfway through the body.
    "drop_uploads": 0,
    # The next N uploads are never answered.
    "stall_uploads": 0,
    # The next N updates report state 4 and then never answer their upload.
    "stall_finished_uploads": 0,
    # How long a failed update shows state 3 before the device answers the upload; 0: until a
    # state query has seen it. Either way the device is idle again once one has.
    "failure_shown_ms": 0,
    # While writing the image, neither service answers for busy_ms (port 80 holds its
    # requests, port 8080 answers 503), and then state replies carry no "state" for blank_ms.
    "busy_ms": 0,
    "blank_ms": 0,
    # The next N updates end in a reboot of the device's own: both service ports go away
    # (connections refused, open ones cut) for reboot_down_ms, then the device is back, idle.
    # The reboot command takes them away for as long.
    "reboot_updates": 0,
    # "updating": reboot_after_ms into writing the image, which is lost (the old version comes
    # back); "applied": once the image is in and the upload answered, before any reboot
    # command (the new version comes back).
    "reboot_point": "updating",
    "reboot_after_ms": 0,
    "reboot_down_ms": 1500,
    # The next N reboot commands bring the device back running the version it ran before, as
    # if the image it took had not been applied.
    "reject_images": 0,
    # How the upload's connection ends at an "updating" reboot: "reset", as a device that shuts
    # its network down, or "silent", as one that lost power: nothing more comes on it (for
    # stall_s), not even when the device is back.
    "reboot_cut": "reset",
    "resize_partitions": False,
    # Each phase shown to at least one state query before the next (bounded by hold_ms).
    "lockstep": False,
    "phase_ms": 20,
    # How long the upload reply waits for a state query to have seen the final state.
    "hold_ms": 10000,
    # How long the device works on an image it received before it answers the upload.
    "upload_delay_ms": 0,
    "stall_s": 300,
    # How long a HEAD request on port 80 waits before its answer (port 80 as a whole still
    # follows "status_service").
    "head_delay_ms": 0,
    "dante_capable": False,
    "dante_running": False,
}


def parse_image_header(path):
    """Returns (version, generation) of an image file, or None when it is not an image."""
    with open(path, "rb") as image:
        head = image.read(4096)
    if not head.startswith(IMAGE_MAGIC):
        return None
    end = head.find(b"\n\n", len(IMAGE_MAGIC) - 1)
    if end < 0:
        return None
    fields = {}
    for line in head[len(IMAGE_MAGIC):end].split(b"\n"):
        key, _, value = line.decode("utf-8", "replace").partition("=")
        fields[key] = value
    if not fields.get("version"):
        return None
    return fields["version"], int(fields.get("generation") or 1)


def make_image(path, version, size, generation):
    header = IMAGE_MAGIC + ("version=%s\ngeneration=%d\n\n" % (version, generation)).encode()
    remaining = max(0, size - len(header))
    rng = random.Random(version)
    with open(path, "wb") as out:
        out.write(header)
        while remaining > 0:
            n = min(CHUNK, remaining)
            out.write(rng.randbytes(n))
            remaining -= n


class Device:
    """The device's state; every member is guarded by `cond`."""

    def __init__(self, args):
        self.cond = threading.Condition()
        self.stopping = threading.Event()
        self.behaviour = dict(DEFAULT_BEHAVIOUR)
        self.behaviour["dante_capable"] = args.dante_capable
        self.behaviour["dante_running"] = args.dante_running
        self.serial = args.serial
        self.version = args.version
        self.generation = args.generation
        self.image_file = args.image_file
        self.state = STATE_NONE
        self.percent = 0
        self.text = None
        self.pending = None
        # The status and command servers, which a reboot of the device's own takes down.
        self.services = []
        self.down = False
        # Incremented whenever a state query is answered with the current phase.
        self.phase_serial = 0
        self.phase_seen = True
        # Monotonic times until which the device is too busy to answer, and then answers blank.
        self.busy_until = 0
        self.blank_until = 0
        self.counters = {
            "status_queries": 0,
            "state_requests": 0,
            "refused_state_requests": 0,
            "auth_failures": 0,
            "uploads_started": 0,
            "uploads_received": 0,
            "uploads_failed": 0,
            "uploads_dropped": 0,
            "reboot_commands": 0,
            "reboots": 0,
            "head_requests": 0,
        }
        self.last_upload = {}

    def count(self, name):
        with self.cond:
            self.counters[name] += 1

    def set_phase(self, state, percent, text):
        with self.cond:
            self.state, self.percent, self.text = state, percent, text
            self.phase_seen = False
            self.cond.notify_all()

    def state_object(self):
        with self.cond:
            if not self.behaviour["report_state"]:
                return {"state": 0}
            if time.monotonic() < self.blank_until:
                return {}
            self.phase_seen = True
            self.cond.notify_all()
            value = {"state": self.state, "percent": self.percent}
            if self.text is not None and self.behaviour["report_text"]:
                value["text"] = self.text
            return value

    def wait_seen(self, timeout_s):
        """Waits until the current phase was answered to a state query, or the time is up."""
        deadline = time.monotonic() + timeout_s
        with self.cond:
            while not self.phase_seen and not self.stopping.is_set():
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                self.cond.wait(left)

    def observable(self):
        """Whether any state query can see the device's phases."""
        b = self.behaviour
        return b["report_state"] and (
            b["status_service"] == "answer" or b["state_request"] == "answer"
        )

    def pause(self, ms):
        self.stopping.wait(ms / 1000.0)

    def take(self, name):
        """Consumes one of the next-N behaviour counters; True when one was left."""
        with self.cond:
            if self.behaviour[name] > 0:
                self.behaviour[name] -= 1
                return True
            return False

    def snapshot(self):
        with self.cond:
            return {
                "serial": self.serial,
                "version": self.version,
                "generation": self.generation,
                "state": self.state,
                "percent": self.percent,
                "text": self.text,
                "pending_version": self.pending[0] if self.pending else None,
                "down": self.down,
                "counters": dict(self.counters),
                "last_upload": dict(self.last_upload),
                "behaviour": dict(self.behaviour),
            }

    def run_update(self, image_path, reboot_while_updating=False):
        """Moves through the device's phases after an image arrived; True when it succeeded.
        Raises Rebooted when the device reboots on its own while it writes the image."""
        b = self.behaviour
        header = parse_image_header(image_path) if image_path else None
        lockstep_s = b["hold_ms"] / 1000.0 if b["lockstep"] and self.observable() else 0

        def phase(state, percent, text):
            self.set_phase(state, percent, text)
            if lockstep_s:
                self.wait_seen(lockstep_s)
            self.pause(b["phase_ms"])

        if lockstep_s:
            self.wait_seen(lockstep_s)
        if header is None:
            self.set_phase(STATE_FAILED, 0, "Invalid firmware image")
            return False
        if self.take("fail_uploads"):
            phase(STATE_UPDATING, 40, "Writing firmware")
            self.set_phase(STATE_FAILED, 40, "Firmware update failed")
            return False
        phase(STATE_UPDATING, 40, "Writing firmware")
        if b["busy_ms"] or b["blank_ms"]:
            with self.cond:
                self.busy_until = time.monotonic() + b["busy_ms"] / 1000.0
                self.blank_until = self.busy_until + b["blank_ms"] / 1000.0
            self.pause(b["busy_ms"] + b["blank_ms"])
        if reboot_while_updating:
            self.pause(b["reboot_after_ms"])
            raise Rebooted()
        phase(STATE_UPDATING, 100, "Writing firmware")
        if b["resize_partitions"]:
            phase(STATE_RESIZING, 50, "Resizing partitions")
        with self.cond:
            self.pending = header
        self.set_phase(STATE_FINISHED, 100, "Firmware update finished")
        return True

    def reboot(self, spare):
        """The reboot command: as a reboot of the device's own, with the pending image."""
        self.count("reboot_commands")
        self.reboot_by_itself(not self.take("reject_images"), spare)

    def restart(self, applied):
        """With the lock held: the device comes back idle, running the pending image only when
        `applied`."""
        if applied and self.pending:
            self.version, self.generation = self.pending
        self.pending = None
        self.counters["reboots"] += 1
        self.state, self.percent, self.text = STATE_NONE, 0, None
        self.phase_seen = True
        self.cond.notify_all()

    def reboot_by_itself(self, applied, spare):
        """Takes both service ports down for reboot_down_ms, cutting their open connections but
        `spare`; the device comes back idle, running the pending image only when `applied`."""
        with self.cond:
            self.down = True
        for server in self.services:
            server.go_down(spare)
        with self.cond:
            self.restart(applied)

        def come_back():
            if self.stopping.wait(self.behaviour["reboot_down_ms"] / 1000.0):
                return
            for server in self.services:
                server.come_back()
            with self.cond:
                self.down = False

        threading.Thread(target=come_back, daemon=True).start()


class DroppedConnection(Exception):
    pass


class Rebooted(Exception):
    pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KelmoraDevice/1.0"

    @property
    def device(self):
        return self.server.device

    def setup(self):
        super().setup()
        self.server.opened(self.connection)

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("[%s:%d] %s\n" % (self.server.address, self.server.port, fmt % args))

    def handle(self):
        try:
            super().handle()
        except (DroppedConnection, ConnectionError, BrokenPipeError):
            self.close_connection = True

    def finish(self):
        self.server.closed(self.connection)
        try:
            super().finish()
        except (OSError, ValueError):
            pass

    def send_json(self, code, value):
        body = json.dumps(value).encode()
        style = self.device.behaviour["status_service"] if self.server.role == "status" \
            else "answer"
        if style == "oversized":
            body += b" " * OVERSIZED_PADDING
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if style == "trickle":
            return self.trickle(body)
        self.wfile.write(body)
        return None

    def trickle(self, body):
        pause_s = 1.0 / self.device.behaviour["trickle_bytes_per_s"]
        for i in range(len(body)):
            self.wfile.write(body[i:i + 1])
            if self.device.stopping.wait(pause_s):
                break

    def authorised(self):
        expected = "Basic " + base64.b64encode(CREDENTIALS.encode()).decode()
        if self.headers.get("Authorization") == expected:
            return True
        self.device.count("auth_failures")
        body = b'{"error":"Unauthorized"}'
        self.send_response(401)
        self.send_header("WWW-Authenticate", 'Basic realm="device"')
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        return False

    def stall(self):
        self.device.stopping.wait(self.device.behaviour["stall_s"])
        self.close_connection = True

    def refuse(self):
        self.close_connection = True

    def drain(self):
        length = int(self.headers.get("Content-Length") or 0)
        while length > 0:
            length -= len(self.rfile.read(min(CHUNK, length)))

    def path_text(self):
        return urllib.parse.unquote(self.path)

    # Port 80: status queries.
    def busy_for(self):
        with self.device.cond:
            return self.device.busy_until - time.monotonic()

    def status_get(self):
        busy = self.busy_for()
        if busy > 0:
            self.device.pause(busy * 1000)
            return self.refuse()
        mode = self.device.behaviour["status_service"]
        if mode == "stall":
            return self.stall()
        if mode == "refuse":
            return self.refuse()
        prefix = "/API/get_device_status:"
        path = self.path_text()
        if not path.startswith(prefix):
            return self.send_json(404, {"error": "Not found"})
        if not self.authorised():
            return None
        self.device.count("status_queries")
        query = path[len(prefix):]
        d = self.device
        with d.cond:
            values = {
                "$.identity.serial": d.serial,
                "$.identity.version": d.version,
                "$.identity.firmware_generation": d.generation,
                "$._modules[0].state.dante_capable": d.behaviour["dante_capable"],
                "$.identity.Dante": d.behaviour["dante_running"],
            }
        if query == "$._firmware_update.state":
            return self.send_json(200, {"error": "Success", "data": {"value": d.state_object()}})
        if query not in values:
            return self.send_json(200, {"error": "Invalid path"})
        return self.send_json(200, {"error": "Success", "data": {"value": values[query]}})

    # Port 8080: update state, commands and the upload.
    def command_get(self):
        if self.path_text() != "/commands/get_fwupdate_state":
            return self.send_json(404, {"error": "Not found"})
        if self.device.behaviour["state_request"] != "answer" or self.busy_for() > 0:
            self.device.count("refused_state_requests")
            return self.send_json(503, {"error": "Unavailable"})
        if not self.authorised():
            return None
        self.device.count("state_requests")
        return self.send_json(200, {"error": "Success", "data": self.device.state_object()})

    def command_post(self):
        path = self.path_text()
        if path == "/commands/upload":
            return self.upload()
        if path != "/commands/reboot":
            self.drain()
            return self.send_json(404, {"error": "Unknown command"})
        if self.device.behaviour["commands"] == "stall":
            return self.stall()
        self.drain()
        if not self.authorised():
            return None
        self.device.reboot(self.connection)
        self.close_connection = True
        return self.send_json(200, {"error": "Success"})

    def body_chunks(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return
                remaining = size
                while remaining > 0:
                    data = self.rfile.read(min(CHUNK, remaining))
                    if not data:
                        raise DroppedConnection()
                    remaining -= len(data)
                    yield data
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        while length > 0:
            data = self.rfile.read(min(CHUNK, length))
            if not data:
                raise DroppedConnection()
            length -= len(data)
            yield data

    def reset(self):
        # An abortive close: the client sees a reset, not a reply.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        raise DroppedConnection()

    def drop(self):
        self.device.count("uploads_dropped")
        self.reset()

    def reboot_while_updating(self):
        d = self.device
        # The image being written is lost with the reboot.
        try:
            os.remove(self.image_file_for_upload())
        except FileNotFoundError:
            pass
        d.reboot_by_itself(False, self.connection)
        if d.behaviour["reboot_cut"] == "silent":
            return self.stall()
        return self.reset()

    def upload(self):
        d = self.device
        d.count("uploads_started")
        stall = d.take("stall_uploads")
        stall_finished = d.take("stall_finished_uploads")
        drop = d.take("drop_uploads")
        reboot_point = d.behaviour["reboot_point"] if d.take("reboot_updates") else None
        content_type = self.headers.get("Content-Type", "")
        boundary = None
        for item in content_type.split(";"):
            key, _, value = item.strip().partition("=")
            if key == "boundary":
                boundary = value.strip('"').encode()
        if not content_type.startswith("multipart/form-data") or not boundary:
            self.drain()
            return self.send_json(400, {"error": "Expected multipart/form-data"})
        total = int(self.headers.get("Content-Length") or 0)
        target = (self.image_file_for_upload()) + ".part"
        received = 0
        d.set_phase(STATE_UPLOADING, 0, "Uploading firmware")
        part = Multipart(boundary, target)
        for data in self.body_chunks():
            received += len(data)
            part.feed(data)
            if total:
                with d.cond:
                    d.percent = received * 100 // total
            if drop and received * 2 >= max(total, 1):
                part.abandon()
                d.set_phase(STATE_NONE, 0, None)
                return self.drop()
        part.close()
        if stall:
            part.abandon()
            return self.stall()
        with d.cond:
            d.percent = 100
            d.last_upload = {
                "part_name": part.name,
                "file_name": part.file_name,
                "size": part.size,
                "authorization": "Authorization" in self.headers,
                "expect": self.headers.get("Expect"),
            }
        if part.name != "firmware.bin" or not part.complete:
            part.abandon()
            d.set_phase(STATE_FAILED, 0, "No firmware.bin part")
            d.count("uploads_failed")
            return self.send_json(400, {"error": "No firmware.bin part"})
        image = self.image_file_for_upload()
        os.replace(target, image)
        d.count("uploads_received")
        try:
            ok = d.run_update(image, reboot_point == "updating")
        except Rebooted:
            return self.reboot_while_updating()
        d.pause(d.behaviour["upload_delay_ms"])
        if not ok:
            d.count("uploads_failed")
        brief = not ok and d.behaviour["failure_shown_ms"] > 0
        if brief:
            d.pause(d.behaviour["failure_shown_ms"])
        elif d.observable():
            d.wait_seen(d.behaviour["hold_ms"] / 1000.0)
        if stall_finished:
            # As if it lost power: back idle, and the upload's connection silent.
            d.set_phase(STATE_NONE, 0, None)
            return self.stall()
        if not ok and not brief:
            # Idle again before the reply, so the next attempt's poller never reads this failure.
            d.set_phase(STATE_NONE, 0, None)
        elif reboot_point == "applied":
            # The ports go first, so that the program's reboot command finds them gone.
            d.reboot_by_itself(True, self.connection)
            self.close_connection = True
        self.send_json(200, {"error": "Success" if ok else "Firmware update failed"})
        if brief:
            d.wait_seen(d.behaviour["hold_ms"] / 1000.0)
            d.set_phase(STATE_NONE, 0, None)
        return None

    def image_file_for_upload(self):
        return self.device.image_file or os.path.join(
            os.environ.get("TMPDIR", "/tmp"), "kv-device-%s.bin" % self.server.address
        )

    # Port 8099: the lab's control endpoint.
    def control_get(self):
        if self.path_text() != "/lab/state":
            return self.send_json(404, {"error": "Not found"})
        return self.send_json(200, self.device.snapshot())

    def control_post(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b"{}"
        if self.path_text() != "/lab/config":
            return self.send_json(404, {"error": "Not found"})
        try:
            changes = json.loads(body or b"{}")
        except ValueError:
            return self.send_json(400, {"error": "Not JSON"})
        d = self.device
        with d.cond:
            for key, value in changes.items():
                if key in ("serial", "version", "generation", "image_file"):
                    setattr(d, key, value)
                elif key in d.behaviour:
                    d.behaviour[key] = value
                else:
                    return self.send_json(400, {"error": "Unknown setting " + key})
        return self.send_json(200, d.snapshot())

    def do_GET(self):
        role = self.server.role
        if role == "status":
            return self.status_get()
        if role == "command":
            return self.command_get()
        return self.control_get()

    def do_POST(self):
        role = self.server.role
        if role == "command":
            return self.command_post()
        if role == "control":
            return self.control_post()
        self.drain()
        return self.send_json(405, {"error": "Method not allowed"})

    def do_HEAD(self):
        if self.server.role == "status":
            self.device.count("head_requests")
            mode = self.device.behaviour["status_service"]
            if mode == "stall":
                return self.stall()
            if mode == "refuse":
                return self.refuse()
            self.device.pause(self.device.behaviour["head_delay_ms"])
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()


class Multipart:
    """Streams the first part of a multipart body into a file."""

    def __init__(self, boundary, path):
        self.opening = b"--" + boundary
        self.delimiter = b"\r\n--" + boundary
        self.path = path
        self.buffer = b""
        self.headers_done = False
        self.complete = False
        self.name = None
        self.file_name = None
        self.size = 0
        self.out = None

    def feed(self, data):
        if self.complete:
            return
        self.buffer += data
        if not self.headers_done:
            end = self.buffer.find(b"\r\n\r\n")
            if end < 0:
                return
            self.parse_headers(self.buffer[:end].decode("utf-8", "replace"))
            self.buffer = self.buffer[end + 4:]
            self.headers_done = True
            self.out = open(self.path, "wb")
        found = self.buffer.find(self.delimiter)
        if found >= 0:
            self.write(self.buffer[:found])
            self.buffer = b""
            self.complete = True
            return
        keep = len(self.delimiter) - 1
        if len(self.buffer) > keep:
            self.write(self.buffer[:-keep])
            self.buffer = self.buffer[-keep:]

    def write(self, data):
        self.out.write(data)
        self.size += len(data)

    def parse_headers(self, text):
        lines = text.split("\r\n")
        if lines and lines[0] == self.opening.decode():
            lines = lines[1:]
        for line in lines:
            key, _, value = line.partition(":")
            if key.strip().lower() != "content-disposition":
                continue
            for item in value.split(";"):
                k, _, v = item.strip().partition("=")
                if k == "name":
                    self.name = v.strip('"')
                elif k == "filename":
                    self.file_name = v.strip('"')

    def close(self):
        if self.out:
            self.out.close()

    def abandon(self):
        self.close()
        try:
            os.remove(self.path)
        except FileNotFoundError:
            pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, port, role, device, verbose):
        self.address, self.port, self.role = address, port, role
        self.device, self.verbose = device, verbose
        self.connections_lock = threading.Lock()
        self.connections = set()
        super().__init__((address, port), Handler)

    def opened(self, connection):
        with self.connections_lock:
            self.connections.add(connection)

    def closed(self, connection):
        with self.connections_lock:
            self.connections.discard(connection)

    def serve(self):
        threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True).start()

    def go_down(self, spare):
        """Refuses new connections from now on and cuts the open ones but `spare`."""
        self.shutdown()
        self.socket.close()
        with self.connections_lock:
            cut = [c for c in self.connections if c is not spare]
        for connection in cut:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def come_back(self):
        self.socket = socket.socket(self.address_family, self.socket_type)
        self.server_bind()
        self.server_activate()
        self.serve()


def main():
    parser = argparse.ArgumentParser(description="Simulated Kelmora device")
    parser.add_argument("--address", default="127.0.0.2")
    parser.add_argument("--status-port", type=int, default=80)
    parser.add_argument("--command-port", type=int, default=8080)
    parser.add_argument("--control-port", type=int, default=8099)
    parser.add_argument("--serial", default="KV0000001")
    parser.add_argument("--version", default="1.0.0b1")
    parser.add_argument("--generation", type=int, default=1)
    parser.add_argument("--dante-capable", action="store_true")
    parser.add_argument("--dante-running", action="store_true")
    parser.add_argument("--image-file", help="where a received image is written")
    parser.add_argument("--config", help="JSON object of behaviour settings")
    parser.add_argument("--watch-stdin", action="store_true", help="end when stdin closes")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--make-image", metavar="PATH")
    parser.add_argument("--image-version", default="1.0.0b1")
    parser.add_argument("--image-generation", type=int, default=1)
    parser.add_argument("--image-size", type=int, default=4096)
    args = parser.parse_args()

    if args.make_image:
        make_image(args.make_image, args.image_version, args.image_size, args.image_generation)
        return 0

    device = Device(args)
    if args.config:
        device.behaviour.update(json.loads(args.config))
    device.services = [
        Server(args.address, args.status_port, "status", device, args.verbose),
        Server(args.address, args.command_port, "command", device, args.verbose),
    ]
    servers = device.services + [
        Server(args.address, args.control_port, "control", device, args.verbose)
    ]
    for s in servers:
        s.serve()

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    if args.watch_stdin:

        def watch():
            while sys.stdin.buffer.read(4096):
                pass
            done.set()

        threading.Thread(target=watch, daemon=True).start()

    print("READY %s" % args.address, flush=True)
    # Signal handlers run on the main thread between its waits.
    while not done.wait(0.1):
        pass
    device.stopping.set()
    with device.cond:
        device.cond.notify_all()
    for s in servers:
        s.shutdown()
        s.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
