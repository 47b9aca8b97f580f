"""The Handoff panel in the real application on a private desktop: "Handoff to phone…" opens it,
"Start Handoff" shows the QR code, and the code read back from a screenshot of the screen is the
address of the phone page that Zivra serves.

Runs inside tests/support/session.sh --tray --sound (registered as a test). Usage:
  handoff_qr_screenshot.py ZIVRA_PROGRAM [SCREENSHOT]
leaves the screen with the running panel in SCREENSHOT and the panel before the start beside it
("-off" added to the name).
"""

import os
import re
import subprocess
import sys
import time
import urllib.request

import desktop


def main(program, screenshot):
    with desktop.Player(), desktop.Zivra(program) as zivra:
        popover = desktop.through_onboarding()
        popover.geometry()

        popover.open_handoff_panel()
        off = os.path.splitext(screenshot)[0] + "-off.png"
        desktop.screenshot(off)
        desktop.click(*popover.filled_button_centre(off))

        def decoded():
            time.sleep(0.6)
            desktop.screenshot(screenshot)
            result = subprocess.run(["zbarimg", "--raw", "-q", screenshot],
                                    capture_output=True, text=True)
            return result.stdout.strip() if result.returncode == 0 else None

        url = desktop.wait_until(decoded, "a QR code on the screen")
        log = open(zivra.log.name).read()
        port = re.search(r"Handoff serves on port (\d+)", log).group(1)
        match = re.fullmatch(r"http://(\d+\.\d+\.\d+\.\d+):(\d+)/handoff/([0-9A-F-]{36})", url)
        assert match, "the code holds the page's address: %r" % url
        assert match.group(2) == port, "the address has the port Zivra serves on"
        # Whatever interface the address names, the server listens on all of them.
        local = "http://127.0.0.1:%s/handoff/%s" % (port, match.group(3))
        with urllib.request.urlopen(local, timeout=10) as response:
            page = response.read().decode()
        assert 'const token = "%s";' % match.group(3) in page, "the page carries the code's token"
        print("the QR code on the screen reads %s, whose page Zivra serves" % url)


if __name__ == "__main__":
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.environ["ZIVRA_SESSION_DIR"], "handoff.png")
    main(sys.argv[1], out)
