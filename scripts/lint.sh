#!/usr/bin/env bash
# lint.sh BUILD_DIR: checks the house style that a tool can check, over the
# project's own files:
#   1. C and C++ in Sources/, tests/ and bench/:
#      - clang-format leaves every file as it is
#      - every body of if, else, for, while and do is in braces
#        (clang-tidy's readability-braces-around-statements, over the build's
#        compilation database, one process per core)
#      - the include groups are in CONTRIBUTING's order (scripts/include_order.py)
#      - within a folder, no include runs back up (scripts/include_cycles.py)
#   2. the shell scripts: shellcheck
#   3. the Python: flake8 (.flake8)
#   4. the JavaScript (the phone page's script, the browser tests): eslint,
#      pinned in tests/support/browser (tests/support/browser/eslint.config.mjs)
# Prints each finding and fails when there is one.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
build=${1:?usage: lint.sh BUILD_DIR}
status=0

# The project's files (tracked or new, not ignored) whose names match.
project_files() {
  git ls-files --cached --others --exclude-standard -- "$@" | sort -u | while read -r file; do
    [[ -f "$file" ]] && printf '%s\n' "$file"
  done
}

mapfile -t cfiles < <(project_files 'Sources/*' 'tests/*' 'bench/*' | grep -E '\.(c|cpp|h)$')

echo "== lint: clang-format"
mapfile -t unformatted < <(clang-format --dry-run "${cfiles[@]}" 2>&1 |
  grep -oE '^[^:]+:[0-9]+:[0-9]+: (warning|error)' | cut -d: -f1 | sort -u)
if ((${#unformatted[@]} > 0)); then
  printf 'not formatted (run clang-format -i on it): %s\n' "${unformatted[@]}"
  status=1
fi

echo "== lint: braces"
# clang does not know some of GCC's options; a copy of the database without them.
database=$(mktemp -d)
trap 'rm -rf "$database"' EXIT
sed -E 's/ -fvect-cost-model=[a-z]+//g' "$build/compile_commands.json" >"$database/compile_commands.json"
project="^$root/(Sources|tests|bench)/"
report=$(run-clang-tidy -p "$database" -j "$(nproc)" -quiet \
  -checks='-*,readability-braces-around-statements' -header-filter="$project" "$project" 2>/dev/null |
  sed -E 's/\x1b\[[0-9;]*m//g' | sed "s|^$root/||")
findings=$(grep -E '^[^ ]+: warning: .*\[readability-braces-around-statements\]' <<<"$report" | sort -u)
if [[ -n "$findings" ]]; then
  printf '%s\n' "$findings"
  status=1
fi
# What clang cannot parse it checks only in part: named, without failing the
# run (the compiler, not the lint, judges the code).
mapfile -t unparsed < <(grep -E '^[^ ]+: error: .*\[clang-diagnostic-error\]' <<<"$report" | cut -d: -f1 | sort -u)
if ((${#unparsed[@]} > 0)); then
  printf 'braces checked only in part (clang cannot parse all of it): %s\n' "${unparsed[@]}"
fi

echo "== lint: includes"
python3 scripts/include_order.py "${cfiles[@]}" || status=1
mapfile -t sources < <(project_files 'Sources/*' | grep -E '\.(c|cpp|h)$')
python3 scripts/include_cycles.py "${sources[@]}" || status=1

echo "== lint: shellcheck"
# Shell scripts by their extension or their first line.
mapfile -t scripts < <(project_files | while read -r file; do
  if [[ "$file" == *.sh ]] || head -n1 "$file" | grep -qE '^#!.*\b(ba)?sh\b'; then
    printf '%s\n' "$file"
  fi
done)
shellcheck --external-sources --source-path=SCRIPTDIR "${scripts[@]}" || status=1

echo "== lint: flake8"
mapfile -t python < <(project_files '*.py')
flake8 "${python[@]}" || status=1

echo "== lint: eslint"
mapfile -t javascript < <(project_files '*.js' '*.mjs')
tests/support/browser/node_modules/.bin/eslint --max-warnings 0 \
  --config tests/support/browser/eslint.config.mjs "${javascript[@]}" || status=1

if ((status == 0)); then
  echo "lint: clean"
fi
exit $status
