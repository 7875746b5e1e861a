#!/usr/bin/env bash
# What a page held back costs next to a plain one: GETs of a 20 KB page open,
# held until its moment and asking for its code, an unlock with the right
# code (its scrypt hash), and a GET with the cookie it gives; the median and
# the 99th percentile in ms of COUNT of each, one client at a time on
# loopback.
#   bench/page_gates.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/lib.sh
source "$here/lib.sh"
use_build "${1:-$here/../build}"
count=${2:-200}
work=$(mktemp -d)
trap 'kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
port=$(free_port)
server_threads=2
start_server --visits-per-minute 0 --stores-per-minute 0 --claims-per-minute 0
echo "what median-ms p99-ms"
"$load" gates "$port" "$count"
