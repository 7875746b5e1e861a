#!/usr/bin/env bash
# Tries the two Debian packages as a user would, in a clean Debian 12 root
# made by mmdebstrap from the Debian archive: installs both with
# `apt-get install ./…` (recommendations left out, so that Depends alone must
# do), builds a page with heartpage-cli, starts the server by its unit's own
# ExecStart as the package's user, publishes a page to it and fetches it,
# then removes and purges both and shows what is left. Then the same under
# systemd, in a second root booted with systemd-nspawn: installing starts the
# service with its whole sandbox, a page and a file are published to it,
# removing stops it and keeps its data, purging deletes them.
# Not part of ./test.sh: it downloads a few hundred MB and takes minutes.
# As root. usage: scripts/check-packages.sh [FOLDER_WITH_THE_DEBS]
# (default: build-package/packages from scripts/package.sh, else
# build/packages from `cpack -G DEB` in build/)
set -euo pipefail
cd "$(dirname "$0")/.."

debs=${1:-}
if [[ -z $debs ]]; then
  debs=build-package/packages
  [[ -d $debs ]] || debs=build/packages
fi
program=$(ls "$debs"/heartpage_*.deb)
server=$(ls "$debs"/heartpage-server_*.deb)
for tool in mmdebstrap:mmdebstrap systemd-nspawn:systemd-container; do
  command -v "${tool%:*}" >/dev/null ||
    apt-get install -y -qq --no-install-recommends "${tool#*:}" >/dev/null
done
mirrors=("deb http://deb.debian.org/debian bookworm main"
  "deb http://deb.debian.org/debian bookworm-updates main"
  "deb http://deb.debian.org/debian-security bookworm-security main")

work=$(mktemp -d)
nspawn=
finish() {
  [[ -n $nspawn ]] && kill "$nspawn" 2>/dev/null && wait "$nspawn" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
mkdir "$work/check"
cp "$program" "$server" "$work/check/"

# What runs inside the new root.
cat >"$work/check/inside.sh" <<'INSIDE'
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin
cd /tmp/check
step() { printf '\n== %s\n' "$*"; }
# Every path outside what apt and dpkg keep of their own, and the caches.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
    -o -path /var/cache -o -path /var/log -o -path /var/lib/apt -o -path /var/lib/dpkg \) \
    -prune -o -print | sort
}
snapshot >before.list
cp /etc/passwd passwd.before
cp /etc/group group.before

step "apt-get install ./$(ls heartpage_*.deb) ./$(ls heartpage-server_*.deb)"
apt-get update -qq
apt-get install -y -qq --no-install-recommends ./heartpage_*.deb ./heartpage-server_*.deb \
  >install.log 2>&1 || { tail -40 install.log; exit 1; }
grep -E '^(Setting up heartpage|Get:[0-9]+ .*\b(libqt6widgets6|libcurl4|fonts-noto-cjk) )' install.log || true
echo "$(grep -c '^Setting up' install.log) packages set up"
dpkg-query -W -f='${Package} ${Version}: ${Status}\n' heartpage heartpage-server
echo "user: $(getent passwd heartpage-server)"
echo "enabled: $(readlink /etc/systemd/system/multi-user.target.wants/heartpage-server.service)"
heartpage --version
heartpage-cli --version
heartpage-server --version

step "the server, by the unit's ExecStart, as the user heartpage-server"
unit=/usr/lib/systemd/system/heartpage-server.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
echo "ExecStart=$exec_start"
# What systemd does first: the state directory (StateDirectory=), the
# settings (EnvironmentFile=), XDG_DATA_HOME=%S (Environment=) and UMask=.
install -d -o heartpage-server -g heartpage-server -m 0700 /var/lib/heartpage-server
set -a
. /etc/default/heartpage-server
set +a
eval "set -- $exec_start"
echo "runs: $*"
: >server.log
umask 0077
setpriv --reuid=heartpage-server --regid=heartpage-server --init-groups \
  env -i PATH=/usr/bin:/bin XDG_DATA_HOME=/var/lib HEARTPAGE_LISTEN="$HEARTPAGE_LISTEN" \
  HEARTPAGE_OPTIONS="$HEARTPAGE_OPTIONS" "$@" 2>server.log &
server_pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' server.log && break
  kill -0 "$server_pid" || { cat server.log; exit 1; }
  sleep 0.1
done
cat server.log
host=$HEARTPAGE_LISTEN
get() {  # PATH: the status line of GET PATH
  exec 3<>"/dev/tcp/${host%:*}/${host##*:}" || return 1
  printf 'GET %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n' "$1" "$host" >&3
  local status
  IFS= read -r status <&3
  exec 3<&-
  echo "GET $1: ${status%$'\r'}"
}

step "heartpage-cli build --style 3"
# Its checks try the page's addresses on the publishing host, which now answers.
HEARTPAGE_HOST=$host heartpage-cli build --style 3 -o page.htm
echo "page.htm: $(wc -c <page.htm) bytes, $(LC_ALL=C grep -ao '<title>[^<]*' page.htm | iconv -f GBK -t UTF-8)"

