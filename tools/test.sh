#!/usr/bin/env bash
# Installs what is missing, builds with the sanitizers and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test
BUILD=${KORVANE_TEST_BUILD:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON -DKORVANE_BUILD_TESTS=ON
cmake --build "$BUILD" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ROOT=$PWD
cd "$BUILD"
bash "$ROOT/tools/isolated.sh" ctest --output-on-failure -j "$(nproc)" "$@"
