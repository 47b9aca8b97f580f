"""The real application started a second time while the first shifts the pitch of a tone another
program plays: the second start brings the first one's popover back and ends with status 0,
without touching sound; the speakers keep the shifted tone from the one tap, and the first still
quits normally, giving the tone back unchanged.

Runs inside tests/support/session.sh --tray --sound (registered as a test).
"""

import subprocess
import sys

import desktop

TONE = 440.0
SEMITONE_UP = TONE * 2 ** (100 / 1200)
RATE = 48000


def heard():
    samples = desktop.record("speakers.monitor", 0.5, RATE)
    return desktop.strongest_frequency(samples, RATE, 400, 520), desktop.rms(samples)


def start_again(program):
    """Starts Zivra once more: its exit status (None while it still runs) and its output."""
    second = subprocess.Popen([program], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)
    try:
        output, _ = second.communicate(timeout=20)
        return second.returncode, output
    except subprocess.TimeoutExpired:
        desktop.stop(second)
        return None, second.communicate()[0]


def main(program):
    with desktop.Player(), desktop.Tone(TONE), desktop.Zivra(program) as zivra:
        popover = desktop.through_onboarding()
        popover.shift_up()
        desktop.wait_until(lambda: abs(heard()[0] - SEMITONE_UP) <= 3, "the shifted tone", 30)
        # A click elsewhere closes the popover; the second start is what brings it back.
        desktop.click(40, 400)
        desktop.wait_until(lambda: not popover.is_open(), "the popover to close")

        status, output = start_again(program)
        for _ in range(3):
            frequency, level = heard()
            assert abs(frequency - SEMITONE_UP) <= 3 and level > 0.05, \
                "the shifted tone stays on the speakers: %s Hz, rms %.3f" % (frequency, level)
        assert len(desktop.tap_modules()) == 1, "one tap: %s" % desktop.tap_modules()
        assert status == 0, "the second start ends at once: status %s, output %r" % (status, output)
        assert "Zivra is already running: showing it" in output, output
        popover.geometry()

        popover.click(*popover.POWER)
        # "Quit" in the alert centred over the popover.
        popover.click(83, popover.height() // 2 + 24)
        assert zivra.process.wait(15) == 0, "the first Zivra quits normally"
        after, level = heard()
        assert abs(after - TONE) <= 3 and level > 0.05, \
            "the tone is back unchanged after quitting: %s Hz, rms %.3f" % (after, level)
        print("second start: status %d, said %r; %.0f Hz kept; %.0f Hz after quitting"
              % (status, output.strip(), frequency, after))


if __name__ == "__main__":
    main(sys.argv[1])
