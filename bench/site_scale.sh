#!/usr/bin/env bash
# heartpage-server on a site of many pages, against nginx serving as many
# files, and what growing the site does to stores and publishes.
#
#   bench/site_scale.sh [BUILD_DIR]     (default: build)
#   PAGES=100000 bench/site_scale.sh    (default 20000)
#   PAGE_CACHE=4M bench/site_scale.sh   (the server's --page-cache; default its own)
#   ENGINE=postgresql bench/site_scale.sh
#                                       (two servers on one throwaway PostgreSQL
#                                       database; the reads go to one of them)
#
# Measures publishes (p50, p99) and stores per second on the empty site,
# seeds PAGES pages of 25 KB, measures both again, then runs wrk against
# both servers: pages at random (most of them past the page cache, which
# holds a few thousand) and one page again and again (the cache), each to a
# client that accepts gzip. nginx serves the same bytes from PAGES files
# with the compressed ones beside them (gzip_static). Prints each figure,
# each ratio, the server's resident memory and the database's size against
# the pages' own bytes. Rate limits are off, so that only the work is
# measured. Needs wrk and nginx; installs them when run as root and they are
# missing. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib.sh
source bench/lib.sh
use_build "${1:-build}"
need_commands "wrk nginx-light curl" wrk nginx curl

pages=${PAGES:-20000}
size=${PAGE_SIZE:-25600}
threads=${WRK_THREADS:-2}
connections=${WRK_CONNECTIONS:-16}
duration=${WRK_DURATION:-10s}
server_threads=${SERVER_THREADS:-2}
publishes=${PUBLISHES:-200}
stores=${STORES:-500}
cache_flags=()
[[ -n ${PAGE_CACHE:-} ]] && cache_flags=(--page-cache "$PAGE_CACHE")
engine=${ENGINE:-sqlite}
[[ $engine == sqlite || $engine == postgresql ]] || { echo "ENGINE: sqlite or postgresql" >&2; exit 2; }

