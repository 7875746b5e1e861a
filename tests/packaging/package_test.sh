#!/usr/bin/env bash
# The Debian packages, made by cpack from the build as it is: lintian finds no
# error and no warning that is not overridden with its reason, the desktop
# entry and the AppStream metadata validate, each package holds what it
# should and nothing else, the versions agree, the manual pages name every
# option, and the server as unpacked from its package serves the page assets
# it carries.
# usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
program=$(echo "$work"/out/heartpage_*.deb)
server=$(echo "$work"/out/heartpage-server_*.deb)
[[ -f $program && -f $server ]] || fail "cpack made $(ls "$work/out")"

echo "== lintian"
lintian --fail-on error,warning "$program" "$server" || fail "lintian"

echo "== contents"
listing() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort; }
listing "$program" >"$work/program.list"
listing "$server" >"$work/server.list"
app_id=io.github.heartpage.HeartPage
expected_program=(usr/bin/heartpage usr/bin/heartpage-cli
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  usr/share/man/man1/heartpage.1.gz usr/share/man/man1/heartpage-cli.1.gz
  usr/share/doc/heartpage/copyright usr/share/doc/heartpage/changelog.gz)
for size in 16 22 24 32 48 64 128 256; do
  expected_program+=("usr/share/icons/hicolor/${size}x$size/apps/$app_id.png")
done
expected_server=(usr/bin/heartpage-server usr/lib/systemd/system/heartpage-server.service
  etc/default/heartpage-server usr/share/man/man8/heartpage-server.8.gz
  usr/share/doc/heartpage-server/copyright usr/share/doc/heartpage-server/changelog.gz
  usr/share/doc/heartpage-server/examples/nginx.conf
  usr/share/doc/heartpage-server/examples/nginx-balanced.conf
  usr/share/lintian/overrides/heartpage-server)
# Every page asset of the source tree, and every one the build copied in.
while read -r file; do
  expected_server+=("usr/share/heartpage-server/assets/$file")
done < <(cd "$source/pages/assets" && find . -type f ! -name '.*' | sed 's|^\./||')
for file in fg2/js/jquery.js fg6/misc-res/js/jquery-1.7.2.min.js fg8/js/jquery.cycle.all.js \
            fg8/js/jquery.easing.1.3.js; do
  expected_server+=("usr/share/heartpage-server/assets-vendor/$file")
done
# The maker in the browser, and the styles' artwork its gallery shows.
while read -r file; do
  expected_server+=("usr/share/heartpage-server/maker/$file")
done < <(cd "$source/server/maker" && find . -type f ! -name '.*' | sed 's|^\./||')
for style in 1 2 3 4 5 6 7 8; do
  expected_server+=("usr/share/heartpage-server/artwork/style$style.jpg")
done
# The offline previews' copies: everything but music and video.
while read -r file; do
  expected_program+=("usr/share/heartpage/assets/$file")
done < <(cd "$source/pages/assets" && find . -type f ! -name '.*' ! -name '*.mp3' ! -name '*.mp4' |
           sed 's|^\./||')
expected_program+=(usr/share/heartpage/assets-vendor/fg2/js/jquery.js
  usr/share/lintian/overrides/heartpage)
grep -E '\.(mp3|mp4)$' "$work/program.list" && fail "heartpage carries music or video"
for file in "${expected_program[@]}"; do
  grep -qxF "$file" "$work/program.list" || fail "heartpage lacks $file"
done
for file in "${expected_server[@]}"; do
  grep -qxF "$file" "$work/server.list" || fail "heartpage-server lacks $file"
done
# Nothing else: no library, header, test program or stray file of the build.
grep -vE '^usr/(bin/heartpage(-cli)?|share/(applications|metainfo|icons/hicolor|man/man1|doc/heartpage|heartpage/assets(-vendor)?)/.*|share/lintian/overrides/heartpage)$' \
  "$work/program.list" && fail "heartpage holds the files above, which it should not"
grep -vE '^(usr/bin/heartpage-server|usr/lib/systemd/system/heartpage-server\.service|etc/default/heartpage-server|usr/share/(heartpage-server/(assets(-vendor)?|maker|artwork)|man/man8|doc/heartpage-server|lintian/overrides)/.*)$' \
  "$work/server.list" && fail "heartpage-server holds the files above, which it should not"
dpkg-deb -I "$server" conffiles | grep -qxF /etc/default/heartpage-server ||
  fail "/etc/default/heartpage-server is not a conffile"
