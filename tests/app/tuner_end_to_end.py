"""The tuner panel in the real application on a private desktop: the tuning-fork button opens it,
"Start listening" opens the microphone while a 440 Hz tone is played into it, and "Play
reference" ends listening and plays A4 on the speakers at amplitude 0.5 x volume 0.5.

Runs inside tests/support/session.sh --tray --sound (registered as a test). Usage:
  tuner_end_to_end.py ZIVRA_PROGRAM [SCREENSHOT]
leaves the screen with the panel naming the tone in SCREENSHOT.
"""

import os
import re
import sys
import time

import desktop

TUNER_BUTTON = (252, 34)
TEAL = (46, 163, 201)
BLUE = (33, 107, 232)


def button_centre(path, popover, colour):
    """The middle of the panel's filled button in this colour: the band of rows in the popover
    that have it nearly from edge to edge."""
    left, top, width, _ = popover

    def near(p):
        return all(abs(a - b) <= 24 for a, b in zip(p, colour))

    band = [y for y, row in enumerate(desktop.rows_of(path, popover))
            if sum(near(p) for p in row) > width * 0.7]
    assert band, "no filled button of colour %s in the popover" % (colour,)
    return left + width // 2, top + (band[0] + band[-1]) // 2


def listening():
    """Whether Zivra's microphone stream is open on the server."""
    streams = desktop.run("pactl", "list", "source-outputs")
    return 'media.name = "Zivra Tuner"' in streams


def main(program, screenshot):
    with desktop.Player(), desktop.Tone(440, sink="micfeed"), desktop.Zivra(program) as zivra:
        popover = desktop.through_onboarding()
        popover.click(*TUNER_BUTTON)
        time.sleep(0.8)
        desktop.screenshot(screenshot)
        desktop.click(*button_centre(screenshot, popover.geometry(), TEAL))
        desktop.wait_until(listening, "the microphone to open")
        desktop.wait_until(lambda: "Listening to the microphone" in open(zivra.log.name).read(),
                           "the tuner to report listening")
        # A few buffers of 85 ms each, then the panel names the tone.
        time.sleep(1.0)
        desktop.screenshot(screenshot)

        desktop.click(*button_centre(screenshot, popover.geometry(), BLUE))
        desktop.wait_until(lambda: not listening(), "the reference tone to end listening")
        time.sleep(0.5)
        heard = desktop.record("speakers.monitor", 1.0)
        frequency = desktop.strongest_frequency(heard, 48000, 400, 480)
        level = desktop.rms(heard)
        assert abs(frequency - 440) <= 1, "the speakers carry A4: %s Hz" % frequency
        # The level itself is checked in the tuner's sound-server test; the recorder's downmix
        # to mono here makes it depend on the server.
        assert level > 0.1, "the tone sounds: RMS %s" % level
        log = open(zivra.log.name).read()
        assert re.search(r"Reference tone of 440 Hz playing", log), log
        print("listened to the microphone, then heard A4 at RMS %.3f on the speakers" % level)


if __name__ == "__main__":
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.environ["ZIVRA_SESSION_DIR"], "tuner.png")
    main(sys.argv[1], out)
