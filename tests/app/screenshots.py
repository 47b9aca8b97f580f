"""Walks through Zivra's windows on a private desktop and saves a screenshot of each state.

Run through screenshots.sh, which starts the private desktop session.
"""

import os
import sys
import time

import desktop


def main(program, folder):
    shots = []

    def shot(name):
        # Let animations (0.2 s slides, 0.06 s bars) finish before the picture.
        time.sleep(0.6)
        path = os.path.join(folder, name + ".png")
        desktop.screenshot(path)
        shots.append(path)

    # A tone keeps the waveform moving once the engine runs.
    with desktop.Player(), desktop.Tone(440, right=660), desktop.Zivra(program):
        onboarding = desktop.onboarding_window()
        shot("01-onboarding")
        # The probe finds mpv answering as "Music".
        desktop.allow_media_player(onboarding)
        shot("02-onboarding-granted")
        desktop.press_continue(onboarding)
        popover = desktop.Popover()
        popover.geometry()
        shot("03-popover-after-continue")

        tray_x, tray_y = desktop.tray_icon_centre()
        desktop.click(tray_x, tray_y)
        desktop.wait_until(lambda: not popover.is_open(), "the tray click to close the popover")
        desktop.click(tray_x, tray_y)
        height = popover.height()
        shot("04-popover-after-tray-click")

        popover.click(*popover.CHANGE_PITCH)
        height = popover.wait_for_height(height)
        shot("05-change-pitch")

        popover.click(281, 220)
        height = popover.wait_for_height(height)
        shot("06-remove-vocals")

        popover.click(265, 281)
        height = popover.wait_for_height(height)
        shot("07-custom-sliders")

        popover.click_from_bottom(285, 34)
        time.sleep(0.5)
        desktop.run("xdotool", "key", "Down", "Return")
        time.sleep(0.5)
        shot("08-presets-panel")

        popover.click(115, 274)
        desktop.run("xdotool", "type", "--delay", "50", "Chorus")
        popover.click(259, 274)
        shot("09-preset-saved")

        popover.click(45, 232)
        time.sleep(0.5)
        popover.open_handoff_panel()
        shot("10-handoff-panel")
        desktop.click(*popover.filled_button_centre(shots[-1]))
        shot("11-handoff-running")

        popover.click(*popover.POWER)
        shot("12-quit-confirmation")

    print(folder)
    for path in shots:
        print("  " + os.path.basename(path))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
