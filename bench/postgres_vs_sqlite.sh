#!/usr/bin/env bash
# heartpage-server on PostgreSQL against SQLite, and two processes behind
# nginx against one.
#
#   bench/postgres_vs_sqlite.sh [BUILD_DIR]     (default: build)
#
# Starts a PostgreSQL cluster of its own (fsync on, as deployed) and, in one
# run: publishes (name lookup, claim, store of 25 KB) one after another, p50
# and p99; stores per second over 8 connections; GETs per second of a cached
# 25 KB page from each engine directly, then through nginx in front of one
# process and in front of two (nginx-balanced.conf). Needs wrk; installs it
# when run as root and it is missing. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib.sh
source bench/lib.sh
use_build "${1:-build}"
need_commands "wrk nginx-light" wrk nginx
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | tail -1)

publishes=${PUBLISHES:-300}
stores=${STORES:-2000}
wrk_args=(-t"${WRK_THREADS:-2}" -c"${WRK_CONNECTIONS:-50}" -d"${WRK_DURATION:-5s}")

work=$(mktemp -d)
chmod 755 "$work"
pids=()
as_postgres=()
if [[ $(id -u) -eq 0 ]]; then
  as_postgres=(runuser -u nobody --)
  mkdir "$work/pg" && chown nobody "$work/pg"
else
  mkdir "$work/pg"
fi
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  "${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

pg_port=$(free_port)
"${as_postgres[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U heartpage --auth=trust -E UTF8 \
  --locale=C >/dev/null
"${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
  -o "-p $pg_port -k $work/pg -c listen_addresses=127.0.0.1" start >/dev/null
database=postgresql://heartpage@127.0.0.1:$pg_port/postgres

# start_server PORT OPTIONS…: in the background, its log in $work.
start_server() {
  local port=$1
  shift
  "$server" --listen "127.0.0.1:$port" --claims-per-minute 0 --stores-per-minute 0 "$@" \
    2>"$work/server-$port.log" &
  pids+=($!)
  wait_for_port "$port"
}
gets() { wrk "${wrk_args[@]}" "http://127.0.0.1:$1/Test/bench" >"$work/wrk"; requests_per_second "$work/wrk"; }

sqlite_port=$(free_port)
start_server "$sqlite_port" --data "$work/sqlite"
pg_port_a=$(free_port)
start_server "$pg_port_a" --database "$database"
pg_port_b=$(free_port)
start_server "$pg_port_b" --database "$database"

echo "engine    publish p50 ms  p99 ms  stores/s  cached GET/s"
for engine in sqlite postgresql; do
  port=$sqlite_port
  [[ $engine == postgresql ]] && port=$pg_port_a
  read -r p50 p99 < <("$load" publishes "$port" "$publishes" 25600)
  per_second=$("$load" stores "$port" "$stores" 25600 8)
  "$load" seed "$port" bench 25600 "$work/page-$engine.html"
  get=$(gets "$port")
  printf '%-10s%14s%8s%10s%14s\n' "$engine" "$p50" "$p99" "$per_second" "$get"
done

# nginx in front of one process, then of both.
nginx_conf() {
  local upstreams=$1 port=$2
  mkdir -p "$work/nginx-$port/logs"
  sed -e "s|@LISTEN@|127.0.0.1:$port|" -e "s|@UPSTREAM_SERVERS@|$upstreams|" \
    server/deploy/nginx-balanced.conf >"$work/site-$port.conf"
  cat >"$work/nginx-$port.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx-$port/nginx.pid;
error_log $work/nginx-$port/logs/error.log;
events { worker_connections 1024; }
http { access_log off; keepalive_requests 1000000; include $work/site-$port.conf; }
CONF
  nginx -p "$work/nginx-$port" -c "$work/nginx-$port.conf" &
  pids+=($!)
  wait_for_port "$port"
}
one=$(free_port)
nginx_conf "server 127.0.0.1:$pg_port_a;" "$one"
two=$(free_port)
nginx_conf "server 127.0.0.1:$pg_port_a; server 127.0.0.1:$pg_port_b;" "$two"
gets "$pg_port_b" >/dev/null  # the second process caches the page too
through_one=$(gets "$one")
through_two=$(gets "$two")
echo "cached GET/s through nginx: one process $through_one, two processes $through_two" \
  "(ratio $(awk -v a="$through_two" -v b="$through_one" 'BEGIN {printf "%.2f", a / b}'))"
