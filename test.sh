#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
# The build is configured one way, by the presets, whoever starts it.
cmake --preset dev
cmake --build --preset dev --parallel
ctest --preset dev --parallel "$(nproc)"
# The fuzz targets, built with clang in build-fuzz: seed corpora replayed and
# each target fuzzed for a few seconds.
scripts/fuzz-smoke.sh
# The Windows files of machine/, cross-compiled and tested under wine.
scripts/cross-windows.sh build/windows-machine
