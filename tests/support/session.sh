#!/usr/bin/env bash
# session.sh [--sound] [--x] [--tray] -- COMMAND [ARGS...]
#
# Runs COMMAND in a private desktop session and stops what it started:
#   always   fresh XDG runtime/config/state/data/cache folders and a private
#            session D-Bus (DBUS_SESSION_BUS_ADDRESS)
#   --sound  a private PipeWire server (pipewire, wireplumber, pipewire-pulse;
#            PULSE_SERVER) with 48 kHz stereo null sinks "speakers" (default)
#            and "headphones", a null sink "micfeed" and the source "mic"
#            remapped from its monitor (default source): play into "micfeed"
#            and the microphone hears it
#   --x      an Xvfb display (DISPLAY)
#   --tray   an Xvfb display with a tray host (trayer) that is up before
#            COMMAND starts
# The session's folder is exported as ZIVRA_SESSION_DIR. Python finds the
# tests' shared helpers (tests/support/python) without writing bytecode beside
# them.
set -euo pipefail

sound=0 x=0 tray=0
while (($#)); do
  case "$1" in
  --sound) sound=1 ;;
  --x) x=1 ;;
  --tray) x=1 tray=1 ;;
  --) shift; break ;;
  *) echo "usage: $0 [--sound] [--x] [--tray] -- command..." >&2; exit 2 ;;
  esac
  shift
done
(($#)) || { echo "usage: $0 [--sound] [--x] [--tray] -- command..." >&2; exit 2; }

root=$(mktemp -d "${TMPDIR:-/tmp}/zivra-session.XXXXXX")
export ZIVRA_SESSION_DIR=$root
export XDG_RUNTIME_DIR=$root/run XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_DATA_HOME=$root/data XDG_CACHE_HOME=$root/cache
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER PULSE_RUNTIME_PATH DISPLAY WAYLAND_DISPLAY
support=$(cd "$(dirname "$0")" && pwd)
export PYTHONPATH="$support/python${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1

pids=()
# shellcheck disable=SC2317 # run by the EXIT trap
stop_all() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$root"
}
trap stop_all EXIT
trap 'exit 143' TERM INT

# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms.
wait_for() {
  local limit=$(($1 * 20)) n=0
  shift
  until "$@" >/dev/null 2>&1; do
    ((++n < limit)) || return 1
    sleep 0.05
  done
}

# Everything started here dies with this script, even when a test runner
# kills it without warning (a timeout), so no server outlives its test.
tied=(setpriv --pdeathsig KILL --)

log=$root/session.log

# fail MESSAGE: says what did not come up, with everything the servers printed.
fail() {
  echo "session: $1" >&2
  cat "$log" >&2
  exit 1
}

"${tied[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" >>"$log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
wait_for 10 test -S "$XDG_RUNTIME_DIR/bus" || fail "D-Bus did not start"

if ((sound)); then
  "${tied[@]}" pipewire >>"$log" 2>&1 &
  pids+=($!)
  # The session manager exits at once when it finds no server to connect to.
  wait_for 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "PipeWire did not start"
  "${tied[@]}" wireplumber >>"$log" 2>&1 &
  pids+=($!)
  "${tied[@]}" pipewire-pulse >>"$log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  wait_for 15 pactl info || fail "sound server did not start"
  for sink in speakers:Speakers headphones:Headphones micfeed:Microphone-feed; do
    pactl load-module module-null-sink "sink_name=${sink%%:*}" rate=48000 channels=2 \
      "sink_properties=device.description=${sink#*:}" >/dev/null
  done
  pactl load-module module-remap-source master=micfeed.monitor source_name=mic \
    "source_properties=device.description=Microphone" >/dev/null
  wait_for 10 sh -c 'pactl list short sinks | grep -q headphones && pactl list short sources | grep -qw mic' ||
    fail "the test sinks and the source \"mic\" did not appear"
  # The session manager may not have its default-device store up yet, and the
  # server then refuses the change; it accepts it a moment later.
  wait_for 10 pactl set-default-sink speakers || fail "the default sink could not be set"
  wait_for 10 pactl set-default-source mic || fail "the default source could not be set"
  wait_for 10 sh -c 'pactl get-default-sink | grep -qx speakers' || fail "the default sink did not become \"speakers\""
fi

if ((x)); then
  # -displayfd: the server takes the first display whose socket it can bind, so
  # sessions started at the same moment never share one. -noreset: by default
  # the server resets when its last client leaves and drops every client that
  # connects meanwhile; on a busy machine the tray host, starting right after
  # the readiness probe left, was dropped ("cannot open display").
  "${tied[@]}" Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp >>"$log" 2>&1 5>"$root/display" &
  pids+=($!)
  wait_for 10 test -s "$root/display" || fail "Xvfb did not start"
  display=$(head -n1 "$root/display")
  export DISPLAY=":$display"
  wait_for 10 xdpyinfo || fail "the X display does not answer"
  if ((tray)); then
    "${tied[@]}" trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
      --transparent false >>"$log" 2>&1 &
    pids+=($!)
    wait_for 10 xdotool search --classname trayer || fail "tray host did not start"
  fi
fi

set +e
setpriv --pdeathsig TERM -- "$@"
rc=$?
set -e
exit $rc
