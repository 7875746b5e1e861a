#!/usr/bin/env bash
# Needs: imagemagick (Debian package; not needed by the build or CI).
# Turns the browser tests' desktop screenshots into the gallery thumbnails
# (300 x 155 JPEG, the top of the page) under publish/artwork/ (the gallery's
# thumbnails and the posters' artwork).
# Usage: tools/make-thumbnails.sh ARTEFACTS_DIR STYLE...
#   e.g. tools/make-thumbnails.sh build/tests/browser/artefacts 1 2 3 4
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 ARTEFACTS_DIR STYLE..." >&2; exit 2; }
artefacts=$1
shift
out="$(dirname "$0")/../publish/artwork"
mkdir -p "$out"
for style in "$@"; do
  shot="$artefacts/style$style-desktop.png"
  [[ -f $shot ]] || { echo "$shot is missing: run the browser tests first" >&2; exit 1; }
  convert "$shot" -resize '300x155^' -gravity north -extent 300x155 -strip -quality 85 \
    "$out/style$style.jpg"
  echo "$out/style$style.jpg"
done
