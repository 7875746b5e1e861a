#!/usr/bin/env bash
# Upload throughput of a 50 MB video over loopback, and heartpage-server's
# memory meanwhile.
#
#   bench/media_upload.sh [BUILD_DIR]     (default: build)
#
# Starts the server on SQLite in a scratch folder (its spool in that folder,
# on disk), sends the same-sized MP4 file ROUNDS times with curl (different
# bytes each time, so each is stored anew), then reads it back whole. Prints
# MB/s for each, the resident memory at rest, and the peak (VmHWM) after the
# uploads. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib.sh
source bench/lib.sh
build=${1:-build}
server=$build/server/heartpage-server
[[ -x $server ]] || { echo "build first: cmake --build $build" >&2; exit 1; }
need_commands curl curl

megabytes=${MEGABYTES:-50}
rounds=${ROUNDS:-3}
work=$(mktemp -d)
server_pid=''
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

port=$(free_port)
mkdir -p "$work/spool"
"$server" --data "$work/data" --listen "127.0.0.1:$port" --media-spool "$work/spool" \
  --max-storage 2G --media-per-machine 1G --stores-per-minute 0 2>"$work/log" &
server_pid=$!
wait_for_port "$port"

kib() { awk -v f="$1" '$1 == f":" {print $2}' "/proc/$server_pid/status"; }
rest=$(kib VmRSS)
echo "resident at rest: $((rest / 1024)) MB"

# An MP4 header, then random bytes up to the size.
make_file() {
  { printf '\0\0\0\x20ftypisom\0\0\x02\0isomiso2avc1mp41'
    head -c $((megabytes * 1024 * 1024 - 32)) /dev/urandom; } >"$1"
}
for round in $(seq "$rounds"); do
  make_file "$work/video.mp4"
  line=$(curl -sS -o "$work/address" -w '%{http_code} %{time_total} %{size_upload}' \
    -H "X-Machine-Id: 98A101A110A99A104" -H 'Expect:' \
    --data-binary @"$work/video.mp4" "http://127.0.0.1:$port/api/media")
  read -r status seconds bytes <<<"$line"
  [[ $status == 200 ]] || { echo "upload answered $status: $(cat "$work/address")" >&2; exit 1; }
  awk -v b="$bytes" -v s="$seconds" -v r="$round" \
    'BEGIN {printf "upload %d: %.0f MB in %.2f s, %.1f MB/s\n", r, b / 1048576, s, b / 1048576 / s}'
done
echo "peak resident during the uploads (VmHWM): $(($(kib VmHWM) / 1024)) MB" \
  "($(( ($(kib VmHWM) - rest) / 1024 )) MB over rest)"

line=$(curl -sS -o "$work/back.mp4" -w '%{http_code} %{time_total} %{size_download}' \
  "$(cat "$work/address")")
read -r status seconds bytes <<<"$line"
cmp -s "$work/back.mp4" "$work/video.mp4" || { echo "the file read back differs" >&2; exit 1; }
awk -v b="$bytes" -v s="$seconds" \
  'BEGIN {printf "download: %.0f MB in %.2f s, %.1f MB/s\n", b / 1048576, s, b / 1048576 / s}'
echo "peak resident after the download (VmHWM): $(($(kib VmHWM) / 1024)) MB"
