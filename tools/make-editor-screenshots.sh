#!/usr/bin/env bash
# Needs: xvfb, xdotool and imagemagick (Debian packages; not needed by the
# build or CI).
# Screenshots of two style editors, style 2's calendar picker and the upload
# dialog for the user's guide: starts heartpage-server and the program on a virtual
# display, opens styles 2 and 5 from the gallery, types a title, opens the
# calendar, publishes under a name and copies the address, as a person would.
# Style 2 comes back from a draft that holds the page back until next year's
# 14 February at 20:00 and behind a code, read in China's zone.
# Usage: tools/make-editor-screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
if [[ -z ${HEARTPAGE_SHOTS_ON_DISPLAY:-} ]]; then
  exec env HEARTPAGE_SHOTS_ON_DISPLAY=1 TZ=CST-8 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build"
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
# The editors' drafts go with the rest.
export XDG_DATA_HOME=$work/data-home
mkdir -p "$XDG_DATA_HOME/heartpage/drafts"
printf '{"format":1,"style":2,"fields":{"Opens":"%s-02-14 20:00","Code":"上海","Hint":"我们第一次见面的城市？"},"check":false}' \
  "$(($(date +%Y) + 1))" >"$XDG_DATA_HOME/heartpage/drafts/style2.json"

"$build/server/heartpage-server" --data "$work/data" --listen 127.0.0.1:0 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do grep -q "listening on http://" "$work/server.log" && break; sleep 0.1; done
export HEARTPAGE_HOST=$(grep -o "listening on http://[^/]*" "$work/server.log" | sed 's|.*http://||')
"$build/app/heartpage" >"$work/app.log" 2>&1 &
app_pid=$!

# shellcheck source=tools/x11-windows.sh
source "$root/tools/x11-windows.sh"

main=$(window '^HeartPage$')
# Thumbnails of the gallery, inside the main window: style 2, then style 5.
click "$main" 270 208
fg2=$(window '^心形\+文字\+图片漂浮$')
xdotool mousemove --window "$fg2" 208 33 click --repeat 3 1
xdotool type --delay 20 "给思雨的信"
sleep 0.3
import -window "$fg2" "$out/editor-style2.png"
# The calendar beside the date boxes is a popup, a window of its own: take
# the screen where the editor is, then close it.
click "$fg2" 678 257
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$fg2")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/editor-pickers.png"
xdotool key Escape
sleep 0.3

click "$main" 97 353
fg5=$(window '^打字特效\+文字漂浮\+MV$')
import -window "$fg5" "$out/editor-style5.png"

# Upload from style 2: name, confirm, copy.
click "$fg2" 516 556
go_on
dialog=$(window '^网页上传$')
click "$dialog" 276 73
xdotool type --delay 20 "siyu520"
click "$dialog" 424 72
click "$dialog" 412 264
import -window "$dialog" "$out/upload-dialog.png"
ls "$out"/editor-style2.png "$out"/editor-pickers.png "$out"/editor-style5.png "$out"/upload-dialog.png
