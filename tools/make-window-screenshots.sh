#!/usr/bin/env bash
# Needs: xvfb, xdotool and imagemagick (Debian packages; not needed by the
# build or CI).
# Screenshots of the windows as a person meets them: the splash while the
# server keeps start-up waiting, the notice when it never answers with its
# choice of 离线编辑 and the main window that choice opens, the upload dialog with a 30-letter name (sent
# with Enter) and its QR code, the check's list of sample text left in, the
# window of 扫码预览 with its code and with a failure, the Chinese menu of a
# field, and, on a 1600 x 1200 screen at twice the scale, the main window,
# style 7's editor placed within it and the upload dialog with its QR code.
# Usage: tools/make-window-screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$root/docs/screenshots"
if [[ -z ${HEARTPAGE_SHOTS_ON_DISPLAY:-} ]]; then
  env HEARTPAGE_SHOTS_ON_DISPLAY=normal TZ=CST-8 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build"
  exec env HEARTPAGE_SHOTS_ON_DISPLAY=small QT_SCALE_FACTOR=2 \
    xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$build"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work
# The editors' drafts go with the rest.
export XDG_DATA_HOME=$work/data-home
# Style 2's holds its page back until next year's 14 February at 20:00 and
# behind a code, which the upload dialog tells of once it is published.
mkdir -p "$XDG_DATA_HOME/heartpage/drafts"
printf '{"format":1,"style":2,"fields":{"Opens":"%s-02-14 20:00","Code":"上海","Hint":"我们第一次见面的城市？"},"check":false}' \
  "$(($(date +%Y) + 1))" >"$XDG_DATA_HOME/heartpage/drafts/style2.json"

# shellcheck source=tools/x11-windows.sh
source "$root/tools/x11-windows.sh"

# Types a new name into the upload dialog's name box at X Y, sends it with
# Enter and says yes to its whole address.
publish_as() {
  click "$1" "$2" "$3"
  xdotool type --delay 10 "$4"
  xdotool key Return
  sleep 0.5
  xdotool key Return
  sleep 1.5
}

if [[ $HEARTPAGE_SHOTS_ON_DISPLAY == normal ]]; then
  # A server that takes the connection and never answers.
  python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True); time.sleep(30)' >"$work/silent.port" &
  pids+=($!)
  for _ in $(seq 50); do [[ -s $work/silent.port ]] && break; sleep 0.1; done
  HEARTPAGE_HOST=127.0.0.1:$(cat "$work/silent.port") "$build/app/heartpage" >/dev/null 2>&1 &
  pids+=($!)
  sleep 1.5
  import -window root -crop 460x420+410+190 "$out/splash.png"
  sleep 5
  # The notice, with its second choice, which Return takes: the main window
  # without its server.
  import -window "$(window '^提示$')" "$out/offline-choice.png"
  xdotool key Return
  offline=$(window '^HeartPage$')
  sleep 1
  import -window "$offline" "$out/main-window-offline.png"
  click "$offline" 688 24  # the close button
  sleep 0.5
fi

"$build/server/heartpage-server" --data "$work/data" --listen 127.0.0.1:0 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on http://" "$work/server.log" && break; sleep 0.1; done
export HEARTPAGE_HOST=$(grep -o "listening on http://[^/]*" "$work/server.log" | sed 's|.*http://||')
"$build/app/heartpage" >"$work/app.log" 2>&1 &
pids+=($!)
main=$(window '^HeartPage$')

if [[ $HEARTPAGE_SHOTS_ON_DISPLAY == normal ]]; then
  sleep 0.5
  import -window "$main" "$out/main-window.png"
  click "$main" 270 208
  fg2=$(window '^心形\+文字\+图片漂浮$')
  click "$fg2" 208 33 3
  import -window root "$work/menu.png"
  xdotool key Escape
  geometry=$(xdotool getwindowgeometry --shell "$fg2")
  eval "$geometry"
  convert "$work/menu.png" -crop "520x300+$((X + 120))+$((Y))" "$out/field-menu.png"
  click "$fg2" 516 556
  go_on "$out/check-sample-text.png"
  dialog=$(window '^网页上传$')
  publish_as "$dialog" 276 73 woaini1314xiaohong520forever99
  click "$dialog" 412 264
  import -window "$dialog" "$out/upload-dialog.png"
  click "$fg2" 394 556  # 扫码预览
  go_on
  scan=$(window '^扫码预览$')
  sleep 0.5
  import -window "$scan" "$out/scan-preview.png"
  kill "${pids[-2]}"  # the server
  click "$fg2" 394 556
  go_on
  sleep 1
  import -window "$scan" "$out/scan-preview-failed.png"
else
  import -window root "$out/small-screen-main.png"
  click "$main" 886 690  # style 7's thumbnail, in pixels at twice the scale
  fg7=$(window '^阿狸心形表白$')
  sleep 0.5
  import -window root "$out/small-screen-style7.png"
  click "$fg7" 1092 1036  # 上传网页
  go_on
  dialog=$(window '^网页上传$')
  publish_as "$dialog" 500 140 scaletwo1
  import -window root "$out/small-screen-upload-dialog.png"
fi
ls -l "$out"
