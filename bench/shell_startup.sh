#!/usr/bin/env bash
# Start-up of the desktop program against a local heartpage-server, five runs.
# Usage: bench/shell_startup.sh [BUILD_DIR]   (needs a display, or run it
# under xvfb-run; QT_QPA_PLATFORM=offscreen measures without one)
set -euo pipefail
build=${1:-build}
data=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$data"' EXIT
"$build/server/heartpage-server" --data "$data" --listen 127.0.0.1:0 2>"$data/log" &
server=$!
for _ in $(seq 100); do grep -qs 'listening on' "$data/log" && break; sleep 0.05; done
host=$(sed -n 's|.*listening on http://\([^/]*\)/.*|\1|p' "$data/log" | head -1)
for _ in 1 2 3 4 5; do
  HEARTPAGE_HOST=$host HEARTPAGE_BENCH_T0=$(date +%s%N) "$build/bench/heartpage_shell_startup"
done
