#!/usr/bin/env bash
# Takes PNG pictures of the launcher's windows for people to look at:
#
#   scripts/screenshots.sh [OUTDIR]      (default build/screenshots)
#
# Each picture comes from a program of the Windows build (VELM_BUILD_DIR, default
# build/win) that puts one window on screen under Wine and writes its screen rectangle
# to a file; the X server's own picture of that rectangle is saved. The main window's
# pictures come from the real launcher running against loopback servers (nginx and the
# fault server over the release fixture of the update tests, made in the build tree when
# it has none). Without a DISPLAY a private Xvfb is started and stopped again. The
# pictures are taken in a Wine prefix of their own (build/screenshot-wineprefix, made on
# first use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/screenshots}
build=${VELM_BUILD_DIR:-$root/build/win}
mkdir -p "$out"

winpath() { printf 'Z:%s' "${1//\//\\}"; }

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 140 180); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
fi

# shot NAME PROGRAM ARGS...: PROGRAM is started with READYFILE appended to ARGS... after
# its first argument, as the gallery programs expect (WHAT READYFILE ...). A program that
# needs servers is started through the command in the array runner.
runner=()
shot() {
  local name=$1 program=$2 what=$3
  shift 3
  if [ ! -f "$program" ]; then
    echo "screenshots: $program is missing; build it first (cmake --build $build --target $(basename "$program" .exe))" >&2
    return 1
  fi
  local ready
  ready=$(mktemp -u "${TMPDIR:-/tmp}/velm-shot-XXXXXX")
  "${runner[@]}" "$root/scripts/wine-run" "$program" "$what" "$(winpath "$ready")" "$@" &
  local pid=$!
  for _ in $(seq 600); do [ -s "$ready" ] && break; sleep 0.1; done
  if [ ! -s "$ready" ]; then
    echo "screenshots: $name did not come up" >&2
    # A served program gives up by itself, and its runner then stops the servers.
    if [ ${#runner[@]} -eq 0 ]; then kill "$pid" 2>/dev/null || true; else wait "$pid" || true; fi
    return 1
  fi
  local x y w h
  read -r x y w h < "$ready"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
  rm -f "$ready"
  wait "$pid" || true
  echo "screenshots: $out/$name.png"
}

# A prefix of its own in which Wine draws the window frames itself: with no window manager
# on the X server, managed windows would show without their title bars.
export VELM_WINEPREFIX=${VELM_SCREENSHOT_WINEPREFIX:-$root/build/screenshot-wineprefix}
if [ ! -f "$VELM_WINEPREFIX/.velm-unmanaged" ]; then
  "$root/scripts/wine-prefix.sh"
  "$root/scripts/wine-run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  WINEPREFIX=$VELM_WINEPREFIX wineserver -k || true
  touch "$VELM_WINEPREFIX/.velm-unmanaged"
fi

gallery=$build/velm_ui_gallery.exe
fixtures=$(winpath "$root/tests/game/fixtures")
shot settings "$gallery" settings "$fixtures"
shot errors "$gallery" errors
shot hints "$gallery" hints

# The main window during an update, after it (servers listed, a realm and a server
# chosen) and after a failed run with its error list.
www=$build/update_www
if [ ! -f "$www/releases/manifest.json" ]; then
  python3 "$root/tests/tools/make_releases.py" --tool "$build/velm-publish.exe" \
    --runner "$root/scripts/wine-run" --out "$www/releases" --base-url http://127.0.0.1:1/releases/patch
fi
export VELM_BINARY_DIR=$build
runner=(python3 "$root/tests/servers/serve.py" --nginx "$www" --fault "$www" --record --)
main_gallery=$build/velm_main_window_gallery.exe
shot main-updating "$main_gallery" updating
shot main-updated "$main_gallery" updated
shot main-failed "$main_gallery" failed
runner=()

# Every strip of the skin with all its frames (normal, hover, pushed, disabled for the
# buttons), on grey so that the magenta shows as transparent.
skin=$build/src/ui/res/skin
if [ -d "$skin" ]; then
  strips=$(mktemp -d)
  for id in 228 227 226 222 223 224 225 216 221 230 236 237 238 219 220 259 258 260; do
    convert "$skin/$id.bmp" -fill '#5a5a5a' -opaque '#FF00FF' -background '#5a5a5a' -splice 44x6 \
      -gravity west -font DejaVu-Sans -pointsize 12 -fill white -annotate +6+3 "$id" "$strips/$id.png"
  done
  convert $(for id in 228 227 226 222 223 224 225 216 221 230 236 237 238 219 220 259 258 260; do
              echo "$strips/$id.png"; done) -background '#5a5a5a' -append "$out/skin-strips.png"
  rm -rf "$strips"
  echo "screenshots: $out/skin-strips.png"
fi