step "heartpage-cli publish --style 3 --name debian12"
HEARTPAGE_HOST=$host heartpage-cli publish --style 3 --name debian12 --machine-id check-packages
get /Test/debian12
# The page's scripts, styles, pictures and music, from the installed assets.
for asset in $(grep -ao '/biaobai/[^"'"'"' )]*' page.htm | sort -u); do get "$asset"; done
echo "the server runs as $(stat -c %U "/proc/$server_pid")"
ls -la /var/lib/heartpage-server
kill "$server_pid"
wait "$server_pid" || true
tail -n 4 server.log

step "apt-get remove heartpage heartpage-server"
apt-get remove -y -qq heartpage heartpage-server >remove.log 2>&1 || { cat remove.log; exit 1; }
dpkg-query -W -f='${Package}: ${Status}\n' heartpage heartpage-server 2>&1 || true
echo "kept: $(ls -d /var/lib/heartpage-server /etc/default/heartpage-server 2>&1 | tr '\n' ' ')"

# apt no longer knows the removed packages from files: dpkg purges them.
step "dpkg --purge heartpage heartpage-server; apt-get autoremove --purge"
dpkg --purge heartpage heartpage-server >purge.log 2>&1 || { cat purge.log; exit 1; }
apt-get autoremove --purge -y -qq >>purge.log 2>&1 || { cat purge.log; exit 1; }
dpkg-query -W -f='${Package}: ${Status}\n' heartpage heartpage-server 2>&1 || true
echo "gone: $(ls -d /var/lib/heartpage-server /etc/default/heartpage-server 2>&1 | tr '\n' ' ')"

step "what is left, beside what apt and dpkg keep of their own"
snapshot >after.list
if diff before.list after.list; then echo "no file or folder"; fi
diff passwd.before /etc/passwd || true
diff group.before /etc/group || true
INSIDE

mmdebstrap --variant=apt --quiet \
  --customize-hook="copy-in $work/check /tmp" \
  --customize-hook='chroot "$1" bash /tmp/check/inside.sh' \
  bookworm "$work/root" "${mirrors[@]}"
rm -rf "$work/root"

# What runs inside the booted root.
cat >"$work/check/booted.sh" <<'BOOTED'
set -euo pipefail
cd /root/check
step() { printf '\n== %s\n' "$*"; }
get() {  # PATH: the status line of GET PATH on the service
  exec 3<>/dev/tcp/127.0.0.1/8936 || return 1
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:8936\r\nConnection: close\r\n\r\n' "$1" >&3
  local status
  IFS= read -r status <&3
  exec 3<&-
  echo "GET $1: ${status%$'\r'}"
}
step "under systemd: apt-get install ./$(ls heartpage_*.deb) ./$(ls heartpage-server_*.deb)"
apt-get update -qq
apt-get install -y -qq --no-install-recommends ./heartpage_*.deb ./heartpage-server_*.deb \
  >install.log 2>&1 || { tail -40 install.log; exit 1; }
for _ in $(seq 50); do
  systemctl is-active --quiet heartpage-server && get / >/dev/null 2>&1 && break
  sleep 0.1
done
systemctl status heartpage-server --no-pager --lines=2 | sed -n '1,6p;/listening/p'
export HEARTPAGE_HOST=127.0.0.1:8936
heartpage-cli publish --style 3 --name booted --machine-id check-packages
get /Test/booted
heartpage-cli upload /usr/share/icons/hicolor/256x256/apps/io.github.heartpage.HeartPage.png \
  --machine-id check-packages
systemd-analyze security heartpage-server --no-pager | tail -n 1
step "under systemd: apt-get remove heartpage-server, then purge"
apt-get remove -y -qq heartpage-server >remove.log 2>&1 || { cat remove.log; exit 1; }
echo "removed: $(systemctl is-active heartpage-server), data kept: $(ls /var/lib/heartpage-server | tr '\n' ' ')"
apt-get purge -y -qq heartpage-server >purge.log 2>&1 || { cat purge.log; exit 1; }
echo "purged: $(ls -d /var/lib/heartpage-server /etc/default/heartpage-server \
  /etc/systemd/system/multi-user.target.wants/heartpage-server.service 2>&1 | tr '\n' ' ')"
BOOTED

# In /root: the booted system mounts a fresh /tmp.
mmdebstrap --variant=apt --quiet --include=systemd,systemd-sysv,dbus \
  --customize-hook="copy-in $work/check /root" bookworm "$work/booted" "${mirrors[@]}"
systemd-nspawn -D "$work/booted" --boot --register=no --keep-unit --console=pipe \
  >"$work/nspawn.log" 2>&1 &
nspawn=$!
booted=
for _ in $(seq 300); do
  leader=$(ps -o pid= --ppid "$nspawn" | tr -d ' ' || true)
  if [[ -n $leader ]] && nsenter -t "$leader" -a systemctl is-system-running 2>/dev/null |
    grep -qE '^(running|degraded)$'; then
    booted=yes
    break
  fi
  sleep 0.2
done
[[ -n $booted ]] || { tail -20 "$work/nspawn.log"; echo "systemd-nspawn did not boot the root" >&2; exit 1; }
nsenter -t "$leader" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive bash /root/check/booted.sh
