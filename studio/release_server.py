#!/usr/bin/env python3
"""A release server for tests and benchmarks.

Serves a folder of publish files and packages over HTTP, or HTTPS with --cert and --key, on a
loopback address, and misbehaves on request.

    release_server.py --root DIR [--host 127.0.0.1] [--port 0] [--cert PEM --key PEM]
                      [--exit-with-stdin] [--verbose]

The first line on standard output is the port, printed once connections are accepted. With
--exit-with-stdin the server ends when its standard input closes, so it never outlives the
test that started it.

Query parameters, on any path, choose a behaviour:
    status=CODE       answer CODE with a short text body (401 adds a Basic challenge)
    invalid_json=1    answer 200 with a body that is not JSON
    stall=headers     read the request and never answer
    stall=body        send the headers and half the body, then nothing more
    close=body        send the headers and half the body, then close the connection
    at=PERCENT        with stall=body or close=body: send that share of the body instead of half
    redirect=CODE     answer CODE with the location given by to= (default /)
    rate=BYTES        send the body at about BYTES per second
    gate=NAME         hold the request until gate NAME is opened, then go on as usual
The body of stall=body and close=body is the file at the path, or 64 KiB of filler.

Paths of the server's own:
    /echo                  a JSON object: method, path, headers (name: value) and body
    /control/wait/NAME     answers once a request is held at gate NAME (504 after 30 s)
    /control/open/NAME     opens gate NAME for good
    /control/count?path=P  the number of requests received for path P so far
    /control/requests?path=P  those requests as a JSON list, each with its method, query,
                           Range header (null without one) and the body bytes sent so far

A stalled connection is held until the client closes it, or for 10 minutes at most.
Files are streamed with a Content-Length, an ETag and a Last-Modified date; HEAD is answered
with the headers alone. A Range of one span ("bytes=N-" or "bytes=N-M") is answered with 206
and its Content-Range, unless an If-Range names another ETag or date than the file's, which
brings the whole file; a span that starts past the end gets 416. stall=body and close=body
answer a Range the same way, and send their share of what it asks for.
"""

import argparse
import email.utils
import http.server
import json
import os
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse

CHUNK = 64 * 1024
STALL_LIMIT_SECONDS = 600
GATE_WAIT_SECONDS = 30
INVALID_JSON = b'{"products": [{"ID": "KORVEX-FIRMWARE", "IV": '


