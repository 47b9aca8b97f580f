#!/usr/bin/env bash
# Installs what is missing, builds Zivra and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build -DZIVRA_TESTS=OFF -DZIVRA_BENCH=OFF
exec build/Sources/app/zivra
