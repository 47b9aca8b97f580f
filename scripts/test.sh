#!/usr/bin/env bash
# Installs what is missing, builds Zivra, checks the house style and runs every
# test:
#   0. the lint step (scripts/lint.sh: braces, clang-format); a finding fails
#      the run
#   1. all tests (unit, sound server, X11/tray, GUI, real peers); the entries
#      of stops longer than libpulse waits (label longstop) spend minutes with
#      their sound server stopped, so they run beside the lint and the two
#      builds below, which take the lowest CPU priority meanwhile
#   2. the non-GUI tests again in an AddressSanitizer + UBSan build, but for
#      the detection sweep, which checks values and would take a core for
#      minutes beside the sound tests, and the long stops, whose code the
#      shorter stop tests run there
#   3. the fuzz targets for a bounded time (clang, libFuzzer)
# A sound test that fails in run 1 or 2 runs once more at the end of that
# run, and counts as passed only if it passes then: a burst of disk writes
# beside it (another job on the machine) starves its real-time paths for as
# long as it lasts, which no CPU priority keeps off; the first failure's
# output stays in the log.
# Prints ctest's summary for each run and a final "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
./scripts/install-deps.sh --test || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

# ctest_into FILE DIR [ctest args...]: runs ctest, its output into FILE;
# returns ctest's status.
ctest_into() {
  local file=$1 dir=$2
  shift 2
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") >"$file" 2>&1
}

# summary FILE: prints "failed total" from ctest's summary in FILE, or nothing
# when it has none.
summary() {
  grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n1 |
    sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/'
}

# count FILE STATUS: prints ctest's output in FILE and adds its counts to the
# totals; a STATUS other than 0 without a summary (ctest itself failed) fails
# the run.
count() {
  local file=$1 rc=$2 f t
  cat "$file"
  read -r f t <<<"$(summary "$file")"
  if [[ -n "${t:-}" ]]; then
    passed=$((passed + t - f))
    failed=$((failed + f))
  elif ((rc != 0)); then
    status=1
  fi
}

# failed_sound_tests DIR: the sound tests that failed in DIR's last ctest run,
# as "a|b|c".
failed_sound_tests() {
  local dir=$1
  [[ -f "$dir/Testing/Temporary/LastTestsFailed.log" ]] || return 0
  grep -Fxf <(cd "$dir" && ctest -N -L sound | sed -nE 's/^ *Test +#[0-9]+: //p') \
    <(cut -d: -f2- "$dir/Testing/Temporary/LastTestsFailed.log") | paste -sd'|'
}

# run_ctest DIR [ctest args...]: runs ctest, prints it, adds its counts, and
# runs the sound tests that failed once more.
run_ctest() {
  local dir=$1 rc=0 f t
  ctest_into "$out" "$@" || rc=$?
  count "$out" "$rc"
  ((rc != 0)) || return 0
  local names
  names=$(failed_sound_tests "$dir")
  [[ -n "$names" ]] || return 0
  echo "== the failed sound tests once more"
  ctest_into "$out" "$dir" -R "^($names)\$" || true
  cat "$out"
  read -r f t <<<"$(summary "$out")"
  if [[ -n "${t:-}" ]]; then
    passed=$((passed + t - f))
    failed=$((failed - t + f))
  fi
}

out=$(mktemp)
waited=$(mktemp)
trap 'rm -f "$out" "$waited"' EXIT

echo "== build"
./scripts/build.sh build -DZIVRA_TESTS=ON -DZIVRA_BENCH=ON || exit 1

echo "== long stops, beside the lint and the sanitizer and fuzz builds"
ctest_into "$waited" build -L longstop &
long_stops=$!
echo "== lint"
nice -n 19 ./scripts/lint.sh build || status=1
echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
nice -n 19 ./scripts/build.sh build-asan -DZIVRA_SANITIZE=ON -DZIVRA_TESTS=ON -DZIVRA_BENCH=OFF
asan_built=$?
echo "== fuzz build"
CC=clang CXX=clang++ nice -n 19 cmake -S . -B build-fuzz -G Ninja -DZIVRA_FUZZ=ON -DZIVRA_TESTS=ON \
  -DZIVRA_BENCH=OFF >/dev/null && nice -n 19 cmake --build build-fuzz --target fuzzers
fuzz_built=$?
long_stops_rc=0
wait "$long_stops" || long_stops_rc=$?
echo "== long-stop tests"
count "$waited" "$long_stops_rc"

echo "== tests"
run_ctest build -LE longstop

if ((asan_built == 0)); then
  echo "== tests under sanitizers"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0
  run_ctest build-asan -LE 'gui|x11|fuzz|sweep|longstop'
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
else
  status=1
fi

echo "== fuzz targets"
if ((fuzz_built == 0)); then
  run_ctest build-fuzz -L fuzz
else
  status=1
fi

((failed == 0)) || status=1
echo "$passed passed, $failed failed"
exit $status
