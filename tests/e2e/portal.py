"""Runs the real kvportal program as a user of the studio would: its own home, settings,
downloads folder and runtime folder, and reads what it leaves behind."""

import os
import re
import signal
import subprocess
import time
import urllib.parse

STAMP = re.compile(r"^\d\d:\d\d:\d\d  ")
PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy")
SEPARATOR = "-" * 58


def wait_until(condition, what, deadline_s=90, explain=None, abort=None):
    """Returns the first truthy value of `condition()`; fails naming `what` (and what
    `explain()` says) when the deadline passes, or at once when `abort()` gives a reason."""
    end = time.monotonic() + deadline_s
    while True:
        value = condition()
        if value:
            return value
        reason = abort() if abort else None
        if reason or time.monotonic() > end:
            raise AssertionError("%s: %s. %s" % (what, reason or "not within %d s" % deadline_s,
                                          explain() if explain else ""))
        time.sleep(0.1)


def program_path():
    path = os.environ.get("KVPORTAL")
    if not path or not os.access(path, os.X_OK):
        raise RuntimeError("KVPORTAL must name the kvportal program (got %r)" % path)
    return path


def write_settings(folder, values):
    """Writes an INI settings file as an administrator or the user would."""
    os.makedirs(os.path.join(folder, "Kelmora Technologies"), exist_ok=True)
    with open(os.path.join(folder, "Kelmora Technologies", "KVPortal.conf"), "w",
              encoding="utf-8") as out:
        out.write("[General]\n" + "".join('%s="%s"\n' % item if isinstance(item[1], str) else
                                          "%s=%d\n" % item for item in values.items()))


def version_text(version):
    """The program's way of writing a version such as 1.4.2b310: "1.4.2 b310"."""
    numbers = [int(n) for n in re.split(r"[.b]", version)] + [0, 0, 0, 0]
    return "%d.%d.%d b%d" % tuple(numbers[:4]) if any(numbers[:4]) else "None"


def read(path):
    with open(path, "rb") as source:
        return source.read()


