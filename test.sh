#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; the last
# line says how many tests passed, how long it all took and where the
# failures' logs are.
set -euo pipefail
cd "$(dirname "$0")"

started=$SECONDS
scripts/install-deps.sh
# The build is configured one way, by the presets, whoever starts it.
cmake --preset dev
cmake --build --preset dev --parallel
# A failing step does not hide the ones after it, nor the last line.
status=0
mkdir -p build/Testing
ctest --preset dev --parallel "$(nproc)" 2>&1 | tee build/Testing/ctest-output.log || status=1
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of' build/Testing/ctest-output.log | tail -1 || true)
# The fuzz targets, built with clang in build-fuzz: seed corpora replayed and
# each target fuzzed for a few seconds.
scripts/fuzz-smoke.sh || { status=1; summary+="; the fuzz smoke run failed"; }
# The Windows files of machine/, cross-compiled and tested under wine.
scripts/cross-windows.sh build/windows-machine ||
  { status=1; summary+="; the Windows build of machine/ failed"; }
elapsed=$((SECONDS - started))
logs=
[[ $status == 0 ]] ||
  logs=" Failures' logs: build/Testing/Temporary/LastTestsFailed.log and LastTest.log beside it."
echo "test.sh: ${summary:-the tests did not run}; $((elapsed / 60)) min $((elapsed % 60)) s in all.$logs"
exit "$status"
