#!/usr/bin/env bash
# Installs what is missing, builds, and opens HeartPage.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
# The build is configured one way, by the presets, whoever starts it.
cmake --preset dev >/dev/null
cmake --build --preset dev --parallel

# Our publishing server, in the background on the publishing host, unless a
# server already answers there. Its log goes to build/heartpage-server.log.
host=${HEARTPAGE_HOST:-$(sed -n 's/^HEARTPAGE_DEFAULT_HOST:[A-Z]*=//p' build/CMakeCache.txt)}
host=${host:-127.0.0.1:8936}
# An https host is someone's site with its own certificate: it is used, not
# started here. A plain one may carry "http://".
scheme=http
[[ ${host,,} == https://* ]] && scheme=https
host=${host#*://} host=${host%/}
address=${host%:*} port=${host##*:}
[[ $host == *:* ]] || port=$([[ $scheme == https ]] && echo 443 || echo 80)
answers() { (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; }
if [[ $scheme == http ]] && ! answers; then
  nohup build/server/heartpage-server --listen "$host" >>build/heartpage-server.log 2>&1 &
  for _ in $(seq 50); do answers && break; sleep 0.1; done
fi

# The desktop program. Without a display (a server, a container, a remote
# shell) the window cannot open: what can be opened from the phone or laptop
# at hand instead, the maker in the browser and a published demo page.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  origin="$scheme://$host"
  # A server listening beyond loopback is reached at this machine's address.
  if [[ $address == 0.0.0.0 || $address == "[::]" ]]; then
    own=$(hostname -I 2>/dev/null | awk '{print $1}')
    [[ -n $own ]] && origin="$scheme://$own:$port"
  fi
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are empty), so the window cannot open."
  echo
  echo "Make a page in the browser, on this machine or a phone that reaches it:"
  echo "  $origin/make"
  build/app/heartpage-cli qr "$origin/make" || true
  echo
  echo "A demo page of style 1, published on the local server:"
  demo=$(HEARTPAGE_HOST="$origin" build/app/heartpage-cli publish --style 1 --name demo \
    --machine-id "run.sh demo $(hostname)" 2>&1 | tail -1) || true
  echo "  $demo"
  echo
  if server=$(pgrep -f "heartpage-server --listen $host" | head -1) && [[ -n $server ]]; then
    echo "The server runs in the background (log: build/heartpage-server.log); stop it with:"
    echo "  kill $server"
  fi
  exit 0
fi
exec build/app/heartpage "$@"
