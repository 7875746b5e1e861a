#!/usr/bin/env bash
# Needs: imagemagick ffmpeg (Debian packages; not needed by the build or CI).
# Makes the pictures and video of page styles 1 to 4 under
# pages/assets/. Deterministic: the same tools give the same files, which are
# committed. Run from anywhere: tools/make-assets-fg1to4.sh
set -euo pipefail
cd "$(dirname "$0")/../pages/assets"
mkdir -p fg1 fg2 fg3 fg4

# ImageMagick writes dates into PNG and JPEG headers unless told not to.
im() { convert "$@"; }
strip=(-strip -define png:exclude-chunks=date,time)

# A heart as a path around (0,0), 100 units wide; scaled and moved by -draw.
heart_path="M 0,-20 C -10,-45 -50,-40 -50,-5 C -50,25 -15,40 0,60 C 15,40 50,25 50,-5 C 50,-40 10,-45 0,-20 Z"

# Style 1's picture: a night sky with a glowing heart.
im -size 600x400 gradient:'#1a0630'-'#000000' \
  \( -size 600x400 xc:none -fill '#ffffff' -draw "point 40,30 point 120,80 point 210,40 point 330,22 point 470,60 point 560,35 point 80,150 point 520,170 point 300,90 point 400,140 point 25,320 point 575,300" -blur 0x0.6 \) -composite \
  \( -size 600x400 xc:none -fill '#ff3366' -draw "translate 300,210 scale 2.6,2.6 path '$heart_path'" -blur 0x12 \) -composite \
  \( -size 600x400 xc:none -fill '#ff6b8b' -draw "translate 300,210 scale 2.2,2.2 path '$heart_path'" \) -composite \
  \( -size 600x400 xc:none -fill '#ffd1dc' -draw "translate 270,170 scale 0.5,0.5 path '$heart_path'" -blur 0x4 \) -composite \
  "${strip[@]}" -quality 82 fg1/center.jpg

# The floating picture of styles 2 and 3 (200 x 250): a heart on pink.
im -size 200x250 gradient:'#ffe3ec'-'#ff9ab5' \
  \( -size 200x250 xc:none -fill '#e8194a' -draw "translate 100,120 scale 1.5,1.5 path '$heart_path'" \) -composite \
  \( -size 200x250 xc:none -fill '#ffffff' -draw "translate 82,100 scale 0.28,0.28 path '$heart_path'" -blur 0x2 \) -composite \
  -fill none -stroke '#ffffff' -strokewidth 4 -draw "roundrectangle 6,6 193,243 16,16" \
  "${strip[@]}" -quality 85 fg2/psb.jpg

# Style 4's picture above the last card: two hearts, transparent around.
im -size 260x200 xc:none \
  -fill '#ff4d6d' -draw "translate 105,95 scale 1.5,1.5 path '$heart_path'" \
  -fill '#ffb3c1' -draw "translate 170,110 scale 1.1,1.1 path '$heart_path'" \
  -fill '#ffffff' -draw "translate 88,70 scale 0.3,0.3 path '$heart_path'" \
  "${strip[@]}" fg4/1.png

# The background music is rendered from note data by tools/make-music.py.

# Style 1's video: five seconds of drifting colour with a heart that beats,
# 640 x 512 (the player's 750 x 600 shape), H.264 and AAC in MP4.
ffmpeg -v error -y \
  -f lavfi -i "gradients=s=640x512:d=5:r=25:c0=0x3a0ca3:c1=0xf72585:c2=0x4361ee:speed=0.03:seed=7" \
  -f lavfi -i "aevalsrc='0.2*sin(2*PI*t*(330+110*floor(mod(t*2,3))))*(1-exp(-40*mod(t,0.5)))*exp(-3*mod(t,0.5))':s=22050:d=5" \
  -loop 1 -t 5 -i fg4/1.png \
  -filter_complex "[2:v]scale=w='260*(1+0.08*sin(2*PI*t*1.2))':h=-1:eval=frame[h];[0:v][h]overlay=x=(W-w)/2:y=(H-h)/2:format=auto,format=yuv420p[v]" \
  -map "[v]" -map 1:a -c:v libx264 -preset veryfast -crf 30 -threads 1 -profile:v main \
  -c:a aac -b:a 48k -ac 1 -shortest -movflags +faststart \
  -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 fg1/mv.mp4

ls -l fg1 fg2 fg3 fg4
