#!/usr/bin/env bash
# build.sh BUILD_DIR [cmake options...]: configures (once) and builds Zivra.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
