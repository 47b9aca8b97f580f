#!/usr/bin/env bash
# run_file_bench.sh VUZOZAR_SERVER HTTPLIB_SERVER [RUNS] [MIB]
#
# Download speed of one large file (256 MiB of random bytes unless MIB says
# otherwise) over loopback, curl writing to /dev/null: the module's
# directory sharing against cpp-httplib's static file server, sharing the
# same directory, taking turns in the same run. Prints the speed of each and
# their ratio per run (module / cpp-httplib; above 1 means the module is
# faster), then the ratio's smallest and largest value.
set -euo pipefail
ours=$1 reference=$2 runs=${3:-5} mib=${4:-256}

source "$(dirname "$0")/bench_servers.sh"
folder=$(mktemp -d)
trap 'stop_servers; rm -rf "$folder"' EXIT

# speed PORT: bytes per second of one download of the file; fails unless
# the whole file came.
speed() {
  local size rate
  read -r size rate < <(curl -sS -o /dev/null -w '%{size_download} %{speed_download}\n' \
    "http://127.0.0.1:$1/public/large.bin")
  if [[ "$size" != "$((mib << 20))" ]]; then
    echo "port $1 sent $size bytes" >&2
    exit 1
  fi
  echo "$rate"
}

head -c "$((mib << 20))" /dev/urandom >"$folder/large.bin"
start "$ours" "$folder"
ours_port=$port
start "$reference" "$folder"
reference_port=$port
# One download each first, so that both read the file from the page cache.
speed "$ours_port" >/dev/null
speed "$reference_port" >/dev/null

printf '%-5s %16s %16s %8s\n' run 'vuzozar MiB/s' 'cpp-httplib MiB/s' ratio
ratios=()
for run in $(seq "$runs"); do
  ours_speed=$(speed "$ours_port")
  reference_speed=$(speed "$reference_port")
  ratio=$(echo "$ours_speed / $reference_speed" | bc -l)
  ratios+=("$ratio")
  printf '%-5s %16.0f %16.0f %8.2f\n' "$run" "$(echo "$ours_speed / 1048576" | bc -l)" \
    "$(echo "$reference_speed / 1048576" | bc -l)" "$ratio"
done
printf 'ratio min-max: %.2f-%.2f\n' \
  "$(printf '%s\n' "${ratios[@]}" | sort -g | head -n1)" \
  "$(printf '%s\n' "${ratios[@]}" | sort -g | tail -n1)"
