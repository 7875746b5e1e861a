#!/usr/bin/env bash
# Needs: librsvg2-bin and optipng (Debian packages; not needed by the build
# or CI, which install the committed results).
# Renders the desktop icon, icons/heartpage.svg (the heart of the window
# icon), at the sizes desktops look for in the hicolor theme.
# Deterministic; run from anywhere: packaging/make-icons.sh
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  rsvg-convert -w "$size" -h "$size" heartpage.svg -o "${size}x${size}/heartpage.png"
  optipng -quiet -o7 -strip all "${size}x${size}/heartpage.png"
done
