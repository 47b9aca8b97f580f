"""A first start of the real application on a private desktop where no media player runs and
an earlier, killed run left its tap holding another program's sound: the tap goes as Zivra
starts; "Allow" on the media row finds no player, starts the desktop's default audio player
(which joins no bus here) and does not block "Continue", which opens the popover.

Runs inside tests/support/session.sh --tray --sound (registered as a test). Usage:
  first_start.py ZIVRA_PROGRAM [SCREENSHOT]
"""

import json
import os
import stat
import sys

import desktop

TONE = 440.0
RATE = 48000


def install_default_player(session):
    """A default player for audio files that only notes that it was started."""
    started = os.path.join(session, "player.started")
    program = os.path.join(session, "player")
    with open(program, "w") as script:
        script.write("#!/bin/sh\necho started > '%s'\n" % started)
    os.chmod(program, stat.S_IRWXU)
    applications = os.path.join(os.environ["XDG_DATA_HOME"], "applications")
    os.makedirs(applications, exist_ok=True)
    with open(os.path.join(applications, "test-player.desktop"), "w") as entry:
        entry.write("[Desktop Entry]\nType=Application\nName=Test Player\nExec=%s %%U\n" % program)
    os.makedirs(os.environ["XDG_CONFIG_HOME"], exist_ok=True)
    with open(os.path.join(os.environ["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as defaults:
        defaults.write("[Default Applications]\naudio/mpeg=test-player.desktop\n")
    return started


def leave_a_tap():
    """What a killed run whose guard died with it leaves: the tap, holding the tone."""
    desktop.run("pactl", "load-module", "module-null-sink", "sink_name=zivra_tap",
                "sink_properties=device.description=Leftover")

    def trapped():
        # A stream the session manager has not linked yet may be linked after a move: moved
        # again until the speakers are silent.
        for stream in json.loads(desktop.run("pactl", "-f", "json", "list", "sink-inputs")):
            desktop.run("pactl", "move-sink-input", str(stream["index"]), "zivra_tap", check=False)
        return desktop.rms(desktop.record("speakers.monitor", 0.3)) < 0.001

    desktop.wait_until(trapped, "the tone to be trapped in the leftover tap")


def main(program, screenshot=None):
    session = os.environ["ZIVRA_SESSION_DIR"]
    started = install_default_player(session)
    with desktop.Tone(TONE):
        leave_a_tap()
        assert desktop.run("playerctl", "-l", check=False).strip() == "", "no player on the bus"
        with desktop.Zivra(program):
            desktop.wait_until(lambda: not desktop.tap_modules(), "the leftover tap to go")

            def tone_back():
                # The server moves the stream back a moment after the module goes.
                samples = desktop.record("speakers.monitor", 0.5, RATE)
                heard = desktop.strongest_frequency(samples, RATE, 400, 480)
                return abs(heard - TONE) <= 3 and desktop.rms(samples) > 0.05

            desktop.wait_until(tone_back, "the tone to be back on the speakers")

            onboarding = desktop.onboarding_window()
            desktop.allow_media_player(onboarding)
            desktop.wait_until(lambda: os.path.exists(started), "the default audio player")
            if screenshot:
                desktop.screenshot(screenshot)
            desktop.press_continue(onboarding)
            desktop.Popover().geometry()
            print("leftover tap removed at start; default player started; popover open")


if __name__ == "__main__":
    main(*sys.argv[1:])
