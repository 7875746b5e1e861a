#!/usr/bin/env bash
# Needs: imagemagick and fonts-noto-cjk (Debian packages; not needed by the
# build or CI, which use the committed results).
# Makes the desktop program's artwork under app/resources/: the main window's
# background (714 x 625), its icon (48, 32 and 16 pixels), the close button's
# strip of five 30 x 30 state cells (normal, pointer over, pressed, disabled,
# spare) and the picture of a gallery tile still to come (300 x 155).
# Deterministic; run from anywhere: tools/make-shell-artwork.sh
set -euo pipefail
cd "$(dirname "$0")/../app/resources"

im() { convert "$@"; }
strip=(-strip -define png:exclude-chunks=date,time)
bold=$(fc-match -f '%{file}' 'Noto Sans CJK SC:bold')
regular=$(fc-match -f '%{file}' 'Noto Sans CJK SC')

# A heart as a path around (0,0), 100 units wide; scaled and moved by -draw.
heart="M 0,-20 C -10,-45 -50,-40 -50,-5 C -50,25 -15,40 0,60 C 15,40 50,25 50,-5 C 50,-40 10,-45 0,-20 Z"
draw_heart() {  # x y scale colour blur
  echo "( -size 714x625 xc:none -fill $4 -draw \"translate $1,$2 scale $3,$3 path '$heart'\" -blur 0x$5 )"
}

# The background. The gallery panel (8,112)-(707,553) shows this artwork
# through, and every tile shows the patch at the panel's top-left, so that
# part stays calm; the hearts sit around it.
hearts=()
for bubble in "60 60 0.45 #ff8fb1 1" "640 610 0.6 #ff8fb1 2" "700 120 0.3 #ffc2d4 1" \
            "20 590 0.35 #ffc2d4 1" "470 40 0.22 #ffd6e2 0" "560 58 0.16 #ffd6e2 0" \
            "380 600 0.3 #ff9fbf 3" "250 20 0.18 #ffd6e2 0"; do
  read -r x y s c b <<<"$bubble"
  hearts+=( \( -size 714x625 xc:none -fill "$c" \
             -draw "translate $x,$y scale $s,$s path '$heart'" -blur "0x$b" \) -composite )
done
im -size 714x625 gradient:'#7a1038'-'#f27a9c' \
  \( -size 714x625 radial-gradient:'#ffffff50'-'#ffffff00' \) -composite \
  "${hearts[@]}" \
  \( -size 714x625 xc:none -fill '#ffffff2e' -draw "roundrectangle 5,108 710,557 14,14" \) -composite \
  \( -size 714x625 xc:none -fill '#fff0f5' -stroke '#ffffff' -strokewidth 1 \
     -draw "translate 34,46 scale 0.3,0.3 path '$heart'" \) -composite \
  -stroke none -font "$bold" -pointsize 30 -fill '#ffffff' -annotate +58+56 'HeartPage 表白网页制作' \
  -font "$regular" -pointsize 14 -fill '#ffe3ec' \
  -annotate +60+84 '选一个样式，写下想说的话，一键发布给你的TA' \
  \( -size 714x625 xc:none -fill '#ffffff33' -draw "roundrectangle 24,566 336,612 12,12" \) -composite \
  \( -size 714x625 xc:none -fill '#ffffff' -draw "roundrectangle 38,575 74,601 8,8" \
     -fill '#d83a6a' -draw "circle 48,588 50,588 circle 56,588 58,588 circle 64,588 66,588" \) -composite \
  -font "$bold" -pointsize 20 -fill '#ffffff' -annotate +86+596 '在线客服' \
  -font "$regular" -pointsize 13 -fill '#ffe3ec' -annotate +178+595 '使用中有问题？点这里' \
  -font "$regular" -pointsize 12 -fill '#ffd6e2' -annotate +560+604 '© HeartPage V1.0' \
  "${strip[@]}" -quality 90 background.jpg

# The close button's strip: a round button with a cross per state, on the
# button's mask colour (0x00FD00FF, #ff00fd) so that only the round button
# shows over the window's artwork. Hard edges and a near-lossless JPEG keep
# the ground exactly that colour up to the button's rim.
cell() {  # fill ring cross dx
  echo "+antialias -fill $1 -stroke $2 -strokewidth 2 -draw \"circle $((15 + $4)),$((15 + $4)) $((15 + $4)),$((3 + $4))\" -stroke $3 -strokewidth 3 -draw \"line $((10 + $4)),$((10 + $4)) $((20 + $4)),$((20 + $4))\" -draw \"line $((20 + $4)),$((10 + $4)) $((10 + $4)),$((20 + $4))\""
}
make_cell() {  # out fill ring cross dx
  eval im -size 30x30 xc:'#ff00fd' "$(cell "$2" "$3" "$4" "$5")" "$1"
}
make_cell /tmp/heartpage-cell0.png "'#d8436f'" "'#ffd6e2'" "'#ffffff'" 0
make_cell /tmp/heartpage-cell1.png "'#f0577f'" "'#ffffff'" "'#ffffff'" 0
make_cell /tmp/heartpage-cell2.png "'#a0264e'" "'#ffd6e2'" "'#ffe3ec'" 1
make_cell /tmp/heartpage-cell3.png "'#a08890'" "'#c8b8bd'" "'#e0d8da'" 0
make_cell /tmp/heartpage-cell4.png "'#d8436f'" "'#d8436f'" "'#ffd6e2'" 0
im /tmp/heartpage-cell{0,1,2,3,4}.png +append "${strip[@]}" -sampling-factor 1x1 -quality 100 \
  close.jpg
rm -f /tmp/heartpage-cell{0,1,2,3,4}.png

# The tile of a style still to come.
im -size 300x155 gradient:'#ffe9f0'-'#ffb3c8' \
  \( -size 300x155 xc:none -fill none -stroke '#ffffff' -strokewidth 3 \
     -draw "translate 150,70 scale 0.9,0.9 path '$heart'" \) -composite \
  -stroke none -font "$bold" -pointsize 30 -fill '#c2185b' -gravity center -annotate +0-8 '敬请期待' \
  -font "$regular" -pointsize 14 -fill '#8e1a45' -annotate +0+32 '更多样式即将上线' \
  "${strip[@]}" -quality 90 placeholder.jpg

# The icon: 48, 32 and 16 pixels, each in 16 colours, 256 colours and true
# colour with transparency, as window icons have always come.
for size in 48 32 16; do
  s=$(awk "BEGIN { print $size / 100 * 0.9 }")
  h=$(awk "BEGIN { print $size / 2 }")
  im -size "${size}x${size}" xc:none -fill '#e8194a' -stroke '#ffffff' -strokewidth 0.5 \
    -draw "translate $h,$(awk "BEGIN { print $size * 0.42 }") scale $s,$s path '$heart'" \
    "${strip[@]}" "/tmp/heartpage-icon$size.png"
done
i=/tmp/heartpage-icon
im \( "$i"32.png "$i"16.png -background '#7a1038' -alpha remove -alpha off -colors 16 \) \
   \( "$i"48.png "$i"32.png "$i"16.png -background '#7a1038' -alpha remove -alpha off -colors 256 \) \
   "$i"48.png "$i"32.png "$i"16.png icon.ico
rm -f /tmp/heartpage-icon{48,32,16}.png
