#!/usr/bin/env bash
# Fuzzes every target of tests/fuzz for a long while, by default 10 minutes
# each, one after the other.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# The corpus grows in build-fuzz/corpus/TARGET and is kept, so each run
# starts where the last one stopped; a crash or broken invariant is kept in
# build-fuzz/findings and ends the run. Prints executions, speed, coverage
# and corpus size per target. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
mkdir -p build-fuzz/corpus
FUZZ_CORPUS=build-fuzz/corpus exec scripts/fuzz-smoke.sh "$seconds" "$@"
