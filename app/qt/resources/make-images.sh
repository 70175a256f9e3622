#!/usr/bin/env bash
# Draws the panel's picture (Image1, 445 x 68, 24 bits per pixel) and the program icon with
# ImageMagick. The results are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"

font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# A sound wave that dies away towards the right, beside the name.
wave=$(awk 'BEGIN { for (x = 190; x <= 440; x += 2)
  printf "%d,%.1f ", x, 34 + 20 * exp(-(x - 190) / 110) * sin((x - 190) / 5.5) }')

convert -size 445x68 gradient:'#1d3f6e-#5f8fc4' \
  -fill none -stroke '#b9d6f2' -strokewidth 2 -draw "polyline $wave" \
  -stroke none -fill white -font "$font" -pointsize 26 -annotate +14+30 'VALTREX' \
  -fill '#dce9f7' -pointsize 12 -annotate +16+60 'ultrasonic generator' \
  -strip -define png:color-type=2 -define png:bit-depth=8 PNG24:Image1.png

convert -size 64x64 xc:none \
  -fill '#2a5589' -stroke '#1d3f6e' -strokewidth 2 -draw 'roundrectangle 2,2 61,61 10,10' \
  -fill none -stroke white -strokewidth 3 \
  -draw "polyline $(awk 'BEGIN { for (x = 10; x <= 54; x += 1)
      printf "%d,%.1f ", x, 32 - 16 * exp(-(x - 10) / 22) * sin((x - 10) / 2.6) }')" \
  -strip PNG32:valtrex-panel.png

# The same pictures for the Windows program's resources.
convert Image1.png -type truecolor BMP3:../../win32/resources/Image1.bmp
convert valtrex-panel.png -define icon:auto-resize=64,48,32,16 ../../win32/resources/valtrex-panel.ico
