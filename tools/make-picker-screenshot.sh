#!/usr/bin/env bash
# Needs: xvfb, xdotool and imagemagick (Debian packages; not needed by the
# build or CI).
# The screenshot of an editor with its pickers for the README: starts
# heartpage-server and the program on a virtual display, opens style 2 from
# the gallery and its calendar, and takes the editor with the calendar open.
# Usage: tools/make-picker-screenshot.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
if [[ -z ${HEARTPAGE_SHOTS_ON_DISPLAY:-} ]]; then
  exec env HEARTPAGE_SHOTS_ON_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build"
fi

out="$root/docs/screenshots"
work=$(mktemp -d)
server_pid=""
app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/server/heartpage-server" --data "$work/data" --listen 127.0.0.1:0 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do grep -q "listening on http://" "$work/server.log" && break; sleep 0.1; done
export HEARTPAGE_HOST=$(grep -o "listening on http://[^/]*" "$work/server.log" | sed 's|.*http://||')
"$build/app/heartpage" >"$work/app.log" 2>&1 &
app_pid=$!

# shellcheck source=tools/x11-windows.sh
source "$root/tools/x11-windows.sh"

main=$(window '^HeartPage$')
click "$main" 270 208
fg2=$(window '^心形\+文字\+图片漂浮$')
# The calendar button beside the date boxes (its centre, in the window).
click "$fg2" 678 257
sleep 0.5
# The popup is a window of its own: take the screen where the editor is.
eval "$(xdotool getwindowgeometry --shell "$fg2")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/editor-pickers.png"
ls "$out"/editor-pickers.png