class State:
    """What the server remembers between requests."""

    def __init__(self, root):
        self.root = os.path.realpath(root)
        self.lock = threading.Condition()
        self.requests = {}
        self.held = {}
        self.open_gates = set()

    def record(self, path, method, query, byte_range):
        """Remembers a request; the handler adds what it sends to the record returned."""
        entry = {"method": method, "query": query, "range": byte_range, "sent": 0}
        with self.lock:
            self.requests.setdefault(path, []).append(entry)
        return entry

    def sent(self, entry, size):
        with self.lock:
            entry["sent"] += size

    def requests_for(self, path):
        with self.lock:
            return [dict(entry) for entry in self.requests.get(path, [])]

    def pass_gate(self, name):
        with self.lock:
            self.held[name] = self.held.get(name, 0) + 1
            self.lock.notify_all()
            self.lock.wait_for(lambda: name in self.open_gates)
            self.held[name] -= 1

    def wait_until_held(self, name):
        with self.lock:
            return self.lock.wait_for(lambda: self.held.get(name, 0) > 0, GATE_WAIT_SECONDS)

    def open_gate(self, name):
        with self.lock:
            self.open_gates.add(name)
            self.lock.notify_all()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KelmoraRelease/1"
    verbose = False

    def setup(self):
        # The TLS handshake runs here, on the connection's own thread, so that a client that
        # never completes it holds up nobody else.
        if isinstance(self.request, ssl.SSLSocket):
            self.request.do_handshake()
        super().setup()

    def log_message(self, format, *args):
        if self.verbose:
            sys.stderr.write("release_server: " + (format % args) + "\n")

    def do_GET(self):
        self.answer(send_body=True)

    def do_POST(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    @property
    def state(self):
        return self.server.state

    def read_request_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def answer(self, send_body):
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        request_body = self.read_request_body()
        self.record = None
        if path.startswith("/control/"):
            self.control(path, query)
            return
        self.record = self.state.record(path, self.command, url.query,
                                        self.headers.get("Range"))
        if "gate" in query:
            self.state.pass_gate(query["gate"])
        if path == "/echo":
            self.echo(path, request_body)
        elif "status" in query:
            self.status(int(query["status"]), send_body)
        elif "redirect" in query:
            self.send_text(int(query["redirect"]), b"moved\n", send_body,
                           {"Location": query.get("to", "/")})
        elif "invalid_json" in query:
            self.send_text(200, INVALID_JSON, send_body, {"Content-Type": "application/json"})
        elif query.get("stall") == "headers":
            self.hold_until_client_closes()
        elif query.get("stall") == "body" or query.get("close") == "body":
            self.send_cut(path, stall=query.get("stall") == "body",
                           percent=int(query.get("at", "50")))
        else:
            self.send_file(path, send_body, int(query.get("rate", "0")))

    def control(self, path, query):
        parts = path.split("/")
        if len(parts) == 4 and parts[2] == "wait":
            if self.state.wait_until_held(parts[3]):
                self.send_text(200, b"held\n", True)
            else:
                self.send_text(504, b"nothing held\n", True)
        elif len(parts) == 4 and parts[2] == "open":
            self.state.open_gate(parts[3])
            self.send_text(200, b"open\n", True)
        elif path == "/control/count":
            count = len(self.state.requests_for(query.get("path", "")))
            self.send_text(200, str(count).encode() + b"\n", True)
        elif path == "/control/requests":
            requests = self.state.requests_for(query.get("path", ""))
            self.send_text(200, json.dumps(requests).encode(), True,
                           {"Content-Type": "application/json"})
        else:
            self.send_text(404, b"unknown control\n", True)

    def echo(self, path, request_body):
        reply = {
            "method": self.command,
            "path": path,
            "headers": {name: value for name, value in self.headers.items()},
            "body": request_body.decode("latin-1"),
        }
        self.send_text(200, json.dumps(reply).encode(), True,
                       {"Content-Type": "application/json"})

    def status(self, code, send_body):
        extra = {"WWW-Authenticate": 'Basic realm="Kelmora"'} if code == 401 else {}
        self.send_text(code, b"status %d\n" % code, send_body, extra)

    def send_text(self, code, body, send_body, extra=None):
        self.send_response(code)
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        if "Content-Type" not in (extra or {}):
            self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.write_body(body)

    def file_path(self, path):
        candidate = os.path.realpath(os.path.join(self.state.root, path.lstrip("/")))
        if os.path.commonpath([candidate, self.state.root]) != self.state.root:
            return None
        return candidate if os.path.isfile(candidate) else None

    def validators(self, file_path):
        """The file's ETag and Last-Modified date, both changing with its content's stamp."""
        info = os.stat(file_path)
        etag = '"%x-%x"' % (info.st_size, info.st_mtime_ns)
        return etag, email.utils.formatdate(info.st_mtime, usegmt=True)

    def span(self, file_path, size):
        """The (start, end) the request's Range asks for and may have, None for the whole file,
        or "unsatisfiable"."""
        wanted = self.headers.get("Range", "")
        if not wanted.startswith("bytes=") or "," in wanted:
            return None
        condition = self.headers.get("If-Range")
        if condition is not None and condition not in self.validators(file_path):
            return None
        first, _, last = wanted[len("bytes="):].partition("-")
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        start, end = int(first), min(int(last) if last else size - 1, size - 1)
        return (start, end) if start < size and start <= end else "unsatisfiable"

    def send_file_headers(self, file_path):
        """Sends the status and headers for the file; returns the (start, end) of the body to
        send, or None when there is none."""
        size = os.path.getsize(file_path)
        span = self.span(file_path, size)
        if span == "unsatisfiable":
            self.send_text(416, b"", False, {"Content-Range": "bytes */%d" % size})
            return None
        start, end = span or (0, size - 1)
        self.send_response(206 if span else 200)
        kind = "application/json" if file_path.endswith(".json") else "application/octet-stream"
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(end + 1 - start))
        if span:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        etag, modified = self.validators(file_path)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        self.end_headers()
        return start, end

    def send_file(self, path, send_body, rate):
        file_path = self.file_path(path)
        if file_path is None:
            self.send_text(404, b"not found\n", send_body)
            return
        span = self.send_file_headers(file_path)
        if not send_body or span is None:
            return
        left = span[1] + 1 - span[0]
        chunk = CHUNK if rate <= 0 else max(1, min(CHUNK, rate // 10))
        with open(file_path, "rb") as source:
            source.seek(span[0])
            while left > 0:
                data = source.read(min(chunk, left))
                if not data:
                    break
                left -= len(data)
                self.write_body(data)
                if rate > 0:
                    time.sleep(len(data) / rate)

    def send_cut(self, path, stall, percent):
        file_path = self.file_path(path)
        if file_path is None:
            body = b"x" * CHUNK
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
        else:
            span = self.send_file_headers(file_path)
            if span is None:
                return
            with open(file_path, "rb") as source:
                source.seek(span[0])
                body = source.read(span[1] + 1 - span[0])
        self.write_body(body[: len(body) * percent // 100])
        self.wfile.flush()
        if stall:
            self.hold_until_client_closes()
        else:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def write_body(self, data):
        self.wfile.write(data)
        if self.record is not None:
            self.state.sent(self.record, len(data))

    def hold_until_client_closes(self):
        self.wfile.flush()
        self.close_connection = True
        deadline = time.monotonic() + STALL_LIMIT_SECONDS
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 1.0)
            if readable:
                try:
                    if not self.connection.recv(CHUNK):
                        return
                except (OSError, ssl.SSLError):
                    return


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ConnectionError, ssl.SSLError, socket.timeout)):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="Release server for tests and benchmarks.")
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--host", default="127.0.0.1", help="loopback address to bind")
    parser.add_argument("--port", type=int, default=0, help="port, 0 for any free one")
    parser.add_argument("--cert", help="server certificate (PEM) for HTTPS")
    parser.add_argument("--key", help="server key (PEM) for HTTPS")
    parser.add_argument("--exit-with-stdin", action="store_true",
                        help="end when standard input closes")
    parser.add_argument("--verbose", action="store_true", help="log every request")
    arguments = parser.parse_args()
    if not arguments.host.startswith("127."):
        parser.error("the server binds loopback addresses only")

    Handler.verbose = arguments.verbose
    server = Server((arguments.host, arguments.port), Handler)
    server.state = State(arguments.root)
    if arguments.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(arguments.cert, arguments.key)
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)

    if arguments.exit_with_stdin:
        def exit_when_stdin_closes():
            while sys.stdin.buffer.read(4096):
                pass
            os._exit(0)

        threading.Thread(target=exit_when_stdin_closes, daemon=True).start()

    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
