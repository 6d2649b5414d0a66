#!/usr/bin/env bash
# Draws the program's artwork with ImageMagick: the side picture shown next
# to the pages (a 24-bit 281x189 bitmap) and the program icon (16, 32 and 48
# pixels).  The results are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
FONT_PLAIN=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Side picture: a dusk gradient, a flash drive with a padlock, the name.
convert -size 281x189 gradient:'#12395e'-'#2b8a8f' \
  -fill '#ffffff22' -draw 'circle 240,30 300,30' \
  -fill '#ffffff18' -draw 'circle 30,170 90,170' \
  -fill '#d8dde3' -stroke '#24303a' -strokewidth 2 -draw 'roundrectangle 40,52 150,104 10,10' \
  -fill '#9aa6b2' -draw 'rectangle 150,64 178,92' \
  -fill '#24303a' -stroke none -draw 'rectangle 158,70 164,76' -draw 'rectangle 158,80 164,86' \
  -fill '#f2b134' -stroke '#7a5410' -strokewidth 2 -draw 'roundrectangle 72,66 112,96 4,4' \
  -fill none -stroke '#7a5410' -strokewidth 4 -draw 'arc 78,48 106,80 180,360' \
  -fill '#7a5410' -stroke none -draw 'circle 92,79 92,83' -draw 'rectangle 91,80 93,89' \
  -font "$FONT" -pointsize 30 -fill white -draw 'text 40,150 "Brelvane"' \
  -font "$FONT_PLAIN" -pointsize 12 -fill '#cfe9ea' -draw 'text 42,172 "by Quorvix   -   locks your Mivora"' \
  -type TrueColor -depth 8 -define bmp:format=bmp3 BMP3:side.bmp

# Icon: the padlock on a rounded tile, drawn large and scaled down.
convert -size 96x96 xc:none \
  -fill '#1d5f7a' -draw 'roundrectangle 2,2 93,93 18,18' \
  -fill '#f2b134' -stroke '#7a5410' -strokewidth 4 -draw 'roundrectangle 22,42 74,82 6,6' \
  -fill none -stroke '#f5f5f5' -strokewidth 8 -draw 'arc 30,14 66,60 180,360' \
  -fill '#7a5410' -stroke none -draw 'circle 48,58 48,64' -draw 'rectangle 45,60 51,72' \
  "$tmp/icon96.png"
for size in 16 32 48; do
  convert "$tmp/icon96.png" -resize ${size}x${size} "$tmp/icon$size.png"
done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" brelvane.ico
