#!/usr/bin/env bash
# Installs what is missing, builds, and shows a page made by HeartPage.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel

# Until the windows arrive, a demo: style 1 from its defaults, shown in the
# browser for five seconds.
exec build/app/heartpage-cli preview --style 1 "$@"
