#!/usr/bin/env bash
# A newcomer's first `./run.sh` on a machine without a display, against the
# built tree: it starts the local server, and both addresses it prints (the
# maker in the browser, the demo page) answer 200. Nothing of the machine's
# is touched: the server's data go to a scratch folder, and it is stopped.
# usage: run_sh_test.sh SOURCE_DIR
set -euo pipefail
source=$1
work=$(mktemp -d)
cleanup() {
  pkill -f "heartpage-server --listen 127.0.0.1:$port" 2>/dev/null || true
  rm -rf "$work"
}
fail() {
  echo "FAIL: $*" >&2
  cat "$work/out" >&2 || true
  exit 1
}
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
trap cleanup EXIT

env -u DISPLAY -u WAYLAND_DISPLAY HEARTPAGE_HOST="127.0.0.1:$port" XDG_DATA_HOME="$work/data" \
  "$source/run.sh" >"$work/out" 2>&1 || fail "run.sh ended with $?"
maker=$(grep -oE "http://127\.0\.0\.1:$port/make\b" "$work/out" | head -1)
demo=$(grep -oE "http://127\.0\.0\.1:$port/Test/[a-z0-9]+" "$work/out" | head -1)
[[ -n $maker ]] || fail "run.sh printed no address of the maker"
[[ -n $demo ]] || fail "run.sh printed no address of a demo page"
grep -q "kill [0-9]" "$work/out" || fail "run.sh did not say how to stop the server"
for address in "$maker" "$demo"; do
  status=$(curl -s -o /dev/null -w '%{http_code}' "$address")
  [[ $status == 200 ]] || fail "$address answered $status"
done
echo "both addresses answer: $maker $demo"