work=$(mktemp -d)
chmod 711 "$work"
server_pid='' nginx_pid='' other_pid=''
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | tail -1)
as_postgres=()
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -n $other_pid ]] && kill "$other_pid" 2>/dev/null && wait "$other_pid" 2>/dev/null
  [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  if [[ $engine == postgresql ]]; then
    "${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
store_flags=()
if [[ $engine == postgresql ]]; then
  [[ -n $pg_bin ]] || { echo "needs PostgreSQL's server (scripts/install-deps.sh)" >&2; exit 1; }
  # PostgreSQL refuses to run as root.
  if [[ $(id -u) -eq 0 ]]; then
    as_postgres=(runuser -u nobody --)
    mkdir "$work/pg" && chown nobody "$work/pg"
  else
    mkdir "$work/pg"
  fi
  pg_port=$(free_port)
  "${as_postgres[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U heartpage --auth=trust -E UTF8 \
    --locale=C >/dev/null
  "${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
    -o "-p $pg_port -k $work/pg -c listen_addresses=127.0.0.1" start >/dev/null
  store_flags=(--database "postgresql://heartpage@127.0.0.1:$pg_port/postgres")
fi

port=$(free_port)
# Room for every page, also when the seed's addresses run out and its
# stores come from one.
flags=(--claims-per-minute 0 --stores-per-minute 0 --lookups-per-minute 0
  --reads-per-address 0 --max-storage $((pages * size * 2 + 1024 * 1024 * 1024))
  --pages-per-address $((pages * size * 2)) --pages-per-address-30-days $((pages * size * 2))
  "${cache_flags[@]}")
if [[ $engine == postgresql ]]; then
  # Two servers on the database, as a site behind a balancer runs them: each
  # hears of the other's stores, and keeps pages only while it does.
  "$server" "${store_flags[@]}" --listen "127.0.0.1:$port" --threads "$server_threads" \
    "${flags[@]}" 2>"$work/server.log" &
  server_pid=$!
  wait_for_port "$port"
  other_port=$(free_port)
  "$server" "${store_flags[@]}" --listen "127.0.0.1:$other_port" --threads "$server_threads" \
    "${flags[@]}" 2>"$work/other.log" &
  other_pid=$!
  wait_for_port "$other_port"
else
  start_server "${flags[@]}"
fi
rss_empty=$(rss_kb "$server_pid")

# Publishes one after the other as the program makes them, then stores over
# 4 connections: the figures that must not grow with the site.
figures() {
  read -r p50 p99 < <("$load" publishes "$port" "$publishes" "$size")
  local rate
  rate=$("$load" stores "$port" "$stores" "$size" 4)
  echo "$p50 $p99 $rate"
}
read -r empty_p50 empty_p99 empty_stores < <(figures)

echo "Seeding $pages pages of $size bytes"
seed_start=$(date +%s)
"$load" pages-seed "$port" "$pages" "$size"
echo "  took $(($(date +%s) - seed_start)) s"
read -r full_p50 full_p99 full_stores < <(figures)
rss_full=$(rss_kb "$server_pid")

# nginx with the same bytes in as many files, each with its compressed form
# beside it, as heartpage-server sends them.
nginx_port=$(free_port)
mkdir -p "$work/nginx/Test" "$work/nginx/logs"
curl -fsS "http://127.0.0.1:$port/Test/cycle0" -o "$work/page"
curl -fsS -H 'Accept-Encoding: gzip' "http://127.0.0.1:$port/Test/cycle0" -o "$work/page.gz"
# One process for all the files: a cp for each takes minutes.
python3 - "$work" "$pages" <<'PY'
import shutil, sys
work, pages = sys.argv[1], int(sys.argv[2])
for i in range(pages):
    shutil.copyfile(f"{work}/page", f"{work}/nginx/Test/cycle{i}")
    shutil.copyfile(f"{work}/page.gz", f"{work}/nginx/Test/cycle{i}.gz")
PY
# As many open files as its descriptors allow, beside its connections: each
# worker keeps one descriptor for each file it holds open, and a cache larger
# than the limit leaves no descriptor to accept a connection with.
descriptors=$(ulimit -Hn)
[[ $descriptors == unlimited ]] && descriptors=1048576
ulimit -n "$descriptors"  # nginx inherits it
open_files=$(( descriptors - 1024 < 2 * pages ? descriptors - 1024 : 2 * pages ))
start_nginx "open_file_cache max=$open_files inactive=60s;"
cmp -s <(curl -fsS -H 'Accept-Encoding: gzip' "http://127.0.0.1:$port/Test/cycle$((pages - 1))") \
  <(curl -fsS -H 'Accept-Encoding: gzip' "http://127.0.0.1:$nginx_port/Test/cycle$((pages - 1))") ||
  { echo "the servers send different bytes" >&2; exit 1; }

# Every page once, one after the other, whatever the connection.
cat >"$work/each.lua" <<LUA
local pages, i = $pages, -1
request = function()
  i = i + 1
  return wrk.format("GET", "/Test/cycle" .. math.min(i, pages - 1))
end
LUA
cat >"$work/random.lua" <<LUA
local pages = $pages
math.randomseed(os.time())
request = function()
  return wrk.format("GET", "/Test/cycle" .. math.random(0, pages - 1))
end
LUA
wrk_args=(-t"$threads" -c"$connections" -d"$duration" --latency -H 'Accept-Encoding: gzip')
# A percentile of wrk's latency distribution, in ms.
percentile() {
  awk -v p="$2" '$1 == p {
    v = $2; if (v ~ /us$/) v = v / 1000; else if (v ~ /ms$/) v = v + 0; else if (v ~ /s$/) v = v * 1000
    print v }' "$1"
}
# compare TITLE [WRK ARGS…]: ours, then nginx, on the same paths.
compare() {
  local title=$1 ours theirs
  shift
  local before ours_ticks theirs_ticks
  before=$(cpu_ticks "$server_pid")
  wrk "${wrk_args[@]}" "$@" "http://127.0.0.1:$port/Test/cycle0" >"$work/ours"
  ours_ticks=$(($(cpu_ticks "$server_pid") - before))
  before=$(cpu_ticks "${nginx_workers[@]}")
  wrk "${wrk_args[@]}" "$@" "http://127.0.0.1:$nginx_port/Test/cycle0" >"$work/theirs"
  theirs_ticks=$(($(cpu_ticks "${nginx_workers[@]}") - before))
  ours=$(requests_per_second "$work/ours")
  theirs=$(requests_per_second "$work/theirs")
  echo "$title"
  printf '  heartpage-server  %10.0f requests/s, p50 %s ms, p99 %s ms\n' "$ours" \
    "$(percentile "$work/ours" 50%)" "$(percentile "$work/ours" 99%)"
  printf '  nginx             %10.0f requests/s, p50 %s ms, p99 %s ms\n' "$theirs" \
    "$(percentile "$work/theirs" 50%)" "$(percentile "$work/theirs" 99%)"
  awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "  ratio             %10.2f\n", a / b }'
  # The machine may be busy with other work: the CPU each spent on a request
  # says more than the rate.
  awk -v ot="$ours_ticks" -v on="$(requests "$work/ours")" -v tt="$theirs_ticks" \
    -v tn="$(requests "$work/theirs")" -v hz="$(getconf CLK_TCK)" 'BEGIN {
    o = ot / hz / on * 1e6; t = tt / hz / tn * 1e6
    printf "  CPU per request   %10.1f us ours, %.1f us nginx: nginx/ours %.2f\n", o, t, t / o }'
}
mapfile -t nginx_workers < <(pgrep -P "$nginx_pid")
requests() { awk '/requests in/ {print $1}' "$1"; }
cpu_ticks() { local t=0 p; for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat"))); done; echo "$t"; }
echo "wrk ${wrk_args[*]}, $server_threads server threads / nginx workers, $pages pages," \
  "page cache ${PAGE_CACHE:-64M}, $engine, nginx's open file cache $open_files"
# Every page read once first, so that each knows its compressed form, as
# pages on a site that has run a while do: its first reader compresses it.
wrk -t1 -c16 -d"$((pages / 500 + 5))s" -H 'Accept-Encoding: gzip' -s "$work/each.lua" \
  "http://127.0.0.1:$port/" >/dev/null
# The files just written go to the disk before anything is timed, not
# during it.
sync
compare "pages at random, gzip" -s "$work/random.lua"
compare "one page again and again, gzip"
rss_load=$(rss_kb "$server_pid")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "Publishes (p50 / p99 ms) and stores/s, empty site -> $pages pages"
printf '  publish p50       %8s -> %8s  ratio %s\n' "$empty_p50" "$full_p50" "$(ratio "$full_p50" "$empty_p50")"
printf '  publish p99       %8s -> %8s  ratio %s\n' "$empty_p99" "$full_p99" "$(ratio "$full_p99" "$empty_p99")"
printf '  stores/s          %8s -> %8s  ratio %s\n' "$empty_stores" "$full_stores" \
  "$(ratio "$full_stores" "$empty_stores")"
echo "heartpage-server resident memory (KB)"
printf '  empty site %d, after the seed %d, after the reads %d\n' "$rss_empty" "$rss_full" "$rss_load"
if [[ $engine == postgresql ]]; then
  database=$("$pg_bin/psql" -h 127.0.0.1 -p "$pg_port" -U heartpage -d postgres -Atc \
    "SELECT pg_database_size('postgres') / 1024")
else
  database=$(du -sk "$work/data" | awk '{print $1}')
fi
own=$(( (pages * ($(wc -c <"$work/page") + $(wc -c <"$work/page.gz"))) / 1024 ))
printf '  database %d KB for %d KB of pages (both forms): ratio %s\n' "$database" "$own" \
  "$(ratio "$database" "$own")"
