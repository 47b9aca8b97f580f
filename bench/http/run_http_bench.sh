#!/usr/bin/env bash
# run_http_bench.sh VUZOZAR_SERVER HTTPLIB_SERVER [SECONDS]
#
# Kept-alive GET throughput of the module's server against a plain
# cpp-httplib server answering the same body, measured with wrk in the same
# run, at 1, 16 and 128 connections. Prints requests per second of each and
# their ratio (module / cpp-httplib; above 1 means the module is faster).
set -euo pipefail
ours=$1 reference=$2 seconds=${3:-5}

source "$(dirname "$0")/bench_servers.sh"

# rate PORT CONNECTIONS: requests per second that wrk measured.
rate() {
  local threads=$(($2 < 4 ? $2 : 4))
  wrk -t"$threads" -c"$2" -d"${seconds}s" -H 'Connection: keep-alive' \
    "http://127.0.0.1:$1/bench" | awk '/^Requests\/sec:/ {print $2}'
}

start "$ours"
ours_port=$port
start "$reference"
reference_port=$port
printf '%-12s %14s %14s %8s\n' connections vuzozar cpp-httplib ratio
for connections in 1 16 128; do
  ours_rate=$(rate "$ours_port" "$connections")
  reference_rate=$(rate "$reference_port" "$connections")
  printf '%-12s %14s %14s %8.2f\n' "$connections" "$ours_rate" "$reference_rate" \
    "$(echo "$ours_rate / $reference_rate" | bc -l)"
done
