"""The real application killed (SIGKILL) or crashed (SIGABRT) while it shifts the pitch of a tone
another program plays: with nothing started again, within a second no "Zivra Tap" is listed,
the tone's stream is back on the speakers, and the speakers carry the tone unchanged.

Runs inside tests/support/session.sh --tray --sound (registered as a test).
"""

import json
import os
import signal
import sys
import time

import desktop

TONE = 440.0
SEMITONE_UP = TONE * 2 ** (100 / 1200)
RATE = 48000
DEADLINE = 1.0


def pactl_json(*what):
    return json.loads(desktop.run("pactl", "-f", "json", "list", *what))


def given_back():
    """No tap is listed and every playing stream is on the speakers."""
    sinks = {s["name"]: s["index"] for s in pactl_json("sinks")}
    if "zivra_tap" in sinks or any("Zivra Tap" == s["description"] for s in pactl_json("sinks")):
        return False
    streams = pactl_json("sink-inputs")
    return bool(streams) and all(s["sink"] == sinks["speakers"] for s in streams)


def heard():
    samples = desktop.record("speakers.monitor", 0.5, RATE)
    return desktop.strongest_frequency(samples, RATE, 400, 520), desktop.rms(samples)


def open_from_tray():
    """Clicks the tray icon until the popover opens: the icon docks a moment after the start."""
    def attempt():
        desktop.click(*desktop.tray_icon_centre())
        try:
            return desktop.wait_until(lambda: desktop.zivra_window(desktop.POPOVER_WIDTH),
                                      "the popover", 2)
        except RuntimeError:
            return None
    desktop.wait_until(attempt, "the popover from the tray icon", 20)


def shift_and_end(program, ending, first):
    with desktop.Zivra(program) as zivra:
        if first:
            desktop.through_onboarding()
        else:
            open_from_tray()
        desktop.Popover().shift_up()
        desktop.wait_until(lambda: abs(heard()[0] - SEMITONE_UP) <= 3, "the shifted tone", 30)

        started = time.monotonic()
        os.kill(zivra.process.pid, ending)
        while not given_back() and time.monotonic() - started < DEADLINE:
            time.sleep(0.01)
        elapsed = time.monotonic() - started
        assert given_back(), "%s: the sound is still trapped after %.2f s" % (ending.name, elapsed)
        assert zivra.process.wait(15) == -ending, "Zivra ended by %s" % ending.name
        frequency, level = heard()
        assert abs(frequency - TONE) <= 3 and level > 0.05, \
            "%s: the tone is back unchanged: %s Hz, rms %s" % (ending.name, frequency, level)
        print("%s: given back after %.0f ms" % (ending.name, elapsed * 1000))


def main(program):
    with desktop.Player(), desktop.Tone(TONE):
        for n, ending in enumerate((signal.SIGKILL, signal.SIGABRT)):
            shift_and_end(program, ending, first=(n == 0))


if __name__ == "__main__":
    main(sys.argv[1])
