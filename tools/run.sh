#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it in the demo program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"
APP=demo/run
mkdir -p "$APP"
cp -rn demo/Config "$APP"/ 2>/dev/null || true
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
exec build/src/app/xaptvkKorvane --app-path "$APP" "$@"
