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

# The desktop program. Without a display the window cannot open: the
# command-line demo instead, style 1 from its defaults, shown in the browser
# for five seconds.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are empty), so the window cannot open;" >&2
  echo "run.sh: running the demo instead: heartpage-cli preview --style 1" >&2
  exec build/app/heartpage-cli preview --style 1
fi
exec build/app/heartpage "$@"
