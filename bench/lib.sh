# Shared by the bench scripts that drive heartpage-server over loopback.
# Sourced, not run.

# Installs the Debian packages that provide the given commands when run as
# root; otherwise says what is missing and fails.
#   need_commands "wrk nginx-light" wrk nginx
need_commands() {
  local packages=$1 command
  shift
  for command in "$@"; do
    command -v "$command" >/dev/null && continue
    if [[ $(id -u) -eq 0 ]]; then
      # shellcheck disable=SC2086
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $packages >/dev/null
      return
    fi
    echo "needs $*: sudo apt-get install $packages" >&2
    exit 1
  done
}

# Sets build, server and load to BUILD_DIR's heartpage-server and load
# generator, or fails when they are not built.
use_build() {
  build=$1
  server=$build/server/heartpage-server
  load=$build/bench/server_load
  [[ -x $server && -x $load ]] || { echo "build first: cmake --build $build" >&2; exit 1; }
}

# Below the kernel's ephemeral ports (32768 on): a bench's own clients leave
# thousands of those bound, which a listener could not bind.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

wait_for_port() {
  for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nothing answers on port $1" >&2
  return 1
}

# The memory a process holds of its own, in KB: its heap and its in-memory
# files. Not the pages of files it maps (the server's database), which are
# the kernel's cache, shared and given back whenever memory is short.
rss_kb() { awk '/^(RssAnon|RssShmem):/ {kb += $2} END {print kb}' "/proc/$1/status"; }
requests_per_second() { awk '/^Requests\/sec:/ {print $2}' "$1"; }

# Starts $server (data in $work/data, log in $work/server.log) on port $port
# with $server_threads threads and any further flags, sets server_pid and
# waits until it answers.
start_server() {
  "$server" --data "$work/data" --listen "127.0.0.1:$port" --threads "$server_threads" "$@" \
    2>"$work/server.log" &
  server_pid=$!
  wait_for_port "$port"
}

# Starts nginx on $nginx_port with $server_threads workers, serving the files
# of $work/nginx as the site's pages (GBK HTML, the .gz beside a file sent
# as it is), sets nginx_pid and waits until it answers. Further lines of its
# http block come as arguments.
start_nginx() {
  mkdir -p "$work/nginx/logs"
  {
    cat <<CONF
daemon off;
worker_processes $server_threads;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_requests 1000000;
  default_type "text/html; charset=gbk";
  gzip_static on;
  gzip_vary on;
CONF
    printf '  %s\n' "$@"
    cat <<CONF
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/nginx;
  }
}
CONF
  } >"$work/nginx.conf"
  nginx -p "$work/nginx" -c "$work/nginx.conf" &
  nginx_pid=$!
  wait_for_port "$nginx_port"
}
