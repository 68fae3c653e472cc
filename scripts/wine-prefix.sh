#!/usr/bin/env bash
# Creates the Wine prefix the tests and the demo run in (once per build tree) and links a
# CJK font for the dialog fonts, so that the Chinese texts of the launcher are readable.
# Captions and message boxes are set in "MS Shell Dlg" with the default character set:
# Wine's defaults name the ANSI set, which the font link does not reach (boxes instead
# of Chinese).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${VELM_WINEPREFIX:-$root/build/wineprefix}"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The caption buttons of windows and message boxes draw their glyphs with Wine's own symbol
# font, Marlett (Debian's fonts-wine); without it they show letters ("0", "1", "r") in
# screenshots. Copied into the prefix, so prefixes made before it was installed get it too.
symbol_font() {
  local font
  for font in /usr/share/wine/fonts/marlett.ttf /usr/share/fonts/truetype/wine/marlett.ttf; do
    if [ -f "$font" ]; then
      mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
      cp -f "$font" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
      return 0
    fi
  done
  echo "setup: Wine's symbol font marlett.ttf is missing (install fonts-wine)" >&2
}
if [ -f "$WINEPREFIX/.velm-ready" ]; then
  [ -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] || symbol_font
  exit 0
fi
mkdir -p "$(dirname "$WINEPREFIX")"
echo "setup: creating Wine prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
cp -f "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
symbol_font
reg=$(mktemp --suffix=.reg)
cat > "$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"MS Shell Dlg"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"Microsoft Sans Serif"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts]
"Marlett (TrueType)"="marlett.ttf"
[HKEY_CURRENT_USER\Control Panel\Desktop\WindowMetrics]
"CaptionFont"=hex:f5,ff,ff,ff,00,00,00,00,00,00,00,00,00,00,00,00,bc,02,00,00,00,00,00,01,00,00,00,22,4d,00,53,00,20,00,53,00,68,00,65,00,6c,00,6c,00,20,00,44,00,6c,00,67,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
"MessageFont"=hex:f5,ff,ff,ff,00,00,00,00,00,00,00,00,00,00,00,00,90,01,00,00,00,00,00,01,00,00,00,22,4d,00,53,00,20,00,53,00,68,00,65,00,6c,00,6c,00,20,00,44,00,6c,00,67,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
REG
wine regedit "$reg" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
touch "$WINEPREFIX/.velm-ready"
