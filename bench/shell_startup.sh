#!/usr/bin/env bash
# Start-up of the desktop program against a local heartpage-server, side by
# side with a bare Qt window of the main window's size and with that window
# holding only what ours cannot show without (libcurl, the artwork, Chinese
# text: the floor), RUNS (default 10) of each taken in turn; prints every run
# and the medians of painted-window time and resident memory with their
# ratios.
# With OTHER_BUILD_DIR, that build's program (an older one, say) is taken in
# turn too and compared, so that a change is measured before and after in
# one run on a busy machine.
# Usage: bench/shell_startup.sh [BUILD_DIR] [RUNS] [OTHER_BUILD_DIR]   (needs a
# display, or run it under xvfb-run; QT_QPA_PLATFORM=offscreen measures
# without one)
set -euo pipefail
build=${1:-build}
runs=${2:-10}
other=${3:+$3/bench/heartpage_shell_startup}
data=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$data"' EXIT
"$build/server/heartpage-server" --data "$data" --listen 127.0.0.1:0 2>"$data/log" &
server=$!
for _ in $(seq 100); do grep -qs 'listening on' "$data/log" && break; sleep 0.05; done
host=$(sed -n 's|.*listening on http://\([^/]*\)/.*|\1|p' "$data/log" | head -1)
program=$build/bench/heartpage_shell_startup bare=$build/bench/bare_window
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$data}
artwork=$(dirname "$0")/../app/resources/background.jpg
# One run of each first, untimed, so that all start with warm file caches.
"$bare" >/dev/null
"$bare" --essentials "$artwork" >/dev/null
HEARTPAGE_HOST=$host "$program" >/dev/null
[[ -z $other ]] || HEARTPAGE_HOST=$host "$other" >/dev/null
for _ in $(seq "$runs"); do
  HEARTPAGE_BENCH_T0=$(date +%s%N) "$bare" | sed 's/^/bare  /' | tee -a "$data/bare"
  HEARTPAGE_BENCH_T0=$(date +%s%N) "$bare" --essentials "$artwork" | sed 's/^/floor /' |
    tee -a "$data/floor"
  HEARTPAGE_HOST=$host HEARTPAGE_BENCH_T0=$(date +%s%N) "$program" | sed 's/^/ours  /' |
    tee -a "$data/ours"
  [[ -z $other ]] || HEARTPAGE_HOST=$host HEARTPAGE_BENCH_T0=$(date +%s%N) "$other" |
    sed 's/^/other /' | tee -a "$data/other"
done
median() { sed -n "s/.*$1 \([0-9.]*\).*/\1/p" "$2" | sort -n | awk '{v[NR]=$1} END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
report() {
  local ours=${2:-ours}
  awk -v n="$runs" -v what="$1" -v om="$(median total "$data/$ours")" \
    -v bm="$(median total "$data/$1")" -v ok="$(median resident "$data/$ours")" \
    -v bk="$(median resident "$data/$1")" 'BEGIN {
    printf "medians of %d: painted %.1f ms vs %s %.1f ms (%.2fx); resident %.1f MB vs %s %.1f MB (%.2fx)\n",
      n, om, what, bm, om / bm, ok / 1024, what, bk / 1024, ok / bk }'
}
report bare
report floor
if [[ -n $other ]]; then
  echo "the other build's program:"
  report bare other
  report floor other
  report other
fi
