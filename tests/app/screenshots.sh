#!/usr/bin/env bash
# screenshots.sh [ZIVRA_PROGRAM]
#
# Starts Zivra on a private desktop (X display with a tray host, sound server, session D-Bus,
# fresh settings), walks from the first-run onboarding to the popover's states and saves a
# screenshot of each into a new folder, whose name it prints.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
program=$(realpath "${1:-$root/build/Sources/app/zivra}")
folder=$(mktemp -d "${TMPDIR:-/tmp}/zivra-screenshots.XXXXXX")
"$root/tests/support/session.sh" --tray --sound -- python3 "$here/screenshots.py" "$program" "$folder"
