#!/usr/bin/env bash
# Builds every test program with AddressSanitizer + UndefinedBehaviorSanitizer
# and with ThreadSanitizer (the presets of CMakePresets.json, in build-asan and
# build-tsan) and runs every test but the browser suites, the programs they
# start (heartpage-server, heartpage-cli) instrumented too. The suppressions
# for libraries we do not build are in tools/sanitizers/.
#
#   scripts/sanitizers.sh [asan|tsan]...    (default: both)
#
# A sanitizer report fails the run even when it came from a server process
# that a test killed afterwards: every report is written under
# build-*/reports/ and printed here. Too slow for ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(asan tsan)

failed=0
for preset in "${presets[@]}"; do
  reports=build-$preset/reports
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel "$(nproc)" | grep -v '^\[' || true
  built=$((SECONDS - start))
  rm -rf "$reports"
  start=$SECONDS
  log=build-$preset/sanitizers.log
  ctest_status=0
  ctest --preset "$preset" --parallel "$(nproc)" >"$log" 2>&1 || ctest_status=$?
  grep -E 'tests passed|\(Failed\)|Exception|Timeout' "$log" || true
  if compgen -G "$reports/*" >/dev/null; then
    echo "$preset: sanitizer reports:" >&2
    cat "$reports"/* >&2
    failed=1
  elif [[ $ctest_status -ne 0 ]]; then
    echo "$preset: tests failed, see $log" >&2
    failed=1
  fi
  echo "$preset: built in ${built}s, tests ran in $((SECONDS - start))s"
done
exit $failed
