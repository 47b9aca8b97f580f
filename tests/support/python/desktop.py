"""Drives the real Zivra application on a private X display with a tray host.

Used by the screenshot script and the end-to-end test; both run inside
tests/support/session.sh --tray --sound, which provides DISPLAY, the session
D-Bus, the sound server and fresh settings folders.
"""

import json
import math
import os
import re
import struct
import subprocess
import time


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout


def wait_until(condition, what, seconds=15.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise RuntimeError("gave up waiting for " + what)


def stop(process, seconds=15):
    """Asks a child to end, and ends it by force when it does not."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def rows_of(path, geometry):
    """The pixels of a part (left, top, width, height) of a screenshot, as rows of (r, g, b)."""
    left, top, width, height = geometry
    data = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (width, height, left, top),
                           "+repage", "-depth", "8", "ppm:-"], check=True,
                          capture_output=True).stdout
    body = data[re.match(rb"P6\s+\d+\s+\d+\s+255\s", data).end():]
    return [[tuple(body[3 * (y * width + x):3 * (y * width + x) + 3]) for x in range(width)]
            for y in range(height)]


def window_geometry(window):
    out = run("xdotool", "getwindowgeometry", window)
    x, y = map(int, re.search(r"Position: (-?\d+),(-?\d+)", out).groups())
    w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", out).groups())
    return x, y, w, h


def visible_windows(name):
    out = run("xdotool", "search", "--onlyvisible", "--name", name, check=False)
    return [w for w in out.split() if w]


def zivra_window(width, height=None):
    """A visible Zivra window of the given width (and height): its geometry, or None."""
    for window in visible_windows("^Zivra$"):
        try:
            geometry = window_geometry(window)
        except subprocess.CalledProcessError:
            continue
        if geometry[2] == width and (height is None or geometry[3] == height):
            return geometry
    return None


def click(x, y):
    run("xdotool", "mousemove", "--sync", str(x), str(y))
    run("xdotool", "click", "1")


def tray_icon_centre():
    """The middle of the tray host's panel, which holds Zivra's icon alone."""
    panel = run("xdotool", "search", "--name", "^panel$").split()[0]
    x, y, w, h = window_geometry(panel)
    return x + w // 2, y + h // 2


def screenshot(path):
    run("import", "-window", "root", path)


ONBOARDING_SIZE = (420, 620)
POPOVER_WIDTH = 320


def onboarding_window():
    return wait_until(lambda: zivra_window(*ONBOARDING_SIZE), "the onboarding window")


def allow_media_player(onboarding):
    """Clicks the "Media Player Control" row's button."""
    left, top, _, _ = onboarding
    click(left + 338, top + 400)


def press_continue(onboarding):
    left, top, _, _ = onboarding
    click(left + 210, top + 573)
    wait_until(lambda: zivra_window(*ONBOARDING_SIZE) is None, "the onboarding window to close")


def through_onboarding():
    """Allows the media player and continues: the popover that then opens."""
    onboarding = onboarding_window()
    allow_media_player(onboarding)
    press_continue(onboarding)
    return Popover()


class Popover:
    """The popover, clicked at points given relative to its top-left corner."""

    def geometry(self):
        return wait_until(lambda: zivra_window(POPOVER_WIDTH), "the popover")

    def is_open(self):
        return zivra_window(POPOVER_WIDTH) is not None

    def click(self, x, y):
        left, top, _, _ = self.geometry()
        click(left + x, top + y)

    def click_from_bottom(self, x, from_bottom):
        left, top, _, height = self.geometry()
        click(left + x, top + height - from_bottom)

    def height(self):
        return self.geometry()[3]

    def wait_for_height(self, other_than):
        return wait_until(lambda: self.height() != other_than, "the popover to resize")

    def shift_up(self):
        """ "Change pitch", then "+": a semitone up."""
        height = self.height()
        self.click(*self.CHANGE_PITCH)
        self.wait_for_height(height)
        self.click(*self.PLUS)

    # Where the main panel's controls are while nothing above them is open.
    CHANGE_PITCH = (281, 75)
    PLUS = (281, 148)
    SOURCE_MENU = (216, 34)
    POWER = (288, 34)

    def open_handoff_panel(self):
        """ "Handoff to phone…", the last entry of the audio-source menu."""
        self.click(*self.SOURCE_MENU)
        run("xdotool", "sleep", "0.4", "key", "Up", "sleep", "0.1", "key", "Return")
        time.sleep(0.8)

    def filled_button_centre(self, screenshot_path, tint=(46, 163, 201)):
        """The middle of the side panel's filled main button in a screenshot: the tallest band
        of rows that are in the tint nearly from edge to edge."""
        left, top, width, height = self.geometry()
        rows = rows_of(screenshot_path, (left, top, width, height))

        def tinted_row(y):
            count = sum(all(abs(pixel[c] - tint[c]) <= 24 for c in range(3)) for pixel in rows[y])
            return count > width * 0.7

        bands, start = [], None
        for y in range(height + 1):
            if y < height and tinted_row(y):
                start = y if start is None else start
            elif start is not None:
                bands.append((start, y - 1))
                start = None
        assert bands, "no filled button in the popover"
        first, last = max(bands, key=lambda band: band[1] - band[0])
        return left + width // 2, top + (first + last) // 2


def tap_modules():
    """The sound server's modules that are a Zivra tap."""
    modules = json.loads(run("pactl", "-f", "json", "list", "modules"))
    return [m for m in modules if "sink_name=zivra_tap" in (m.get("argument") or "")]


class Player:
    """mpv with its MPRIS plugin: the desktop's "Music" player for the permission probe."""

    def __enter__(self):
        self.process = subprocess.Popen(
            ["mpv", "--idle=yes", "--no-video", "--ao=null", "--no-terminal"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: "mpv" in run("playerctl", "-l", check=False), "mpv on the bus")
        return self

    def __exit__(self, *exc):
        stop(self.process)


class Zivra:
    def __init__(self, program):
        self.program = program

    def __enter__(self):
        self.log = open(os.path.join(os.environ["ZIVRA_SESSION_DIR"], "zivra.log"), "w")
        self.process = subprocess.Popen([self.program], stdout=self.log, stderr=subprocess.STDOUT)
        return self

    def __exit__(self, kind, *exc):
        stop(self.process)
        self.log.close()
        if kind is not None:
            with open(self.log.name) as log:
                print("Zivra's output:\n" + log.read())


class Tone:
    """Sine tones played on a sink (the default one unless named) for as long as the block runs:
    the same in both channels, or another one on the right (which vocal removal does not
    cancel)."""

    def __init__(self, frequency, right=None, seconds=60, sink=None):
        self.tones = ["sine", str(frequency)] + ([] if right is None else ["sine", str(right)])
        self.seconds = seconds
        self.device = [] if sink is None else ["--device=" + sink]

    def __enter__(self):
        self.source = subprocess.Popen(
            ["sox", "-n", "-r", "48000", "-c", "2", "-b", "16", "-t", "wav", "-",
             "synth", str(self.seconds)] + self.tones + ["vol", "0.5"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.player = subprocess.Popen(["paplay"] + self.device, stdin=self.source.stdout,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.source.stdout.close()
        return self

    def __exit__(self, *exc):
        stop(self.player)
        stop(self.source)


def record(source, seconds, rate=48000):
    """Mono 16-bit samples from a source, as floats in -1...1."""
    wanted = int(seconds * rate) * 2
    process = subprocess.Popen(
        ["parec", "-d", source, "--raw", "--format=s16le", "--rate=%d" % rate, "--channels=1"],
        stdout=subprocess.PIPE)
    data = b""
    while len(data) < wanted:
        chunk = process.stdout.read(wanted - len(data))
        if not chunk:
            break
        data += chunk
    process.terminate()
    process.wait(10)
    count = len(data) // 2
    return [v / 32768.0 for v in struct.unpack("<%dh" % count, data[:count * 2])]


def strongest_frequency(samples, rate, low, high, step=1.0):
    """The frequency between low and high with the most energy (Goertzel scan)."""
    best, best_power = None, -1.0
    f = low
    while f <= high:
        coefficient = 2 * math.cos(2 * math.pi * f / rate)
        s1 = s2 = 0.0
        for x in samples:
            s1, s2 = x + coefficient * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - coefficient * s1 * s2
        if power > best_power:
            best, best_power = f, power
        f += step
    return best


def rms(samples):
    return math.sqrt(sum(x * x for x in samples) / max(1, len(samples)))
