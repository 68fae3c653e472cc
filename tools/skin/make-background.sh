#!/usr/bin/env bash
# Draws the main window's background (746 x 580) into OUT.bmp, using WORKDIR for the
# intermediate pictures; called by make-skin.sh with its palette's colours.
#
# The places below are the main window's controls in pixels (dialog units scaled to the
# 746 x 580 client area): the news page at 9,77 539x320, the realm and server lists at
# 559,78 and 559,103 181x230, the status and progress texts and bars at 9,402..510, the
# versions at 489..741,421, the main button at 587,446 and the link buttons at y 540.
# The corners outside the rounded border are magenta, so the window gets round corners.
set -euo pipefail
target=${1:?usage: make-background.sh OUT.bmp WORKDIR}
work=${2:?usage: make-background.sh OUT.bmp WORKDIR}
cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
serif=/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf

# Sky: night blue, lighter at the top, an ember glow rising behind the title.
convert -size 746x580 gradient:'#1b2540-#06090f' \
  \( -size 520x300 radial-gradient:'rgba(240,120,40,0.38)-rgba(240,120,40,0)' \) -geometry -90-120 -composite \
  \( -size 360x220 radial-gradient:'rgba(120,150,230,0.16)-rgba(120,150,230,0)' \) -geometry +480-70 -composite \
  "$work/bg-sky.png"

# Sparks drifting up from the glow, from a fixed seed so every build draws the same.
sparks=$(awk 'BEGIN { srand(7); for (i = 0; i < 60; i++) {
  x = int(rand() * 520); y = int(rand() * 70 + 2); r = rand() * 1.4 + 0.4; a = rand() * 0.6 + 0.2;
  printf "fill rgba(255,%d,80,%.2f) circle %d,%d %.1f,%d ", 150 + int(rand() * 80), a, x, y, x + r, y } }')

# Ridge of far mountains along the bottom of the title band.
ridge="polygon 0,74 0,58 40,50 70,56 110,40 150,52 190,44 230,58 280,46 330,54 380,38 420,50 470,42 520,56 560,48 610,58 660,44 700,52 746,46 746,74"

convert "$work/bg-sky.png" \
  -draw "$sparks" \
  -fill 'rgba(8,12,22,0.85)' -stroke none -draw "$ridge" \
  -fill 'rgba(4,6,12,0.55)' -draw 'rectangle 0,74 746,580' \
  -fill none -stroke '#6e5224' -draw 'line 0,73 746,73' -stroke 'rgba(246,220,152,0.35)' -draw 'line 0,74 746,74' \
  \
  -fill '#0b111e' -stroke '#2c3650' -draw 'roundrectangle 5,73 552,401 4,4' \
  -fill none -stroke '#6e5224' -draw 'rectangle 7,75 550,399' \
  -stroke '#d6ae5c' -draw 'line 12,75 545,75' \
  \
  -fill '#0b111e' -stroke '#2c3650' -draw 'roundrectangle 555,73 742,362 4,4' \
  -fill none -stroke '#6e5224' -draw 'rectangle 557,75 740,360' \
  -stroke '#d6ae5c' -draw 'line 562,75 735,75' \
  -stroke '#263049' -draw 'line 561,337 736,337' \
  -fill 'rgba(214,174,92,0.10)' -stroke none -draw 'rectangle 558,338 739,359' \
  \
  -fill 'rgba(11,17,30,0.75)' -stroke '#2c3650' -draw 'roundrectangle 5,403 742,522 4,4' \
  -fill '#05080f' -stroke '#1d2538' -draw 'rectangle 8,443 554,461' -draw 'rectangle 8,492 554,510' \
  \
  \( -size 240x240 radial-gradient:'rgba(245,154,69,0.45)-rgba(245,154,69,0)' -resize '240x110!' \) -geometry +535+410 -composite \
  -fill 'rgba(0,0,0,0.45)' -stroke none -draw 'roundrectangle 585,448 724,519 12,12' \
  \
  -fill '#05080f' -stroke none -draw 'rectangle 1,528 745,579' \
  -stroke '#6e5224' -draw 'line 1,528 745,528' -stroke 'rgba(246,220,152,0.30)' -draw 'line 1,529 745,529' \
  -fill 'rgba(0,0,0,0.5)' -stroke none -draw 'roundrectangle 326,538 733,575 6,6' \
  \
  -font "$serif" -pointsize 34 -stroke '#1a0d05' -strokewidth 4 -fill '#1a0d05' -annotate +22+50 'EMBERLY' \
  -stroke none -fill '#f6dc98' -annotate +22+50 'EMBERLY' \
  -fill 'rgba(160,100,30,0.55)' -annotate +22+51 'EMBERLY' -fill '#f6dc98' -annotate +22+49 'EMBERLY' \
  -font "$cjk" -pointsize 13 -fill '#d6ae5c' -annotate +232+48 '游戏启动器' \
  -pointsize 11 -fill '#7f89a3' \
  -annotate +14+548 '抵制不良游戏，拒绝盗版游戏。注意自我保护，谨防受骗上当。' \
  -annotate +14+566 '适度游戏益脑，沉迷游戏伤身。合理安排时间，享受健康生活。' \
  \
  "$work/bg-art.png"

# Round outer corners: everything outside the border is magenta.
convert "$work/bg-art.png" \
  \( -size 746x580 xc:black -fill white -draw 'roundrectangle 0,0 745,579 9,9' \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -fill none -stroke '#d6ae5c' -strokewidth 1 -draw 'roundrectangle 0.5,0.5 744.5,578.5 9,9' \
  -channel A -threshold 50% +channel -background '#FF00FF' -alpha remove -alpha off \
  -type TrueColor "BMP3:$target"
