#!/usr/bin/env bash
# Draws the default skin's images with ImageMagick. The images are kept in the repository; run
# this only to change them.
set -euo pipefail
cd "$(dirname "$0")/../Skins/Default"
top='#3b7fcf'; bottom='#2459a0'
bmp() { local out="${*: -1}"; convert "${@:1:$#-1}" -type TrueColor "BMP3:$out"; }

# Caption strip: a 3x61 gradient stretched over the caption; edges: a 3x1 slice.
convert -size 3x61 "gradient:$top-$bottom" dialog/head_line.png
bmp -size 3x1 xc:"$bottom" -fill '#1d4a86' -draw 'point 0,0' dialog/block.bmp

# Logo: a rounded white tile with a blue check mark, on the caption's colour.
bmp -size 16x16 xc:'#3070c0' -fill white -draw 'roundrectangle 0,0 15,15 3,3' \
    -stroke '#2459a0' -strokewidth 2 -fill none -draw 'polyline 3,8 7,12 13,4' dialog/logo.bmp

# Caption buttons: normal, hover, pressed side by side, on the caption's own gradient.
button() {  # name width glyph-draw hover-colour
  local name=$1 w=$2 glyph=$3 hover=$4 parts=()
  for state in normal hover pressed; do
    # The normal picture is the caption itself where the button sits (rows 1 to 19 of 31).
    local bg=(dialog/head_line.png -filter Triangle -resize "${w}x31!" -crop "${w}x19+0+0" +repage)
    [ "$state" = hover ] && bg=(-size "${w}x19" xc:"$hover")
    [ "$state" = pressed ] && bg=(-size "${w}x19" xc:'#1b467f')
    convert "${bg[@]}" -stroke white -strokewidth 1.6 -fill none -draw "$glyph" "/tmp/skin-$state.png"
    parts+=("/tmp/skin-$state.png")
  done
  bmp "${parts[@]}" +append "dialog/$name"
  rm -f "${parts[@]}"
}
button dlg_minimize_button.bmp 28 'line 9,13 19,13' '#5a95dc'
button dlg_maxmize_button.bmp 28 'rectangle 9,5 19,14' '#5a95dc'
button dlg_restore_button.bmp 28 'rectangle 8,7 16,14 polyline 11,7 11,4 19,4 19,11 16,11' '#5a95dc'
button dlg_close_btn.bmp 36 'line 13,5 23,14 line 23,5 13,14' '#d9443a'

# Navigation bar.
bar_top='#f6f8fb'; bar_bottom='#dde4ec'
bmp -size 4x27 "gradient:$bar_top-$bar_bottom" navbar/bar_back.bmp
bmp -size 27x27 "gradient:$bar_top-$bar_bottom" -stroke '#9aa8b8' -draw 'line 1,4 1,22' \
    -stroke '#3b7fcf' -strokewidth 1.4 -fill none -draw 'circle 14,13 14,6' \
    -draw 'line 7,13 21,13' -draw 'ellipse 14,13 3,7 0,360' navbar/bar_decor.bmp
navbutton() {  # name width count glyph
  local name=$1 w=$2 count=$3 glyph=$4 parts=() i
  local looks=("gradient:$bar_top-$bar_bottom" "gradient:#c9d6e6-#b3c4da" "gradient:#e4ecf6-#cddbec")
  for ((i = 0; i < count; i++)); do
    convert -size "${w}x27" "${looks[$i]}" -stroke '#2f5f9e' -strokewidth 1.8 -fill none \
        -draw "$glyph" "/tmp/nav-$i.png"
    parts+=("/tmp/nav-$i.png")
  done
  bmp "${parts[@]}" +append "navbar/$name"
  rm -f "${parts[@]}"
}
navbutton home.bmp 31 3 'polyline 8,14 15,7 22,14 polyline 10,13 10,20 20,20 20,13'
navbutton menu.bmp 30 3 'line 9,9 21,9 line 9,14 21,14 line 9,19 21,19'
# The go button: a reload mark while the address is untouched, an arrow once it is edited.
navbutton go.bmp 27 2 'arc 7,7 20,20 -60,230 polyline 19,5 19,9 15,9'
navbutton go_edited.bmp 27 2 'line 7,13 19,13 polyline 14,8 19,13 14,18'
