#!/usr/bin/env bash
# Installs what is missing, builds the program and the controller simulator (no tests), starts the
# simulator as the demo controller on loopback and runs the program in the demo program folder,
# in the foreground until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_SIM=ON
cmake --build build -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target xaptvkKorvane quillonsim
APP=demo/run
SIM_PORT=${KORVANE_SIM_PORT:-10001}
mkdir -p "$APP"
cp -rn demo/Config demo/Scripts demo/HTML "$APP"/ 2>/dev/null || true
build/tests/sim/quillonsim --tcp "$SIM_PORT" --paced > "$APP/quillonsim.log" 2>&1 &
SIM=$!
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
build/src/app/xaptvkKorvane --app-path "$APP" "$@" &
APPPID=$!
# Ctrl-C or a stop of this script ends the program through its own Exit, then the simulator.
trap 'kill -TERM $APPPID 2>/dev/null || true' INT TERM
status=0
wait $APPPID || status=$?
wait $APPPID 2>/dev/null || true
kill $SIM 2>/dev/null || true
exit $status
