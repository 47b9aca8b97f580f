"""Runs the Handoff test host for a real-peer test and reads what it reports."""

import queue
import subprocess
import threading
import time
import urllib.error
import urllib.request

from vuzozar_peer import Checks, TestServer  # noqa: F401


class Host(TestServer):
    """handoff_test_host as a child process: commands in, event lines out.
    Used in a with statement, it is stopped (or killed after a failure) at
    the end."""

    def __init__(self, binary, *arguments):
        self.process = subprocess.Popen(
            [binary, *arguments], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self._lines = queue.Queue()
        self.seen = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.wait_for("ready")

    def _read(self):
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def wait_for(self, prefix, timeout=30):
        """The first line from now on that starts with prefix; None on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self._lines.get(timeout=left)
            except queue.Empty:
                return None
            self.seen.append(line)
            if line.startswith(prefix):
                return line

    def lines_for(self, seconds):
        """Every line printed during the next seconds."""
        deadline = time.monotonic() + seconds
        lines = []
        while (left := deadline - time.monotonic()) > 0:
            try:
                lines.append(self._lines.get(timeout=left))
            except queue.Empty:
                break
        self.seen.extend(lines)
        return lines

    def start(self):
        """Starts the Handoff and returns its page URL."""
        self.send("start")
        line = self.wait_for("url http")
        if line is None:
            raise RuntimeError("the Handoff did not start: " + repr(self.seen[-5:]))
        return line.split(" ", 1)[1]

    def stop(self):
        self.send("quit")
        code = self.process.wait(timeout=60)
        if code != 0:
            raise RuntimeError(f"test host exited with {code}")


def http_get(url):
    """(status, body) of a GET."""
    try:
        with urllib.request.urlopen(url, timeout=10) as response:
            return response.status, response.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode(errors="replace")
