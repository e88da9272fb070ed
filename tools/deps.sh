#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the browser tests' node package
# (tests/browser, pinned by its package-lock.json); does nothing when all are present.
set -euo pipefail
cd "$(dirname "$0")/.."
PKGS=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libgl-dev
      libgtest-dev libbenchmark-dev iproute2 chromium)
missing=()
for p in "${PKGS[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# Node and npm count as present as commands: another packaging of Node may bring npm with it.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# The browser tests drive the system's Chromium: the package must never fetch a browser of its own.
BROWSER=tests/browser
if ! cmp -s "$BROWSER/package-lock.json" "$BROWSER/node_modules/.korvane-lock"; then
  (cd "$BROWSER" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts)
  cp "$BROWSER/package-lock.json" "$BROWSER/node_modules/.korvane-lock"
fi
