"""A child process the studio started, ended by its own PID and nothing else."""

import os
import signal
import subprocess
import threading
import time


class ChildError(RuntimeError):
    pass


class Child:
    """Starts a program and keeps reading what it says, so that it never blocks on a full
    pipe; every line also goes to `log_path` when one is given. `stop` ends exactly this
    process."""

    def __init__(self, argv, env=None, name=None, stdin_pipe=False, log_path=None):
        self.name = name or os.path.basename(argv[0])
        self.process = subprocess.Popen(
            argv,
            env=env,
            stdin=subprocess.PIPE if stdin_pipe else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        self._log = open(log_path, "ab") if log_path else None
        self._lines = []
        self._ended = False
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read, name=self.name, daemon=True)
        self._reader.start()

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def _read(self):
        for raw in self.process.stdout:
            if self._log:
                self._log.write(raw)
                self._log.flush()
            with self._changed:
                self._lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self._changed.notify_all()
        with self._changed:
            self._ended = True
            self._changed.notify_all()

    def wait_line(self, predicate, deadline_s):
        """Waits for an output line that satisfies `predicate` and returns it."""
        end = time.monotonic() + deadline_s
        seen = 0
        with self._changed:
            while True:
                for line in self._lines[seen:]:
                    if predicate(line):
                        return line
                seen = len(self._lines)
                if self._ended:
                    raise ChildError("%s ended with %s; it said: %s"
                                     % (self.name, self.process.wait(), self.output()))
                left = end - time.monotonic()
                if left <= 0:
                    raise ChildError("%s: nothing expected within %.0f s; it said: %s"
                                     % (self.name, deadline_s, self.output()))
                self._changed.wait(left)

    def output(self):
        with self._changed:
            return " | ".join(self._lines[-8:])

    def stop(self, grace_s=5.0):
        """Ends the process: SIGTERM, then SIGKILL after the grace time. Returns its code."""
        if self.process.stdin:
            self.process.stdin.close()
        if self.process.poll() is None:
            try:
                os.kill(self.process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(grace_s)
            except subprocess.TimeoutExpired:
                os.kill(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self._reader.join(grace_s)
        self.process.stdout.close()
        if self._log:
            self._log.close()
        return self.process.returncode