class Portal:
    def __init__(self, root, publish_url=None, user_settings=None, machine_settings=None,
                 display=None, open_files=None, dnssd_library=None):
        """`open_files`: the soft limit of open files the program starts with;
        `dnssd_library`: the DNS-SD provider the program loads instead of its own."""
        self.root = root
        self.home = os.path.join(root, "home")
        self.kv_dir = os.path.join(self.home, "Downloads", "KV")
        self.firmware_dir = os.path.join(self.kv_dir, "Firmware")
        self.log_path = os.path.join(self.kv_dir, "log.txt")
        self.status_path = os.path.join(self.kv_dir, "kvportal.ipc")
        for folder in ("tmp", "programs", "machine", "home/Downloads"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        os.makedirs(os.path.join(root, "runtime"), mode=0o700, exist_ok=True)
        settings = dict(user_settings or {})
        if publish_url:
            settings.setdefault("publish_file", publish_url)
        write_settings(os.path.join(root, "config"), settings)
        if machine_settings:
            write_settings(os.path.join(root, "machine"), machine_settings)
        self.display, self.open_files, self.dnssd_library = display, open_files, dnssd_library
        self.processes = []
        self.killed = []

    def environment(self, headless=False):
        """`headless`: without a display or a chosen platform plugin, as over SSH."""
        env = {key: value for key, value in os.environ.items()
               if key.lower() not in PROXY_VARIABLES and not key.startswith("XDG_")
               and key not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM")}
        env.update({
            "HOME": self.home, "TMPDIR": os.path.join(self.root, "tmp"),
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "XDG_CONFIG_DIRS": os.path.join(self.root, "machine"),
            "XDG_RUNTIME_DIR": os.path.join(self.root, "runtime"),
            "KVPORTAL_PROGRAM_FILES": os.path.join(self.root, "programs"),
            "KVPORTAL_COLOR_SCHEME": "light", "LC_ALL": "C.UTF-8",
        })
        if self.dnssd_library:
            env["KVPORTAL_DNSSD_LIBRARY"] = self.dnssd_library
        if self.display:
            env.update({"QT_QPA_PLATFORM": "xcb", "DISPLAY": self.display})
        elif not headless:
            env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    def start(self, *arguments):
        """Starts one more kvportal with the given command line; returns its process."""
        with open(os.path.join(self.root, "console-%d.txt" % len(self.processes)), "wb") as out:
            # prlimit execs the program: the process is the program's.
            limit = ["prlimit", "--nofile=%d:" % self.open_files, "--"] if self.open_files else []
            process = subprocess.Popen(limit + [program_path()] + list(arguments),
                                       env=self.environment(), stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def run(self, *arguments, home=None):
        """Runs kvportal headless to its end: (exit code, standard output, standard error)."""
        env = self.environment(headless=True)
        env["HOME"] = home or env["HOME"]
        answer = subprocess.run([program_path()] + list(arguments), env=env, text=True,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        return answer.returncode, answer.stdout, answer.stderr

    def console(self, process):
        index = self.processes.index(process)
        return read(os.path.join(self.root, "console-%d.txt" % index)).decode("utf-8", "replace")

    def crashed(self):
        """Why waiting for kvportal is pointless: one of its runs died of a signal."""
        for process in self.processes:
            if process not in self.killed and (process.poll() or 0) < 0:
                return "kvportal (pid %d) died of signal %d; its console ends with:\n  %s" % (
                    process.pid, -process.returncode,
                    "\n  ".join(self.console(process).splitlines()[-10:]))
        return None

    def _abort(self, running):
        """Why waiting is pointless: a crash, or `running` ended though it should run on."""
        if running is not None and running.poll() is not None and running.returncode >= 0:
            return "kvportal ended with %d\n%s" % (running.returncode, self.log_tail())
        return self.crashed()

    def wait_exit(self, process, deadline_s=120):
        wait_until(lambda: process.poll() is not None, "kvportal ends by itself", deadline_s,
                   explain=self.log_tail)
        return process.returncode

    def kill(self, process):
        """Ends a run at once, as a power cut would: no clean-up. Its death is no crash."""
        self.killed.append(process)
        os.kill(process.pid, signal.SIGKILL)
        process.wait()

    def stop(self):
        """Ends every kvportal this runner started that is still running."""
        for process in self.processes:
            process.terminate()
            process.wait()

    def log(self):
        """The log file's messages, without their time stamps."""
        try:
            text = read(self.log_path).decode("utf-8", "replace")
        except FileNotFoundError:
            return []
        return [STAMP.sub("", line) for line in text.splitlines()]

    def log_tail(self):
        return "Log ends with:\n  " + "\n  ".join(self.log()[-40:])

    def wait_log(self, line, deadline_s=90, running=None):
        """Waits for a log message that equals `line` (while `running` runs, when given)."""
        wait_until(lambda: line in self.log(), "log line %r" % line, deadline_s,
                   explain=self.log_tail, abort=lambda: self._abort(running))

    def status(self):
        """The status file as {product name: (installed, released)}, or None while it does not
        exist or is being rewritten; its first line must be "version;1"."""
        try:
            text = read(self.status_path).decode("utf-8")
        except FileNotFoundError:
            return None
        if not text.endswith("\n"):
            return None  # being rewritten
        lines = text.splitlines()
        if not lines or lines[0] != "version;1":
            raise AssertionError("status file starts with %r" % (lines[:1],))
        products = {}
        for line in lines[1:]:
            name, installed, released = line.split(";")
            name = urllib.parse.unquote(name)
            if name in products:
                raise AssertionError("status file lists %r twice" % name)
            products[name] = (installed, released)
        return products

    def wait_status(self, condition, what, deadline_s=90, running=None):
        return wait_until(lambda: condition(self.status() or {}), what, deadline_s,
                          explain=lambda: "Status: %s\n%s" % (self.status(), self.log_tail()),
                          abort=lambda: self._abort(running))
