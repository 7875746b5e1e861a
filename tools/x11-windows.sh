# Shared by the screenshot scripts that drive the program's windows under
# Xvfb with xdotool. Sourced, not run.

# Waits for a visible window whose name matches, and prints its id.
window() {
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [[ -n $id ]] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "no window named $1" >&2
  exit 1
}

# Clicks inside a window: click WINDOW X Y [BUTTON]
click() {
  xdotool windowraise "$1"
  sleep 0.2
  xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"
  sleep 0.5
}

# Answers the editors' box of findings before a preview or an upload (sample
# text left in, an address that does not answer) with "仍然继续" when one
# shows: SCREENSHOT, if given, is taken of the box first.
go_on() {
  local id=""
  for _ in $(seq 25); do
    id=$(xdotool search --onlyvisible --name '^提示$' 2>/dev/null | head -1 || true)
    [[ -n $id ]] && break
    sleep 0.2
  done
  [[ -z $id ]] && return 0
  sleep 0.3
  [[ -n ${1:-} ]] && import -window "$id" "$1"
  xdotool windowfocus --sync "$id"
  # The default is "返回修改"; "仍然继续" stands before it.
  xdotool key shift+Tab space
  sleep 0.5
}
