# shellcheck shell=bash
# Sourced by the HTTP benchmarks: starts servers in the background and stops
# them when the script exits.
#   start SERVER [ARGS...]  starts it and sets `port` to the port it prints
#   stop_servers            stops every server started (run on exit)

pids=()
outs=()

stop_servers() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -f "${outs[@]}"
}
trap stop_servers EXIT

start() {
  local out
  out=$(mktemp)
  outs+=("$out")
  "$@" >"$out" &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(sed -n 's/^port //p' "$out")
    [[ -n "$port" ]] && return
    sleep 0.05
  done
  echo "server $1 did not start" >&2
  exit 1
}
