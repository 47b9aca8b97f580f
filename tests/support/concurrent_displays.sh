#!/usr/bin/env bash
# concurrent_displays.sh: test sessions started at the same moment each get a
# display of their own, and a display keeps its state when its last client
# leaves. Each session writes its own mark on its root window with one X client
# and reads it back with another; runs inside session.sh --x, whose display is
# checked too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
count=6
out=$(mktemp -d "${TMPDIR:-/tmp}/zivra-displays.XXXXXX")
trap 'rm -rf "$out"' EXIT

# mark_and_read MARK: prints "DISPLAY MARK-READ-BACK" for the current display.
mark_and_read() {
  xprop -root -f ZIVRA_SESSION_MARK 8s -set ZIVRA_SESSION_MARK "$1"
  # Overlap with the other sessions, so that a shared display would show
  # another session's mark.
  sleep 1
  echo "$DISPLAY $(xprop -root ZIVRA_SESSION_MARK)"
}
export -f mark_and_read

pids=()
for ((n = 1; n <= count; n++)); do
  "$here/session.sh" --x -- bash -c "mark_and_read session-$n" >"$out/$n" 2>&1 &
  pids+=($!)
done
mark_and_read outer >"$out/0"
status=0
for ((n = 1; n <= count; n++)); do
  wait "${pids[n - 1]}" || { echo "session $n did not run:" && cat "$out/$n"; status=1; }
done
((status == 0)) || exit 1

declare -A owner=()
for ((n = 0; n <= count; n++)); do
  mark=$([[ $n == 0 ]] && echo outer || echo "session-$n")
  read -r display reading <"$out/$n"
  if [[ "$reading" != "ZIVRA_SESSION_MARK(STRING) = \"$mark\"" ]]; then
    echo "$mark on $display read back: $reading"
    status=1
  fi
  if [[ -n "${owner[$display]:-}" ]]; then
    echo "$mark and ${owner[$display]} share the display $display"
    status=1
  fi
  owner[$display]=$mark
done
((status == 0)) && echo "$((count + 1)) sessions, each on its own display: ${!owner[*]}"
exit $status
