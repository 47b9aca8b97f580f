"""End to end through the real application: a tone plays on the default sink; after
"Change pitch" and "+" in the popover, the sink's monitor carries the tone a semitone higher;
after "Quit" in the quit confirmation the application ends and the tone plays unchanged again.

Runs inside tests/support/session.sh --tray --sound (registered as a test).
"""

import sys
import time

import desktop

TONE = 440.0
SEMITONE_UP = TONE * 2 ** (100 / 1200)  # 466.16 Hz
MONITOR = "speakers.monitor"
RATE = 48000


def heard():
    samples = desktop.record(MONITOR, 0.5, RATE)
    level = desktop.rms(samples)
    return desktop.strongest_frequency(samples, RATE, 400, 520), level


def main(program):
    with desktop.Player(), desktop.Tone(TONE), desktop.Zivra(program) as zivra:
        popover = desktop.through_onboarding()

        before, level = heard()
        assert abs(before - TONE) <= 3, "the tone plays unchanged at first: %s Hz" % before
        assert level > 0.05, "the tone is audible on the monitor: rms %s" % level

        popover.shift_up()

        deadline = time.monotonic() + 30
        frequency, level = heard()
        while abs(frequency - SEMITONE_UP) > 3 and time.monotonic() < deadline:
            frequency, level = heard()
        assert abs(frequency - SEMITONE_UP) <= 3, \
            "expected %.1f Hz on the monitor, heard %s Hz" % (SEMITONE_UP, frequency)
        assert level > 0.05, "the shifted tone is audible: rms %s" % level

        popover.click(*popover.POWER)
        # "Quit" in the alert centred over the popover.
        popover.click(83, popover.height() // 2 + 24)
        status = zivra.process.wait(15)
        assert status == 0, "Zivra ends normally: status %s" % status
        after, level = heard()
        assert abs(after - TONE) <= 3, "the tone is back unchanged after quitting: %s Hz" % after
        assert level > 0.05, "and audible: rms %s" % level
        print('heard %.0f Hz before, %.0f Hz after "+" and %.0f Hz after quitting'
              % (before, frequency, after))


if __name__ == "__main__":
    main(sys.argv[1])
