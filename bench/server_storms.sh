#!/usr/bin/env bash
# heartpage-server beside hostile crowds on loopback: wrk on a published 25 KB
# page alone, beside 1,000 idle connections, beside 40 slow uploads of 8 MB
# that never finish, and beside both. Prints requests per second, p99 latency
# and the server's resident memory in each case.
#
# Then two crowds larger than --max-connections (CAP, 256), each from more
# addresses than their shares fill: clients that never begin their TLS
# handshakes (HANDSHAKERS, 2,000 from 50 addresses, each reopened a second
# after the server closes it), and bodies sent at 2.5 KB a second (TRICKLES,
# 320, one address each). Beside each, a fresh client (curl, a new
# connection each time, PROBES times) asks for the home page; prints how many
# were served and their p99.
#
# Last, three crowds that would hold what every client needs: bodies that
# declare 8 MB and send 1.1 KB a second (7 from one address, and 64 from 16),
# beside which a fresh client publishes a 20 KB page (claim and store); 64
# GETs reading a byte every 5 s of 12 files of 50 MB sent from 4 addresses,
# beside which a fresh client fetches a small file, and readers taking 1.5 KB
# a second of 4 of those files (4 from one address, 64 from 16), beside which
# it fetches a 3 MB photo, with the most disk (open or listed) and memory the
# server took for them; and 8 files trickling in at 16 KB a second
# from 4 addresses, beside which a fresh client sends a file. Each fresh
# client comes from an address of its own (FRESH times). Then 4 readers of
# uncached pages beside a fresh lookup, and 16 addresses trying codes beside
# a fresh publish (GUESSERS).
#
#   bench/server_storms.sh [BUILD_DIR]     (default: build)
#
# The server runs with its defaults (--max-body-memory 64M among them). Needs
# wrk, curl and openssl; installs them when run as root and they are missing.
# Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib.sh
source bench/lib.sh
use_build "${1:-build}"
need_commands wrk wrk
need_commands "curl openssl" curl openssl

threads=${WRK_THREADS:-2}
connections=${WRK_CONNECTIONS:-50}
duration=${WRK_DURATION:-5s}
rounds=${ROUNDS:-3}
server_threads=${SERVER_THREADS:-2}
idle=${IDLE:-1000}
uploads=${UPLOADS:-40}

work=$(mktemp -d)
server_pid='' sampler_pid='' storm_pids=()
stop_storms() {
  local pid
  for pid in "${storm_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
  storm_pids=()
}
cleanup() {
  stop_storms
  [[ -n $sampler_pid ]] && kill "$sampler_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

descriptors() { ls "/proc/$1/fd" | wc -l; }
# p99 from wrk --latency, in milliseconds.
p99_ms() {
  awk '$1 == "99%" { v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[a-z]+$/, "", v)
    print (u == "us" ? v / 1000 : u == "s" ? v * 1000 : v) }' "$1"
}

port=$(free_port)
start_server
"$load" seed "$port" bench 25600 "$work/page.html"
rss_rest=$(rss_kb "$server_pid")

start_storm() {
  case $1 in
    idle) "$load" idle "$port" "$idle" & storm_pids+=($!) ;;
    slow) "$load" slow-bodies "$port" "$uploads" $((8 * 1024 * 1024)) & storm_pids+=($!) ;;
  esac
}
# Until the crowd is there: the idle connections open, the uploads' first
# halves sent.
settle() {
  case $1 in
    *idle*) for _ in $(seq 200); do (($(descriptors "$server_pid") >= idle)) && break; sleep 0.05; done ;;
  esac
  case $1 in *slow*) sleep 3 ;; esac
}

declare -A rps p99 peak
phases=(alone idle slow "idle+slow")
echo "GET of a 25 KB page, wrk -t$threads -c$connections -d$duration --latency, $rounds rounds," \
  "$server_threads server threads; beside it $idle idle connections, $uploads slow uploads of 8 MB"
