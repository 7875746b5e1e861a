#!/usr/bin/env bash
# Installs what is missing, builds, and shows a page made by HeartPage.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel

# Our publishing server, in the background on the publishing host, unless a
# server already answers there. Its log goes to build/heartpage-server.log.
host=${HEARTPAGE_HOST:-$(sed -n 's/^HEARTPAGE_DEFAULT_HOST:[A-Z]*=//p' build/CMakeCache.txt)}
host=${host:-127.0.0.1:8936}
address=${host%:*} port=${host##*:}
[[ $host == *:* ]] || port=80
answers() { (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; }
if ! answers; then
  nohup build/server/heartpage-server --listen "$host" >>build/heartpage-server.log 2>&1 &
  for _ in $(seq 50); do answers && break; sleep 0.1; done
fi

# Until the windows arrive, a demo: style 1 from its defaults, shown in the
# browser for five seconds.
exec build/app/heartpage-cli preview --style 1 "$@"
