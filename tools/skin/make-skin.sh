#!/usr/bin/env bash
# Draws the launcher's skin: every bitmap of the main window and the hint windows, as
# 24-bit BMP files named by resource id, into OUTDIR (docs/skin.md).
#
#   make-skin.sh OUTDIR
#
# Needs ImageMagick and the WenQuanYi Micro Hei and DejaVu fonts (Debian packages
# imagemagick, fonts-wqy-microhei, fonts-dejavu-core). Magenta #FF00FF is the transparent
# colour; shapes are cut with a hard edge against it, so no pink fringe survives.
# One palette, light from above: gradients run light to dark downwards, top edges carry a
# highlight and bottom edges a shadow.
set -euo pipefail

out=${1:?usage: make-skin.sh OUTDIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
serif=/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf
for font in "$cjk" "$serif"; do
  [ -f "$font" ] || { echo "make-skin.sh: missing font $font" >&2; exit 1; }
done

# Palette.
night_top='#1b2540'; night_bottom='#06090f'
panel='#0b111e'; panel_edge='#2c3650'
gold='#d6ae5c'; gold_light='#f6dc98'; gold_dark='#6e5224'
ember_top='#f59a45'; ember_bottom='#b3461a'
steel_top='#3f5079'; steel_bottom='#1a233b'
cream='#f8ecd2'; ink_shadow='#1a0d05'
grey_top='#5b5f68'; grey_bottom='#3a3d44'; grey_ink='#9a9ca3'

# Hard-edges the alpha and puts the picture on magenta as a 24-bit BMP.
finish() {
  convert "$1" -channel A -threshold 50% +channel -background '#FF00FF' -alpha remove \
    -alpha off -type TrueColor "BMP3:$2"
}

# One face of a rounded button:
# face W H RADIUS TOP BOTTOM BORDER INK SIZE TEXT DY GLOSS OUT
face() {
  local w=$1 h=$2 r=$3 top=$4 bottom=$5 border=$6 ink=$7 size=$8 text=$9 dy=${10} gloss=${11} out=${12}
  local args=() weight=0
  # Large labels get a touch of weight; small ones stay crisp.
  [ "$size" -ge 20 ] && weight=0.5
  if [ -n "$text" ]; then
    args=(-font "$cjk" -pointsize "$size" -gravity center -stroke none
          -fill "$ink_shadow" -annotate "+0+$((dy + 1))" "$text"
          -fill "$ink" -stroke "$ink" -strokewidth "$weight" -annotate "+0+$dy" "$text")
  fi
  convert -size "${w}x${h}" gradient:"$top-$bottom" \
    \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $r,$r" \) \
    -alpha off -compose CopyOpacity -composite \
    \( -size "${w}x$((h / 2))" gradient:"rgba(255,255,255,$gloss)-rgba(255,255,255,0)" \) \
    -geometry +0+1 -compose ATop -composite -compose Over \
    -fill none -stroke "$border" -strokewidth 1 \
    -draw "roundrectangle 0.5,0.5 $((w - 1)).5,$((h - 1)).5 $r,$r" \
    -stroke 'rgba(255,244,214,0.45)' -draw "line $r,1.5 $((w - r - 1)),1.5" \
    -stroke 'rgba(0,0,0,0.35)' -draw "line $r,$((h - 2)).5 $((w - r - 1)),$((h - 2)).5" \
    "${args[@]}" "$out"
}

# A strip of four faces (normal, hover, pushed, disabled) with the skin's looks:
# strip ID W H RADIUS SIZE TEXT KIND   (KIND: ember or steel)
strip() {
  local id=$1 w=$2 h=$3 r=$4 size=$5 text=$6 kind=$7
  local top=$steel_top bottom=$steel_bottom hover_top='#556a9c' hover_bottom='#253257'
  local push_top='#151c30' push_bottom='#2b3858' ink=$cream hover_ink=$gold_light
  if [ "$kind" = ember ]; then
    top=$ember_top bottom=$ember_bottom hover_top='#ffb866' hover_bottom='#cf5a22'
    push_top='#8f3612' push_bottom='#d9772f' ink='#fff6e4' hover_ink='#ffffff'
  fi
  face "$w" "$h" "$r" "$top" "$bottom" "$gold" "$ink" "$size" "$text" 0 0.28 "$work/$id-0.png"
  face "$w" "$h" "$r" "$hover_top" "$hover_bottom" "$gold_light" "$hover_ink" "$size" "$text" 0 0.38 "$work/$id-1.png"
  face "$w" "$h" "$r" "$push_top" "$push_bottom" "$gold_dark" "$ink" "$size" "$text" 1 0.0 "$work/$id-2.png"
  face "$w" "$h" "$r" "$grey_top" "$grey_bottom" '#6c6f76' "$grey_ink" "$size" "$text" 0 0.12 "$work/$id-3.png"
  convert "$work/$id-0.png" "$work/$id-1.png" "$work/$id-2.png" "$work/$id-3.png" +append "$work/$id.png"
  finish "$work/$id.png" "$out/$id.bmp"
}

# Small title-bar buttons draw a glyph instead of text:
# glyph_strip ID W H DRAW HOVER_FILL
glyph_strip() {
  local id=$1 w=$2 h=$3 draw=$4 hover=$5 i=0
  local fills=("$panel" "$hover" '#05080f' '#23262c') inks=("$cream" '#ffffff' "$gold" '#6c6f76')
  for i in 0 1 2 3; do
    local dy=0
    [ $i = 2 ] && dy=1
    convert -size "${w}x${h}" xc:none -fill "${fills[$i]}" -stroke "$panel_edge" -strokewidth 1 \
      -draw "roundrectangle 0.5,0.5 $((w - 1)).5,$((h - 1)).5 4,4" \
      -stroke "${inks[$i]}" -strokewidth 2 -fill none \
      -draw "translate 0,$dy $draw" "$work/$id-$i.png"
  done
  convert "$work/$id-0.png" "$work/$id-1.png" "$work/$id-2.png" "$work/$id-3.png" +append "$work/$id.png"
  finish "$work/$id.png" "$out/$id.bmp"
}

# Buttons of the main window.
strip 228 135 69 12 26 '更新' ember
strip 227 135 69 12 24 '开始游戏' ember
strip 226 135 69 12 26 '取消' steel
strip 222 97 32 7 13 '官方主页' steel
strip 223 97 32 7 13 '补丁下载' steel
strip 224 97 32 7 13 '账号注册' steel
strip 225 97 32 7 13 '游戏设置' steel
strip 230 30 18 5 15 '+' steel
glyph_strip 216 41 21 "line 15,6 26,15 line 26,6 15,15" '#b3261e'
glyph_strip 221 40 21 "line 14,11 26,11" '#33405f'

# Progress bar: a recessed groove and the ember fill with a gloss line.
convert -size 539x15 gradient:'#04060b-#141b2c' \
  -fill none -stroke '#000000' -draw 'line 0,0 538,0' \
  -stroke "$panel_edge" -draw 'line 0,14 538,14' "$work/220.png"
finish "$work/220.png" "$out/220.bmp"
convert -size 539x15 gradient:"#ffc070-#c24e1c" \
  -fill 'rgba(255,255,255,0.35)' -stroke none -draw 'rectangle 0,2 538,5' \
  -stroke '#7a2c0e' -draw 'line 0,14 538,14' "$work/219.png"
finish "$work/219.png" "$out/219.bmp"

# Server status lights: idle, light load, busy, full, unavailable.
lights=('#5d8fd6' '#43c463' '#e8c23a' '#e2453a' '#6b6f78')
for i in 0 1 2 3 4; do
  args=(-fill "${lights[$i]}" -stroke '#0a0d14' -strokewidth 1 -draw 'circle 5,7 5,2'
        -fill 'rgba(255,255,255,0.55)' -stroke none -draw 'circle 4,5 4,4')
  [ $i = 4 ] && args+=(-stroke '#d8dadf' -strokewidth 1 -draw 'line 3,5 7,9 line 7,5 3,9')
  convert -size 11x15 xc:none "${args[@]}" "$work/236-$i.png"
done
convert "$work"/236-{0,1,2,3,4}.png +append "$work/236.png"
finish "$work/236.png" "$out/236.bmp"

# Server badges: "新" (new server) and "荐" (recommended), 21 frames each, a glint
# sweeping across the badge.
badge() {
  local first=$1 text=$2 top=$3 bottom=$4 i
  for i in $(seq 0 20); do
    local x=$((i * 2 - 8))
    convert -size 18x16 gradient:"$top-$bottom" \
      \( -size 18x16 xc:black -fill white -draw 'roundrectangle 0,0 17,15 4,4' \) \
      -alpha off -compose CopyOpacity -composite -compose Over \
      \( -size 18x16 xc:none -fill 'rgba(255,255,255,0.55)' \
         -draw "polygon $x,15 $((x + 4)),15 $((x + 10)),0 $((x + 6)),0" \) -compose ATop -composite \
      -compose Over -fill none -stroke "$gold_light" -strokewidth 1 -draw 'roundrectangle 0.5,0.5 16.5,14.5 4,4' \
      -font "$cjk" -pointsize 12 -gravity center -stroke none -fill "$ink_shadow" -annotate +0+1 "$text" \
      -fill '#ffffff' -annotate +0+0 "$text" "$work/237-$((first + i)).png"
  done
}
badge 0 '新' '#ff6a3d' '#b8260f'
badge 21 '荐' '#5fc46a' '#1f7a34'
convert $(for i in $(seq 0 41); do echo "$work/237-$i.png"; done) +append "$work/237.png"
finish "$work/237.png" "$out/237.bmp"

# Server rows: normal (a separator only), hover, selected.
convert -size 163x23 xc:none -stroke '#263049' -draw 'line 4,22 158,22' "$work/238-0.png"
convert -size 163x23 gradient:'#2e3b5e-#1b2440' -stroke '#3d4b72' -draw 'line 0,22 162,22' \
  -stroke "$gold" -draw 'line 0,0 0,22' "$work/238-1.png"
convert -size 163x23 gradient:'#d27a34-#8d3a15' -fill none -stroke "$gold_light" \
  -draw 'rectangle 0,0 162,22' "$work/238-2.png"
convert "$work"/238-{0,1,2}.png +append "$work/238.png"
finish "$work/238.png" "$out/238.bmp"

# Hints: the same picture in red, then in yellow, with a dark outline for contrast.
hint_frames() {
  local id=$1 w=$2 h=$3 draw=$4 text=$5 tx=$6 ty=$7 i=0
  for colour in '#ff3b30' '#ffd60a'; do
    local args=()
    [ -n "$text" ] && args=(-font "$cjk" -pointsize 14 -stroke '#1a0a04' -strokewidth 3
                            -fill '#1a0a04' -annotate "+$tx+$ty" "$text"
                            -stroke none -fill "$colour" -annotate "+$tx+$ty" "$text")
    convert -size "${w}x${h}" xc:none -stroke '#1a0a04' -strokewidth 5 -fill none -draw "$draw" \
      -stroke "$colour" -strokewidth 3 -draw "$draw" "${args[@]}" "$work/$id-$i.png"
    i=$((i + 1))
  done
  convert "$work/$id-0.png" "$work/$id-1.png" +append "$work/$id.png"
  finish "$work/$id.png" "$out/$id.bmp"
}
hint_frames 258 182 70 \
  "roundrectangle 2,47 179,67 3,3 line 112,18 112,38 polyline 106,32 112,39 118,32" \
  '请选择' 54 31
hint_frames 259 66 21 "line 45,10 61,10 polyline 56,5 62,10 56,15" '请选择' 1 16
hint_frames 260 182 236 "roundrectangle 2,2 179,233 3,3" '' 0 0

bash "$(dirname "$0")/make-background.sh" "$out/218.bmp" "$work"
