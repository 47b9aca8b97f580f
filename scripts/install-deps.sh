#!/usr/bin/env bash
# Installs the Debian packages Zivra needs that are missing. With --test it
# also installs what the test suite drives: a private sound server, an X
# server with a tray host, real HTTP/WebSocket/MPRIS peers, a headless browser
# for the phone page and the fuzzers.
# Checks first, so a second run does nothing and touches no network.
set -euo pipefail
cd "$(dirname "$0")/.."

build_pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins fonts-dejavu-core
  libpulse-dev libdbus-1-dev librubberband-dev libqrencode-dev libxtst-dev libx11-dev
)
test_pkgs=(
  libgtest-dev libgmock-dev googletest
  pipewire pipewire-bin pipewire-pulse wireplumber dbus pulseaudio-utils pulseaudio
  sox xvfb xauth xdotool trayer imagemagick x11-utils
  curl python3 python3-websockets wrk libcpp-httplib-dev bc
  mpv mpv-mpris playerctl xdg-utils desktop-file-utils
  clang libclang-rt-14-dev clang-tidy clang-format shellcheck flake8
  chromium nodejs zbar-tools
  # Many desktops' "monospace": its metadata lacks the monospace spacing, so
  # the GUI tests run where that flag cannot be trusted.
  fonts-noto-mono
)

pkgs=("${build_pkgs[@]}")
if [[ "${1:-}" == "--test" ]]; then
  pkgs+=("${test_pkgs[@]}")
fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Some builds of nodejs carry npm themselves and conflict with Debian's npm
# package, so npm is asked for only when the command is missing.
if [[ "${1:-}" == "--test" ]] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi

if ((${#missing[@]} > 0)); then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    as_root=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The browser tests (the phone page, the sample site's pages) drive Debian's
# chromium through playwright-core (its own browser downloads are never used),
# and the lint checks their scripts and the page's with eslint; both pinned by
# the lock file.
modules=tests/support/browser/node_modules
if [[ "${1:-}" == "--test" && ! (-d $modules/playwright-core && -x $modules/.bin/eslint) ]]; then
  npm ci --prefix tests/support/browser --no-audit --no-fund
fi
