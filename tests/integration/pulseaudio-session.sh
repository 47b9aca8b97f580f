#!/usr/bin/env bash
# pulseaudio-session.sh -- COMMAND [ARGS...]
#
# Runs COMMAND against a private PulseAudio server instead of PipeWire, with
# the sinks of the usual test session: 48 kHz stereo null sinks "speakers"
# (default) and "headphones", a null sink "micfeed" and the source "mic"
# remapped from its monitor. Stops what it started.
set -euo pipefail
[[ "${1:-}" == "--" ]] && shift
(($#)) || { echo "usage: $0 -- command..." >&2; exit 2; }

root=$(mktemp -d "${TMPDIR:-/tmp}/zivra-pulse.XXXXXX")
export XDG_RUNTIME_DIR=$root/run XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_DATA_HOME=$root/data XDG_CACHE_HOME=$root/cache HOME=$root/home
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_RUNTIME_PATH DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"

cat >"$root/server.pa" <<PA
load-module module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse/native
load-module module-null-sink sink_name=speakers rate=48000 channels=2 sink_properties=device.description=Speakers
load-module module-null-sink sink_name=headphones rate=48000 channels=2 sink_properties=device.description=Headphones
load-module module-null-sink sink_name=micfeed rate=48000 channels=2 sink_properties=device.description=Microphone-feed
load-module module-remap-source master=micfeed.monitor source_name=mic source_properties=device.description=Microphone
set-default-sink speakers
set-default-source mic
PA

mkdir -p "$XDG_RUNTIME_DIR/pulse"
pulseaudio --daemonize=no -n -F "$root/server.pa" --exit-idle-time=-1 --use-pid-file=no \
  --disallow-exit >"$root/server.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$root"' EXIT
trap 'exit 143' TERM INT

for ((n = 0; n < 200; n++)); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.05
done
pactl info >/dev/null 2>&1 || { echo "pulseaudio-session: server did not start" >&2; cat "$root/server.log" >&2; exit 1; }

set +e
"$@"
rc=$?
set -e
exit $rc
