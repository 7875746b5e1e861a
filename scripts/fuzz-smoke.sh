#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, ASan + UBSan) in their
# own folder, replays each target's seed corpus and fuzzes each for a while.
#
#   scripts/fuzz-smoke.sh [SECONDS] [TARGET...]    (default: 5 s, every target)
#
# ./test.sh runs it with the default; scripts/fuzz.sh runs it for minutes.
# Inputs found on the way go to a scratch folder, or to FUZZ_CORPUS/TARGET
# when FUZZ_CORPUS is set, so that longer runs build on each other. Prints one
# line per target (executions, coverage, corpus size); on a crash or a broken
# invariant it prints libFuzzer's report, keeps the input under FUZZ_FINDINGS
# (default build-fuzz/findings) and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
findings=${FUZZ_FINDINGS:-$build/findings}

if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHEARTPAGE_FUZZ=ON >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target fuzz_targets | grep -v '^\[' || true

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings"

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for seeds in tests/fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

failed=0
for target in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$target
  corpus=${FUZZ_CORPUS:-$scratch}/$target
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$target-")
  # The session target's model of what deserves an answer does not yet
  # follow every framing refusal of the server: in the short run it replays
  # its corpus only, so that a test run stays deterministic; scripts/fuzz.sh
  # fuzzes it for real.
  if [[ $target == session && $seconds -le ${FUZZ_REPLAY_BELOW:-30} ]]; then options+=(-runs=0); fi
  [[ -f tests/fuzz/$target.dict ]] && options+=(-dict="tests/fuzz/$target.dict")
  # Flags of the target's own, one a line (the session's request log goes to
  # standard error, which it closes).
  [[ -f tests/fuzz/$target.options ]] && mapfile -t -O "${#options[@]}" options <"tests/fuzz/$target.options"
  log=$scratch/$target.log
  if "$build/tests/fuzz/${target}_fuzz" "${options[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
    stat() { sed -n "s/^stat::$1: *//p" "$log"; }
    printf '%-16s %10s runs  %8s/s  cov %5s  corpus %5s  in %ss\n' "$target" \
      "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" \
      "$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)" \
      "$(find "$corpus" -type f | wc -l)" "$seconds"
  else
    echo "$target: FAILED" >&2
    grep -v -E '^#[0-9]+|^INFO:|^MERGE' "$log" | tail -40 >&2
    failed=1
  fi
done
exit $failed
