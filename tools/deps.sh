#!/usr/bin/env bash
# Installs the Debian packages that are missing; does nothing when all are present.
#   tools/deps.sh        what building the program and the demo's simulator needs
#   tools/deps.sh test   that and what the tests need besides: the test libraries, the network
#                        namespace tool, Chromium and Node with the browser tests' package
#                        (tests/browser, pinned by its package-lock.json)
set -euo pipefail
cd "$(dirname "$0")/.."
WHAT=${1:-program}
PKGS=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libpcre2-dev libqt6sql6-sqlite libgl-dev)
[ "$WHAT" = test ] && PKGS+=(libgtest-dev libbenchmark-dev iproute2 chromium)
missing=()
for p in "${PKGS[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "$WHAT" = test ]; then
  # Node and npm count as present as commands: another packaging of Node may bring npm with it.
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
[ "$WHAT" = test ] || exit 0
# The browser tests drive the system's Chromium: the package must never fetch a browser of its own.
BROWSER=tests/browser
if ! cmp -s "$BROWSER/package-lock.json" "$BROWSER/node_modules/.korvane-lock"; then
  (cd "$BROWSER" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts)
  cp "$BROWSER/package-lock.json" "$BROWSER/node_modules/.korvane-lock"
fi
