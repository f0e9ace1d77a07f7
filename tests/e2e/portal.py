"""Runs the real kvportal program as a user of the studio would: its own home, settings,
downloads folder and runtime folder, and reads what it leaves behind."""

import json
import os
import re
import signal
import subprocess
import urllib.parse

from waiting import wait_until

ORGANIZATION = "Kelmora Technologies"
SETTINGS_FILE = "KVPortal.conf"
STAMP = re.compile(r"^\d\d:\d\d:\d\d  ")
PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy")


def program_path():
    path = os.environ.get("KVPORTAL")
    if not path or not os.access(path, os.X_OK):
        raise RuntimeError("KVPORTAL must name the kvportal program (got %r)" % path)
    return path


def write_settings(folder, values):
    """Writes an INI settings file as an administrator or the user would."""
    os.makedirs(os.path.join(folder, ORGANIZATION), exist_ok=True)
    with open(os.path.join(folder, ORGANIZATION, SETTINGS_FILE), "w", encoding="utf-8") as out:
        out.write("[General]\n")
        for key, value in values.items():
            out.write('%s="%s"\n' % (key, value) if isinstance(value, str) else
                      "%s=%d\n" % (key, value))


def version_text(version):
    """The program's way of writing a version such as 1.4.2b310: "1.4.2 b310"."""
    numbers = [int(n) for n in re.split(r"[.b]", version)] + [0, 0, 0, 0]
    if not any(numbers[:4]):
        return "None"
    return "%d.%d.%d b%d" % tuple(numbers[:4])


def own_version_text():
    """The version the program was built as, as it tells it ("KVPortal 1.0.0 b0")."""
    answer = subprocess.run([program_path(), "--version"], capture_output=True, text=True,
                            check=True)
    return answer.stdout.splitlines()[0].split(" ", 1)[1]


