#!/usr/bin/env bash
# Builds the two Debian packages from a clean Release build in build-package/
# with Debian's hardening flags, and leaves them in build-package/packages/:
# heartpage_VERSION_ARCH.deb and heartpage-server_VERSION_ARCH.deb. The
# version is project(VERSION) in CMakeLists.txt. Arguments go to cmake, e.g.
#   scripts/package.sh -DHEARTPAGE_DEFAULT_HOST=https://pages.example.org
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build-package
rm -rf "$build"
# All of Debian's hardening, binding at start (bindnow) too.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DHEARTPAGE_BUILD_TESTS=OFF -DHEARTPAGE_BUILD_BENCH=OFF "$@"
cmake --build "$build" --target heartpage heartpage-cli heartpage-server
(cd "$build" && cpack -G DEB)
ls -l "$build"/packages/*.deb
