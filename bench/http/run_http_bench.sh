#!/usr/bin/env bash
# run_http_bench.sh VUZOZAR_SERVER HTTPLIB_SERVER [SECONDS] [RUNS]
#
# Kept-alive GET throughput of the module's server against a plain
# cpp-httplib server answering the same body, measured with wrk in the same
# run, at 1, 16 and 128 connections, RUNS times (5 by default). Prints
# requests per second of each and their ratio (module / cpp-httplib; above
# 1 means the module is faster), then the lowest and highest ratio of the
# runs for each number of connections.
set -euo pipefail
ours=$1 reference=$2 seconds=${3:-5} runs=${4:-5}

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
declare -A ratios
printf '%-12s %14s %14s %8s\n' connections vuzozar cpp-httplib ratio
for _ in $(seq "$runs"); do
  for connections in 1 16 128; do
    ours_rate=$(rate "$ours_port" "$connections")
    reference_rate=$(rate "$reference_port" "$connections")
    ratio=$(printf '%.2f' "$(echo "$ours_rate / $reference_rate" | bc -l)")
    ratios[$connections]+=" $ratio"
    printf '%-12s %14s %14s %8s\n' "$connections" "$ours_rate" "$reference_rate" "$ratio"
  done
done
echo
printf '%-12s %s\n' connections "ratio over $runs runs (lowest-highest)"
for connections in 1 16 128; do
  printf '%-12s %s\n' "$connections" \
    "$(tr ' ' '\n' <<<"${ratios[$connections]}" | sed '/^$/d' | sort -n | sed -n '1p;$p' | paste -sd-)"
done