class Portal:
    def __init__(self, root, publish_url=None, user_settings=None, machine_settings=None,
                 display=None, open_files=None, dnssd_library=None):
        """`open_files`: the soft limit of open files the program starts with, for instance the
        1024 a desktop session gives its programs; by default this runner's own.
        `dnssd_library`: the DNS-SD provider the program loads instead of its own."""
        self.root = root
        self.home = os.path.join(root, "home")
        self.config_home = os.path.join(root, "config")
        self.machine_config = os.path.join(root, "machine")
        self.runtime = os.path.join(root, "runtime")
        self.tmp = os.path.join(root, "tmp")
        self.programs = os.path.join(root, "programs")
        self.kv_dir = os.path.join(self.home, "Downloads", "KV")
        self.firmware_dir = os.path.join(self.kv_dir, "Firmware")
        self.log_path = os.path.join(self.kv_dir, "log.txt")
        self.status_path = os.path.join(self.kv_dir, "kvportal.ipc")
        for folder in (self.home, self.config_home, self.machine_config, self.tmp,
                       self.programs, os.path.join(self.home, "Downloads")):
            os.makedirs(folder, exist_ok=True)
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        settings = dict(user_settings or {})
        if publish_url:
            settings.setdefault("publish_file", publish_url)
        write_settings(self.config_home, settings)
        if machine_settings:
            write_settings(self.machine_config, machine_settings)
        self.display = display
        self.open_files = open_files
        self.dnssd_library = dnssd_library
        self.processes = []
        self.killed = []

    def environment(self):
        env = {key: value for key, value in os.environ.items()
               if key.lower() not in PROXY_VARIABLES and not key.startswith("XDG_")
               and key not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM")}
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config_home,
            "XDG_CONFIG_DIRS": self.machine_config,
            "XDG_RUNTIME_DIR": self.runtime,
            "TMPDIR": self.tmp,
            "KVPORTAL_PROGRAM_FILES": self.programs,
            "KVPORTAL_COLOR_SCHEME": "light",
            "LC_ALL": "C.UTF-8",
        })
        if self.dnssd_library:
            env["KVPORTAL_DNSSD_LIBRARY"] = self.dnssd_library
        if self.display:
            env.update({"QT_QPA_PLATFORM": "xcb", "DISPLAY": self.display})
        else:
            env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    def start(self, *arguments):
        """Starts one more kvportal with the given command line; returns its process."""
        index = len(self.processes)
        console = open(os.path.join(self.root, "console-%d.txt" % index), "wb")
        # prlimit execs the program: the process is the program's.
        limit = ["prlimit", "--nofile=%d:" % self.open_files, "--"] if self.open_files else []
        process = subprocess.Popen(limit + [program_path()] + list(arguments),
                                   env=self.environment(),
                                   stdin=subprocess.DEVNULL, stdout=console,
                                   stderr=subprocess.STDOUT)
        console.close()
        self.processes.append(process)
        return process

    def console(self, process):
        index = self.processes.index(process)
        with open(os.path.join(self.root, "console-%d.txt" % index), "rb") as console:
            return console.read().decode("utf-8", "replace")

    def crashed(self):
        """Why waiting for kvportal is pointless: one of its runs died of a signal."""
        for process in self.processes:
            if process in self.killed:
                continue
            if process.poll() is not None and process.returncode < 0:
                said = self.console(process).splitlines()[-10:]
                return "kvportal (pid %d) died of signal %d; its console ends with:\n  %s" % (
                    process.pid, -process.returncode, "\n  ".join(said))
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
        """Ends a run at once, as a power cut or the task manager would: no clean-up of its
        own. Its death is no crash."""
        self.killed.append(process)
        os.kill(process.pid, signal.SIGKILL)
        process.wait()

    def stop(self):
        """Ends every kvportal this runner started that is still running."""
        for process in self.processes:
            if process.poll() is None:
                os.kill(process.pid, signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    os.kill(process.pid, signal.SIGKILL)
                    process.wait()

    def log(self):
        """The log file's messages, without their time stamps."""
        try:
            with open(self.log_path, "rb") as log:
                text = log.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return []
        return [STAMP.sub("", line) for line in text.splitlines()]

    def log_tail(self):
        return "Log ends with:\n  " + "\n  ".join(self.log()[-25:])

    def wait_log(self, line, deadline_s=90, running=None):
        """Waits for a log message that equals `line` (while `running` runs, when given);
        returns its index."""
        def find():
            lines = self.log()
            return lines.index(line) + 1 if line in lines else 0
        return wait_until(find, "log line %r" % line, deadline_s, explain=self.log_tail,
                          abort=lambda: self._abort(running)) - 1

    def status(self):
        """The status file as {product name: (installed, released)}, or None while it does not
        exist or is being rewritten; its first line must be "version;1"."""
        try:
            with open(self.status_path, "rb") as status:
                text = status.read().decode("utf-8")
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

    def status_text(self):
        try:
            with open(self.status_path, "rb") as status:
                return "Status file:\n" + status.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return "No status file."

    def wait_status(self, condition, what, deadline_s=90, running=None):
        return wait_until(lambda: condition(self.status() or {}), what, deadline_s,
                          explain=lambda: self.status_text() + "\n" + self.log_tail(),
                          abort=lambda: self._abort(running))


def list_products(portal, wait_s=60):
    """`--list --json` without a display, as over SSH: (exit code, products, standard error).
    `wait_s` bounds the program's own wait; a studio settles long before."""
    environment = portal.environment()
    del environment["QT_QPA_PLATFORM"]
    answer = subprocess.run([program_path(), "--list", "--json", "--wait", str(wait_s)],
                            env=environment, stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, timeout=wait_s * 2)
    try:
        return answer.returncode, json.loads(answer.stdout), answer.stderr
    except ValueError:
        raise AssertionError("not one JSON array (exit %d):\n%s\n%s" % (
            answer.returncode, answer.stdout, answer.stderr[-3000:]))
