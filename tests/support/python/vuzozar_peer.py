"""Starts the module's test server for a real-peer test and stops it again."""

import queue
import resource
import signal
import subprocess
import sys
import threading


class TestServer:
    """A server program as a child process (started with binary and args, and
    any further options of subprocess.Popen; it prints "port N" once it
    listens); its standard-output lines are kept."""

    def __init__(self, binary, *args, descriptor_limit=None, **popen_options):
        def limit_descriptors():
            if descriptor_limit is not None:
                resource.setrlimit(resource.RLIMIT_NOFILE, (descriptor_limit, descriptor_limit))

        self.process = subprocess.Popen([binary, *args], stdout=subprocess.PIPE, text=True,
                                        preexec_fn=limit_descriptors, **popen_options)
        # What the server printed before it listened.
        self.lines_before_start = []
        while True:
            line = self.process.stdout.readline()
            words = line.split()
            if len(words) == 2 and words[0] == "port":
                break
            if not line:
                raise RuntimeError(f"test server did not start: {self.lines_before_start}")
            self.lines_before_start.append(line.rstrip("\n"))
        self.port = int(words[1])
        self.base = f"http://127.0.0.1:{self.port}"
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))

    def wait_for_line(self, predicate, timeout=30):
        """The first printed line (from now on) that satisfies predicate."""
        while True:
            line = self._lines.get(timeout=timeout)
            if predicate(line):
                return line

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=60)
        self._reader.join(timeout=10)
        if code != 0:
            raise RuntimeError(f"test server exited with {code}")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if exc[0] is None:
            self.stop()
        else:
            self.process.kill()
            self.process.wait()


class Checks:
    """Collects failed expectations so one run reports all of them."""

    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)
            print(f"FAILED: {what}", flush=True)

    def equal(self, actual, expected, what):
        self.expect(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")

    def finish(self):
        if self.failures:
            print(f"{len(self.failures)} check(s) failed")
            sys.exit(1)
        print("all checks passed")
