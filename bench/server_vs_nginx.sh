#!/usr/bin/env bash
# heartpage-server against nginx on loopback, plus store rate and memory.
#
#   bench/server_vs_nginx.sh [BUILD_DIR]     (default: build)
#
# Serves the same 25 KB page from both servers (ours from its database under
# /Test/, nginx from a file) and runs wrk with the same threads, connections
# and duration against each: the page as it is, the page to a client that
# accepts gzip, and an 89 KB script (jQuery) as it is and to a client that
# accepts gzip. nginx sends the very bytes ours compressed, from .gz files
# beside the originals (gzip_static; gzip on for anything else). Prints
# requests per second and the ratio of each. Then measures stores per second and heartpage-server's
# resident memory at rest and under load. Needs wrk and nginx (nginx-light
# is enough); installs them when run as root and they are missing. Not part
# of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib.sh
source bench/lib.sh
use_build "${1:-build}"
need_commands "wrk nginx-light curl" wrk nginx curl

threads=${WRK_THREADS:-2}
connections=${WRK_CONNECTIONS:-50}
duration=${WRK_DURATION:-5s}
rounds=${ROUNDS:-3}
server_threads=${SERVER_THREADS:-2}

work=$(mktemp -d)
# Started by root, nginx's workers run as nobody: they must reach the files,
# or every answer they give is a short 403.
chmod 711 "$work"
server_pid='' nginx_pid='' sampler_pid=''
cleanup() {
  [[ -n $sampler_pid ]] && kill "$sampler_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

requests() { awk '/requests in/ {print $1}' "$1"; }
# CPU time (clock ticks) used so far by the given processes.
cpu_ticks() { local t=0 p; for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat"))); done; echo "$t"; }

# heartpage-server, one request log line per request into a file as deployed;
# without the per-client rates, which would cap the store rate measured below.
port=$(free_port)
start_server --claims-per-minute 0 --stores-per-minute 0 --lookups-per-minute 0
"$load" seed "$port" bench 25600 "$work/page.html"
rss_rest=$(rss_kb "$server_pid")

# nginx serving the same bytes from files, as many workers as we have threads;
# the compressed ones are what heartpage-server sends.
script=biaobai/fg2/js/jquery.js
nginx_port=$(free_port)
mkdir -p "$work/nginx/Test" "$work/nginx/logs" "$work/nginx/$(dirname "$script")"
cp "$work/page.html" "$work/nginx/Test/bench"
curl -fsS "http://127.0.0.1:$port/$script" -o "$work/nginx/$script"
for file in Test/bench "$script"; do
  curl -fsS -H 'Accept-Encoding: gzip' "http://127.0.0.1:$port/$file" -o "$work/nginx/$file.gz"
done
start_nginx "types { text/javascript js; }" "gzip on;" "gzip_comp_level 6;" "gzip_min_length 1024;" \
  "gzip_types text/css text/javascript application/json image/svg+xml text/plain;"

# Both must send the same bytes, each way, for the comparison to mean anything.
for file in Test/bench "$script"; do
  for accept in '' 'Accept-Encoding: gzip'; do
    cmp -s <(curl -fsS -H "$accept" "http://127.0.0.1:$port/$file") \
      <(curl -fsS -H "$accept" "http://127.0.0.1:$nginx_port/$file") ||
      { echo "the servers send different bytes for $file ($accept)" >&2; exit 1; }
  done
done
gzip_size() { curl -fsS -H 'Accept-Encoding: gzip' "http://127.0.0.1:$port/$1" | wc -c; }
wrk_args=(-t"$threads" -c"$connections" -d"$duration")
echo "wrk ${wrk_args[*]}, $rounds rounds each, $server_threads server threads / nginx workers"

# Peak memory of heartpage-server while wrk runs against it.
( peak=0
  while kill -0 "$server_pid" 2>/dev/null; do
    now=$(rss_kb "$server_pid"); ((now > peak)) && peak=$now && echo "$peak" >"$work/peak"
    sleep 0.2
  done ) &
sampler_pid=$!
mapfile -t nginx_workers < <(pgrep -P "$nginx_pid")
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
hz=$(getconf CLK_TCK)

# compare TITLE PATH HEADER TARGET: rounds alternate between the servers, so
# that whatever else the machine does falls on both. Besides requests per
# second, which depend on what else runs, the CPU time each server spends per
# request. TARGET: the least ratio expected, if any.
compare() {
  local title=$1 path=$2 header=$3 target=$4 extra=()
  [[ -n $header ]] && extra=(-H "$header")
  local ours_all=() theirs_all=() ours_ticks=0 theirs_ticks=0 ours_requests=0 theirs_requests=0
  local before ours theirs
  for _ in $(seq "$rounds"); do
    before=$(cpu_ticks "$server_pid")
    wrk "${wrk_args[@]}" "${extra[@]}" "http://127.0.0.1:$port/$path" >"$work/wrk"
    ours_ticks=$((ours_ticks + $(cpu_ticks "$server_pid") - before))
    ours_requests=$((ours_requests + $(requests "$work/wrk")))
    ours_all+=("$(requests_per_second "$work/wrk")")
    before=$(cpu_ticks "${nginx_workers[@]}")
    wrk "${wrk_args[@]}" "${extra[@]}" "http://127.0.0.1:$nginx_port/$path" >"$work/wrk"
    theirs_ticks=$((theirs_ticks + $(cpu_ticks "${nginx_workers[@]}") - before))
    theirs_requests=$((theirs_requests + $(requests "$work/wrk")))
    theirs_all+=("$(requests_per_second "$work/wrk")")
  done
  ours=$(median "${ours_all[@]}")
  theirs=$(median "${theirs_all[@]}")
  echo "GET of $title"
  echo "  rounds: heartpage-server ${ours_all[*]}; nginx ${theirs_all[*]}"
  printf '  heartpage-server  %10.0f requests/s (median)\n' "$ours"
  printf '  nginx             %10.0f requests/s (median)\n' "$theirs"
  awk -v a="$ours" -v b="$theirs" -v t="$target" 'BEGIN {
    printf "  ratio             %10.2f%s\n", a / b, t == "" ? "" : " (target >= " t ")" }'
  awk -v ot="$ours_ticks" -v on="$ours_requests" -v tt="$theirs_ticks" -v tn="$theirs_requests" -v hz="$hz" 'BEGIN {
    o = ot / hz / on * 1e6; t = tt / hz / tn * 1e6
    printf "  CPU per request   %10.1f us ours, %.1f us nginx: nginx/ours %.2f\n", o, t, t / o }'
}

# Pages are the site's busiest answers, and every page asks for its scripts.
compare "a 25 KB page, as it is" Test/bench '' 0.94
compare "the same page, gzip ($(gzip_size Test/bench) bytes)" Test/bench 'Accept-Encoding: gzip' 0.94
compare "an 89 KB script, as it is" "$script" '' 0.94
compare "the same script, gzip ($(gzip_size "$script") bytes)" "$script" 'Accept-Encoding: gzip' 0.94

kill "$sampler_pid" 2>/dev/null; wait "$sampler_pid" 2>/dev/null || true; sampler_pid=''
rss_load=$(cat "$work/peak")

stores=${STORES:-500}
echo "Stores of a 25 KB page (WAL, synchronous=FULL), $stores in all"
for c in 1 4; do
  printf '  %d connection(s)   %10s stores/s\n' "$c" "$("$load" stores "$port" "$stores" 25600 "$c")"
done

echo "heartpage-server resident memory"
printf '  at rest           %10d KB\n' "$rss_rest"
printf '  under GET load    %10d KB (peak)\n' "$rss_load"
printf '  after the stores  %10d KB\n' "$(rss_kb "$server_pid")"
