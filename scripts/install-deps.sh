#!/usr/bin/env bash
# Installs the Debian packages that building and testing HeartPage need.
# Idempotent: when everything is present it only checks, quietly.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config ca-certificates
  libicu-dev
  libcurl4-openssl-dev
  # heartpage-server: Beast/Asio (header-only), its databases (SQLite, and
  # PostgreSQL's client library for sites of several servers), and OpenSSL
  # for serving HTTPS and for the keyed hash of machine identifiers; zlib
  # for sending pages and assets gzip-compressed
  libboost-dev libsqlite3-dev libpq-dev libssl-dev zlib1g-dev
  # tests: certificates made at test time for TLS listeners
  openssl
  # tests and benchmarks; nginx runs in front of the server in a test, as
  # the operator's guide's reverse proxy
  libgtest-dev libbenchmark-dev nginx
  # tests start throwaway PostgreSQL clusters of their own
  postgresql
  # the fuzz targets: clang with libFuzzer and the sanitizer runtimes;
  # clang-tidy for the checks of .clang-tidy
  clang libclang-rt-dev clang-tidy
  # the Windows cross build of machine/ and its tests, run under wine
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix googletest wine wine64
  # the desktop program: Qt 6 Widgets, Qt's own Chinese texts (standard
  # menus and buttons), and a Chinese font so that no text shows as boxes
  qt6-base-dev qt6-translations-l10n fonts-noto-cjk
  # hearts and faces typed into the fields, in colour
  fonts-noto-color-emoji
  # the clipboard's keeper asks X whether a clipboard manager runs
  libxcb1-dev
  # QR codes of public addresses (the upload dialog, the CLI, 扫码预览); the
  # tests read them back with zbar
  libqrencode-dev zbar-tools
  # running: the preview opens pages with the desktop's default browser
  xdg-utils
  # pages: jQuery for the templates that name it; browser tests in Chromium,
  # with a font for the pages' Chinese text
  libjs-jquery chromium fonts-wqy-microhei
  # style 8's easing plugin
  libjs-jquery-easing
  # the browser tests in WebKit (its MiniBrowser under Xvfb, driven by
  # WebKitWebDriver, with GStreamer's decoders for the pages' music and
  # videos; a window manager that gives its window the whole phone-sized
  # screen) and in Firefox (through WebDriver BiDi, sound into PulseAudio's
  # null sink)
  webkit2gtk-driver xvfb matchbox-window-manager gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  firefox-esr pulseaudio
  # the Debian packages (cpack's DEB generator computes their dependencies
  # with dpkg-shlibdeps) and their checks
  dpkg-dev lintian desktop-file-utils appstream
)
# Node.js runs the browser tests; a newer one already present is kept.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The browser tests' npm packages, exactly as the lock file pins them.
browser="$(dirname "$0")/../tests/browser"
installed="$browser/node_modules/.package-lock.json"
if [[ ! -f "$installed" || "$browser/package-lock.json" -nt "$installed" ]]; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
fi

# Page scripts that Debian does not package, pinned by their lock file; the
# build copies them into assets-vendor.
vendor="$(dirname "$0")/../pages/vendor"
installed="$vendor/node_modules/.package-lock.json"
if [[ ! -f "$installed" || "$vendor/package-lock.json" -nt "$installed" ]]; then
  (cd "$vendor" && npm ci --no-audit --no-fund --loglevel=error)
fi
