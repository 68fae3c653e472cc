#!/usr/bin/env bash
# Prepares a fresh Debian 12 machine (as root) for building and testing: packages,
# dependency sources under build/deps and a Wine prefix under build/wineprefix.
# Safe to run again: every step checks what is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/deps"

packages=(
  cmake make g++ clang ccache
  libclang-rt-14-dev  # libFuzzer and clang's sanitizer runtimes (only recommended by clang)
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-utils xdotool fonts-wqy-microhei imagemagick
  fonts-wine  # the symbol font of caption buttons (marlett), linked into the Wine prefixes
  fonts-dejavu-core  # the skin's title lettering (tools/skin)
  lzma-dev googletest dpkg-dev
  nginx-light python3 curl openssl
  libssl-dev  # libcrypto: velm-publish signs releases with it (native build only)
  bsdiff xdelta3 zstd xz-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/velm-deb-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  # pugixml is compiled from its Debian sources into both builds.
  cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# nginx is started by the tests themselves on a loopback port; the packaged service is not needed.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now nginx >/dev/null 2>&1 || true; fi

fetch_source() { # package, folder name it unpacks to
  local pkg=$1 dir=$2
  [ -d "$deps/$dir" ] && return 0
  mkdir -p "$deps"
  (cd "$deps" && apt-get source -q "$pkg" >/dev/null 2>&1 ||
     { apt-get update -q >/dev/null && apt-get source -q "$pkg"; })
  [ -d "$deps/$dir" ] || { echo "setup: apt-get source $pkg did not give $deps/$dir" >&2; exit 1; }
}
fetch_source pugixml pugixml-1.13

"$root/scripts/wine-prefix.sh"
echo "setup: done"