for round in $(seq "$rounds"); do
  for phase in "${phases[@]}"; do
    [[ $phase == *idle* ]] && start_storm idle
    [[ $phase == *slow* ]] && start_storm slow
    settle "$phase"
    ( top=0
      while kill -0 "$server_pid" 2>/dev/null; do
        now=$(rss_kb "$server_pid"); ((now > top)) && top=$now && echo "$top" >"$work/peak"
        sleep 0.1
      done ) &
    sampler_pid=$!
    wrk -t"$threads" -c"$connections" -d"$duration" --latency \
      "http://127.0.0.1:$port/Test/bench" >"$work/wrk"
    kill "$sampler_pid" 2>/dev/null; wait "$sampler_pid" 2>/dev/null || true; sampler_pid=''
    rps[$phase]+="$(requests_per_second "$work/wrk") "
    p99[$phase]+="$(p99_ms "$work/wrk") "
    # Memory freed is kept by the allocator for reuse: the first round
    # tells what each crowd takes.
    [[ $round == 1 ]] && peak[$phase]=$(cat "$work/peak")
    stop_storms
  done
done

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
alone=$(median "${rps[alone]}")
printf '  %-10s %12s %12s %12s %16s\n' "beside" "requests/s" "of alone" "p99 ms" "peak RSS KB"
for phase in "${phases[@]}"; do
  r=$(median "${rps[$phase]}")
  printf '  %-10s %12.0f %11.0f%% %12.2f %16d\n' "$phase" "$r" \
    "$(awk -v a="$r" -v b="$alone" 'BEGIN { print 100 * a / b }')" \
    "$(median "${p99[$phase]}")" "${peak[$phase]}"
done
echo "  (medians of $rounds rounds; peak RSS in the first round; at rest $rss_rest KB," \
  "body budget 65536 KB; goal: over half of alone, p99 under 100 ms)"
grep -c ' 503 ' "$work/server.log" | xargs printf '  uploads refused with 503: %s\n'

cap=${CAP:-256}
probes=${PROBES:-200}
handshakers=${HANDSHAKERS:-2000}
trickles=${TRICKLES:-320}

stop_server() { kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=''; }
# Until the server holds as many connections as it may (or 10 s have gone).
fill() {
  for _ in $(seq 200); do (($(descriptors "$server_pid") >= cap)) && break; sleep 0.05; done
}
# $probes GETs of URL, each on a new connection: the share answered 200 (%)
# and the p99 of the time each took (ms), a failure counting as 2 s.
probe() {
  local i
  for i in $(seq "$probes"); do
    curl -sk -o /dev/null --max-time 2 -w '%{http_code} %{time_total}\n' "$1" || true
  done >"$work/probe"
  awk '$1 == 200 { n++ } END { printf "%.1f ", 100 * n / NR }' "$work/probe"
  awk '{ print ($1 == 200 ? $2 * 1000 : 2000) }' "$work/probe" | sort -g |
    awk '{ v[NR] = $1 } END { i = int(NR * 0.99); if (i < NR * 0.99) i++; printf "%.1f\n", v[i] }'
}

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -subj /CN=127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo "At --max-connections $cap, a fresh client beside each crowd ($probes GETs, a new connection each)"
printf '  %-40s %10s %12s\n' "beside" "served" "p99 ms"

stop_server
start_server --max-connections "$cap" --tls-cert "$work/cert.pem" --tls-key "$work/key.pem"
"$load" idle "$port" "$handshakers" 1 &
storm_pids+=($!)
fill
read -r served p99 _ < <(probe "https://127.0.0.1:$port/")
printf '  %-40s %9s%% %12s\n' "$handshakers unstarted TLS handshakes" "$served" "$p99"
stop_storms

