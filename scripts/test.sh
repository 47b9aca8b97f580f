#!/usr/bin/env bash
# Installs what is missing, builds Zivra, checks the house style and runs every
# test:
#   0. the lint step (scripts/lint.sh: braces, clang-format); a finding fails
#      the run
#   1. all tests (unit, sound server, X11/tray, GUI, real peers)
#   2. the non-GUI tests again in an AddressSanitizer + UBSan build, but for
#      the detection sweep, which checks values and would take a core for
#      minutes beside the sound tests
#   3. the fuzz targets for a bounded time (clang, libFuzzer)
# Prints ctest's summary for each run and a final "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
./scripts/install-deps.sh --test || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

# run_ctest DIR [ctest args...]: runs ctest, adds its counts to the totals.
run_ctest() {
  local dir=$1 out
  shift
  out=$(cd "$dir" && ctest --output-on-failure -j"$jobs" "$@" 2>&1)
  local rc=$?
  printf '%s\n' "$out"
  local line
  line=$(printf '%s\n' "$out" | grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' | tail -n1)
  if [[ -n "$line" ]]; then
    local f t
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
  fi
  ((rc == 0)) || status=1
}

echo "== build"
./scripts/build.sh build -DZIVRA_TESTS=ON -DZIVRA_BENCH=ON || exit 1
echo "== lint"
./scripts/lint.sh build || status=1
echo "== tests"
run_ctest build

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0
if ./scripts/build.sh build-asan -DZIVRA_SANITIZE=ON -DZIVRA_TESTS=ON -DZIVRA_BENCH=OFF; then
  echo "== tests under sanitizers"
  run_ctest build-asan -LE 'gui|x11|fuzz|sweep'
else
  status=1
fi
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

echo "== fuzz targets"
if CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DZIVRA_FUZZ=ON -DZIVRA_TESTS=ON -DZIVRA_BENCH=OFF >/dev/null &&
  cmake --build build-fuzz --target fuzzers; then
  run_ctest build-fuzz -L fuzz
else
  status=1
fi

echo "$passed passed, $failed failed"
exit $status