depends=$(dpkg-deb -f "$program" Depends)
for package in libcurl4 fonts-noto-cjk fonts-noto-color-emoji libqt6widgets6; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || fail "heartpage does not depend on $package: $depends"
done
[[ $(dpkg-deb -f "$server" Depends) == *adduser* ]] || fail "heartpage-server does not depend on adduser"

dpkg-deb -x "$program" "$work/root"
dpkg-deb -x "$server" "$work/root"

echo "== desktop entry and AppStream metadata"
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "appstreamcli validate"
# The screenshots it names are the repository's.
grep -o 'docs/screenshots/[^<]*' "$work/root/usr/share/metainfo/$app_id.metainfo.xml" |
  while read -r screenshot; do
    [[ -f $source/$screenshot ]] || fail "the metadata names $screenshot, which is not there"
  done

echo "== versions"
version=$(dpkg-deb -f "$program" Version)
[[ $(dpkg-deb -f "$server" Version) == "$version" ]] || fail "the packages' versions differ"
for binary in heartpage heartpage-cli heartpage-server; do
  said=$("$work/root/usr/bin/$binary" --version)
  [[ $said == "$binary $version" ]] || fail "$binary --version says \"$said\", the package $version"
done
newest_release=$(grep -m1 -o '<release version="[^"]*"' \
  "$work/root/usr/share/metainfo/$app_id.metainfo.xml" | cut -d'"' -f2)
[[ $newest_release == "$version" ]] || fail "the metadata's newest release is $newest_release, not $version"
changelog=$(zcat "$work/root/usr/share/doc/heartpage/changelog.gz" | sed -n 1p)
[[ $changelog == "heartpage ($version) "* ]] || fail "the changelog starts \"$changelog\", not $version"

echo "== manual pages"
for page in heartpage-server.8 heartpage-cli.1; do
  zcat "$work/root/usr/share/man/man${page##*.}/$page.gz" | sed 's/\\-/-/g' >"$work/${page%.*}.man"
done
server="$work/root/usr/bin/heartpage-server"
for option in $({ "$server" --help; "$server" admin --help; } | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
  grep -qF -- "$option" "$work/heartpage-server.man" || fail "heartpage-server(8) does not name $option"
done
# Each subcommand of the operator's tools opens an entry of its own.
for command in $("$server" admin --help | sed -nE 's/^  ([a-z-]+).*/\1/p'); do
  grep -qE "^(\.BI? |\\\\fB)\"?$command\b" "$work/heartpage-server.man" ||
    fail "heartpage-server(8) does not name the admin command $command"
done
for command in $("$work/root/usr/bin/heartpage-cli" --help | sed -nE 's/^  ([a-z-]+).*/\1/p'); do
  grep -qE "^\.(B|BR) .*$command" "$work/heartpage-cli.man" ||
    fail "heartpage-cli(1) does not name the command $command"
done

echo "== the installed server finds its assets"
# Marked, so that the build's own copies (which the server falls back to)
# cannot pass for them.
packaged=(assets/common/first-play.js assets-vendor/fg8/js/jquery.cycle.all.js)
for file in "${packaged[@]}"; do
  echo "/* unpacked $RANDOM */" >>"$work/root/usr/share/heartpage-server/$file"
done
echo "/* unpacked $RANDOM */" >>"$work/root/usr/share/heartpage-server/maker/maker.js"
: >"$work/server.log"
"$work/root/usr/bin/heartpage-server" --listen 127.0.0.1:0 --data "$work/data" 2>"$work/server.log" &
server_pid=$!
address=
for _ in $(seq 100); do
  address=$(sed -nE 's|.*listening on (http://[^/]+)/.*|\1|p' "$work/server.log")
  [[ -n $address ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; fail "the server ended"; }
  sleep 0.1
done
[[ -n $address ]] || { cat "$work/server.log" >&2; fail "the server did not start"; }
for file in "${packaged[@]}"; do
  asset=/biaobai/${file#*/}
  status=$(curl -s -o "$work/asset" -w '%{http_code}' "$address$asset")
  [[ $status == 200 ]] || fail "$asset answered $status"
  cmp -s "$work/asset" "$work/root/usr/share/heartpage-server/$file" ||
    fail "$asset is not the packaged file"
done
# The maker is the packaged one too: the server reads it once, at its start.
status=$(curl -s -o "$work/maker" -w '%{http_code}' "$address/make/maker.js")
[[ $status == 200 ]] || fail "/make/maker.js answered $status"
cmp -s "$work/maker" "$work/root/usr/share/heartpage-server/maker/maker.js" ||
  fail "/make/maker.js is not the packaged file"
echo "== all well"
