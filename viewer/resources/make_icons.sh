#!/usr/bin/env bash
# Draws the viewer's icons with ImageMagick. The PNGs are committed; run this
# only to change them. Line-art in one accent colour on a transparent ground,
# 64 x 64, so they read on the dark style sheet.
set -euo pipefail
cd "$(dirname "$0")/icon"
A='#4fc3f7'   # accent
R='#ef5350'   # record red
W='#e0e0e0'   # light grey
draw() {  # name, then ImageMagick drawing options
  local name=$1; shift
  convert -size 64x64 xc:none -strokewidth 4 "$@" "icon/$name.png"
}
draw icon_play        -fill "$A" -draw "polygon 20,12 52,32 20,52"
draw icon_pause       -fill "$A" -draw "rectangle 16,12 27,52" -draw "rectangle 37,12 48,52"
draw icon_stop        -fill "$A" -draw "rectangle 14,14 50,50"
draw icon_repeat      -fill none -stroke "$W" -draw "arc 12,12 52,52 30,330" -fill "$W" -draw "polygon 46,18 58,30 44,32"
draw icon_repeat_1x   -fill none -stroke "$A" -draw "arc 12,12 52,52 30,330" -fill "$A" -draw "polygon 46,18 58,30 44,32" \
                      -stroke none -draw "rectangle 29,22 35,42"
draw icon_record      -fill "$R" -draw "circle 32,32 32,12"
draw icon_record_stop -fill "$R" -draw "circle 32,32 32,8" -fill "$W" -draw "rectangle 22,22 42,42"
draw icon_capture     -fill none -stroke "$A" -draw "roundrectangle 8,18 56,52 6,6" -draw "circle 32,35 32,25" \
                      -fill "$A" -draw "rectangle 22,12 38,18"
draw icon_connect     -fill none -stroke "$A" -draw "line 8,32 22,32" -draw "line 42,32 56,32" \
                      -draw "roundrectangle 22,20 30,44 3,3" -draw "roundrectangle 34,20 42,44 3,3" \
                      -draw "line 24,26 20,26" -draw "line 24,38 20,38"
draw icon_load        -fill none -stroke "$A" -draw "polyline 8,18 24,18 28,24 56,24 56,52 8,52 8,18"
draw icon_device      -fill none -stroke "$A" -draw "circle 32,32 32,18" -draw "line 32,4 32,14" -draw "line 32,50 32,60" \
                      -draw "line 4,32 14,32" -draw "line 50,32 60,32" -fill "$A" -draw "circle 32,32 32,26"
draw icon_pointcloud_viewer -fill "$A" -draw "circle 14,40 14,36" -draw "circle 26,22 26,18" -draw "circle 40,44 40,40" \
                      -draw "circle 50,18 50,14" -draw "circle 32,34 32,30" -draw "circle 18,54 18,51" -draw "circle 52,54 52,51"
draw icon_image_viewer -fill none -stroke "$A" -draw "rectangle 8,12 56,52" -fill "$A" -draw "polygon 12,48 26,28 36,40 42,32 52,48" \
                      -draw "circle 44,22 44,18"
draw icon_grid        -fill none -stroke "$A" -strokewidth 3 -draw "rectangle 8,8 56,56" -draw "line 24,8 24,56" -draw "line 40,8 40,56" \
                      -draw "line 8,24 56,24" -draw "line 8,40 56,40"
axis() {  # name, horizontal letter, vertical letter
  draw "$1" -fill none -stroke "$A" -draw "line 14,50 54,50" -draw "line 14,50 14,10" \
       -fill "$A" -draw "polygon 54,44 62,50 54,56" -draw "polygon 8,10 14,2 20,10" \
       -stroke none -fill "$W" -font /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf -pointsize 18 -draw "text 38,42 '$2'" -draw "text 20,24 '$3'"
}
axis icon_xy_axis X Y
axis icon_yz_axis Y Z
axis icon_zx_axis Z X
draw icon_birds_eye    -fill none -stroke "$A" -draw "ellipse 32,20 16,8 0,360" -draw "line 32,30 32,40" \
                      -fill "$A" -draw "polygon 26,38 38,38 32,46" -fill none -stroke "$W" -strokewidth 3 \
                      -draw "polygon 8,56 20,46 56,46 44,56"
draw icon_projection  -fill none -stroke "$A" -draw "rectangle 6,18 26,38" -draw "rectangle 14,26 34,46" \
                      -draw "line 6,18 14,26" -draw "line 26,18 34,26" -draw "line 26,38 34,46" -draw "line 6,38 14,46" \
                      -stroke "$W" -strokewidth 3 -draw "polygon 40,20 58,14 58,50 40,44"
draw icon_reset_view  -fill none -stroke "$A" -draw "arc 12,12 52,52 60,360" -fill "$A" -draw "polygon 38,8 52,16 40,26" \
                      -draw "circle 32,32 32,27"
draw icon_clear_picks -fill "$A" -draw "circle 16,40 16,34" -draw "circle 48,24 48,18" -fill none -stroke "$A" \
                      -draw "line 16,40 48,24" -stroke "$R" -strokewidth 5 -draw "line 10,10 54,54" -draw "line 54,10 10,54"
# Application icon: a lens with three scan lines.
convert -size 64x64 xc:none -fill '#263238' -stroke "$A" -strokewidth 4 -draw "roundrectangle 4,4 60,60 12,12" \
        -fill none -draw "line 16,22 48,22" -draw "line 16,32 48,32" -draw "line 16,42 48,42" \
        -define icon:auto-resize=64,32,16 velkor_logo.ico