stop_server
start_server --max-connections "$cap"
"$load" slow-bodies "$port" "$trickles" $((128 * 1024)) &
storm_pids+=($!)
fill
sleep 1 # every body under way long enough for its pace to tell
read -r served p99 _ < <(probe "http://127.0.0.1:$port/")
printf '  %-40s %9s%% %12s\n' "$trickles bodies at 2.5 KB/s" "$served" "$p99"
stop_storms
echo "  (goal: at least 99% served, p99 under 100 ms)"

fresh=${FRESH:-100}
echo "Beside crowds holding bodies, files being sent and upload slots, a fresh client ($fresh, a new" \
  "connection and address each)"
printf '  %-52s %10s %12s\n' "beside" "served" "p99 ms"
crowd() { printf '  %-52s %9s%% %12s\n' "$1" "$2" "$3"; }

stop_server
start_server
for crowd_size in "7 1" "64 16"; do
  read -r bodies addresses <<<"$crowd_size"
  "$load" trickles "$port" "$bodies" $((8 * 1024 * 1024)) 1126 "$addresses" &
  storm_pids+=($!)
  sleep 3
  read -r served p99 _ < <("$load" probe "$port" store "$fresh")
  crowd "$bodies bodies of 8 MB at 1.1 KB/s from $addresses address(es)" "$served" "$p99"
  stop_storms
done

