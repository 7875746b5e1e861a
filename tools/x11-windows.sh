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
