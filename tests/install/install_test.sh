#!/usr/bin/env bash
# install_test.sh BUILD_DIR: installs the build into a fresh prefix and checks
# that a desktop finds Zivra there: the program with its tap guard beside it,
# a valid desktop entry that starts it, and the icon the entry names.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() {
  echo "FAIL: $*"
  exit 1
}
entry=$prefix/share/applications/zivra.desktop
[[ -x $prefix/bin/zivra ]] || fail "bin/zivra is not there or not executable"
[[ -x $prefix/bin/zivra-tapguard ]] || fail "bin/zivra-tapguard is not beside bin/zivra"
[[ -f $entry ]] || fail "share/applications/zivra.desktop is not there"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[[ -x $prefix/bin/$program ]] || fail "the entry starts '$program', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] ||
  fail "the entry's icon '$icon' is not in the hicolor theme"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is no SVG"
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