# Real disk use of the spool: files listed in it and files the
# server holds open there (deleted or not), each once, in KB.
spool_kb() {
  { find "$work/spool" -type f -print0 | xargs -0r stat -c '%d:%i %b'
    for fd in /proc/"$server_pid"/fd/*; do
      # An if, not &&: a last descriptor outside the spool must not fail
      # the pipeline and with it the whole script.
      if [[ $(readlink "$fd") == "$work/spool"* ]]; then stat -L -c '%d:%i %b' "$fd"; fi
    done 2>/dev/null || true; } | sort -u | awk '{ kb += $2 / 2 } END { print kb + 0 }'
}
stop_server
mkdir -p "$work/spool"
start_server --max-picture 50M --media-spool "$work/spool"
"$load" media-seed "$port" 12 $((50 * 1024 * 1024)) "$work/files"
"$load" media-seed "$port" 1 $((100 * 1024)) "$work/small"
"$load" slow-readers "$port" 64 "$work/files" &
storm_pids+=($!)
top=0
for _ in $(seq 30); do now=$(spool_kb); ((now > top)) && top=$now; sleep 1; done
read -r served p99 _ < <("$load" probe "$port" get "$fresh" "$(cat "$work/small")")
now=$(spool_kb); ((now > top)) && top=$now
crowd "64 readers of 12 files of 50 MB, a byte every 5 s" "$served" "$p99"
echo "    took at most $((top / 1024)) MB of disk in the spool"
stop_storms

# Readers that keep above --min-send-rate, of 4 of those files, from one
# address and from 16, beside fresh clients fetching a 3 MB photo whole;
# with the most the server took for them meanwhile, on disk and in memory.
"$load" media-seed "$port" 1 $((3 * 1024 * 1024)) "$work/photo"
head -4 "$work/files" >"$work/four"
for crowd_size in "4 1" "64 16"; do
  read -r readers addresses <<<"$crowd_size"
  rss_before=$(rss_kb "$server_pid") top=0 rss_top=0
  sample() {
    local now
    now=$(spool_kb); ((now > top)) && top=$now
    now=$(rss_kb "$server_pid"); ((now > rss_top)) && rss_top=$now
    return 0
  }
  "$load" slow-readers "$port" "$readers" "$work/four" 1536 "$addresses" &
  storm_pids+=($!)
  for _ in $(seq 5); do sample; sleep 1; done
  read -r served p99 _ < <("$load" probe "$port" get "$fresh" "$(cat "$work/photo")")
  sample
  crowd "$readers readers of 50 MB at 1.5 KB/s from $addresses address(es)" "$served" "$p99"
  echo "    took at most $((top / 1024)) MB of disk, $(((rss_top - rss_before) / 1024)) MB of memory more"
  stop_storms
done

stop_server
start_server --max-picture 50M
"$load" slow-media "$port" 8 $((50 * 1024 * 1024)) $((16 * 1024)) 4 &
storm_pids+=($!)
sleep 3
read -r served p99 _ < <("$load" probe "$port" media "$fresh")
crowd "8 files at 16 KB/s from 4 addresses" "$served" "$p99"
stop_storms
echo "  (goal: every fresh client served, p99 under 100 ms; no disk, memory within --max-send-memory)"

# Cache misses: 4 connections from one address cycling over 40 pages of
# 2.3 MB, more than the page cache holds, so that every GET reads a page from
# the database. Beside them a fresh client looks up what a machine identifier
# owns; the server's CPU is sampled over the same time.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
beside_cpu() { # KIND: served p50 p99 cpu% of the fresh clients' time
  local t0 c0 t1 c1 served p99 p50
  t0=$(date +%s.%N) c0=$(cpu_ticks "$server_pid")
  read -r served p99 p50 < <("$load" probe "$port" "$1" "$fresh")
  t1=$(date +%s.%N) c1=$(cpu_ticks "$server_pid")
  echo "$served $p50 $p99 $(awk -v c=$((c1 - c0)) -v t="$t0" -v u="$t1" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.0f", 100 * c / hz / (u - t) }')"
}
echo "Beside $((40)) pages of 2.3 MB read in turn by 4 connections from one address," \
  "a fresh client's lookup ($fresh, a new connection and address each)"
printf '  %-30s %10s %10s %10s %10s\n' "beside" "served" "p50 ms" "p99 ms" "CPU"
stop_server
start_server --max-body 32M
"$load" pages-seed "$port" 40 $((2300 * 1024))
read -r served p50 p99 cpu < <(beside_cpu lookup)
printf '  %-30s %9s%% %10s %10s %9s%%\n' "nothing" "$served" "$p50" "$p99" "$cpu"
"$load" cycle "$port" 40 4 &
storm_pids+=($!)
sleep 3
read -r served p50 p99 cpu < <(beside_cpu lookup)
printf '  %-30s %9s%% %10s %10s %9s%%\n' "4 readers of 40 uncached pages" "$served" "$p50" "$p99" "$cpu"
stop_storms
grep -c '/Test/cycle.* 429 ' "$work/server.log" | xargs printf '    their GETs refused with 429: %s\n' || true
echo "  (goal: the lookup as fast as beside nothing; the readers held to their share)"

# Tries at codes: 16 addresses, two connections each, trying wrong codes at
# 40 pages behind a code as fast as the answers come (each try that is
# hashed costs tens of milliseconds of CPU), beside which a fresh client
# publishes a 20 KB page.
guessers=${GUESSERS:-16}
echo "Beside $guessers addresses trying codes at 40 pages, a fresh client's publish" \
  "($fresh, a new connection and address each)"
printf '  %-30s %10s %10s %10s %10s\n' "beside" "served" "p50 ms" "p99 ms" "CPU"
stop_server
start_server
read -r served p50 p99 cpu < <(beside_cpu store)
printf '  %-30s %9s%% %10s %10s %9s%%\n' "nothing" "$served" "$p50" "$p99" "$cpu"
"$load" codes-seed "$port" 40
"$load" guessers "$port" 40 "$guessers" &
storm_pids+=($!)
sleep 3
read -r served p50 p99 cpu < <(beside_cpu store)
printf '  %-30s %9s%% %10s %10s %9s%%\n' "$guessers addresses guessing" "$served" "$p50" "$p99" "$cpu"
stop_storms
for status in 403 429 503; do
  grep -c "^POST /api/unlock/guess[0-9]* $status " "$work/server.log" |
    xargs printf "    tries answered $status: %s\n" || true
done
echo "  (goal: the publish's p50 under 50 ms beside the guessers)"
