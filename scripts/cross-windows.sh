#!/usr/bin/env bash
# Cross-compiles the machine library and its tests for 64-bit Windows with
# mingw-w64 and runs the tests under wine. Any failure fails the caller.
# Usage: scripts/cross-windows.sh [BUILD_DIR]   (default build/windows-machine)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build/windows-machine}")

cmake -S cmake/windows-machine -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build "$build" --parallel

# A prefix of our own, quiet, without the .NET and browser add-ons wine would
# otherwise offer to install on first start.
export WINEPREFIX="$build/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
status=0
ctest --test-dir "$build" --output-on-failure || status=$?
wineserver -k 2>/dev/null || true  # it would linger a few seconds otherwise
exit "$status"
