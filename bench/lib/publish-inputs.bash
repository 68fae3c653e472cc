# Sourced by bench/diff-size.sh, diff-time.sh and lzma.sh: builds an optimised
# velm-publish (no sanitizers) and prepares the input pairs outside git:
#   - real consecutive versions of Debian shared libraries (apt-get download NAME=VERSION
#     of two versions the configured suites both carry, unpacked with dpkg-deb -x)
#   - a synthetic 64 MiB "game data" pair with scattered edits
# Sets PUBLISH (the tool) and PAIRS (lines "name old new").
set -euo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
inputs="$bench_root/build/bench-inputs"
bench_build="$bench_root/build/bench-publish"
mkdir -p "$inputs/debs" "$inputs/pairs"

if [ ! -x "$bench_build/velm-publish" ] || [ -n "$(find "$bench_root/src" "$bench_root/tools" -newer "$bench_build/velm-publish" -name '*.[ch]*' | head -1)" ]; then
  cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DVELM_SANITIZE=OFF \
        -DVELM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$bench_build" -j2 --target velm-publish >/dev/null
fi
PUBLISH="$bench_build/velm-publish"

# package old-version new-version, then the library files to compare
debian_pairs=(
  "libssl3 3.0.20-1~deb12u2 3.0.22-1~deb12u2 usr/lib/x86_64-linux-gnu/libcrypto.so.3 usr/lib/x86_64-linux-gnu/libssl.so.3"
  "libc6 2.36-9+deb12u7 2.36-9+deb12u14 lib/x86_64-linux-gnu/libc.so.6"
  "libglib2.0-0 2.74.6-2+deb12u2 2.74.6-2+deb12u9 usr/lib/x86_64-linux-gnu/libglib-2.0.so.0.7400.6 usr/lib/x86_64-linux-gnu/libgio-2.0.so.0.7400.6"
  "libcurl4 7.88.1-10+deb12u5 7.88.1-10+deb12u15 usr/lib/x86_64-linux-gnu/libcurl.so.4.8.0"
  "libgs10 10.0.0~dfsg-11+deb12u8 10.0.0~dfsg-11+deb12u9 usr/lib/x86_64-linux-gnu/libgs.so.10.00"
  "libperl5.36 5.36.0-7+deb12u3 5.36.0-7+deb12u4 usr/lib/x86_64-linux-gnu/libperl.so.5.36.0"
  "libpoppler126 22.12.0-2+deb12u2 22.12.0-2+deb12u3 usr/lib/x86_64-linux-gnu/libpoppler.so.126.0.0"
  "libpython3.11 3.11.2-6+deb12u8 3.11.2-6+deb12u9 usr/lib/x86_64-linux-gnu/libpython3.11.so.1.0"
  "libsystemd0 252.38-1~deb12u1 252.39-1~deb12u2 usr/lib/x86_64-linux-gnu/libsystemd.so.0.35.0"
  "libxml2 2.9.14+dfsg-1.3~deb12u4 2.9.14+dfsg-1.3~deb12u6 usr/lib/x86_64-linux-gnu/libxml2.so.2.9.14"
)

unpack() {  # package version -> folder
  local dir="$inputs/debs/$1_$2"
  if [ ! -d "$dir" ]; then
    (cd "$inputs/debs" && ls "$1_${2//:/%3a}"_*.deb >/dev/null 2>&1 || apt-get download "$1=$2" >/dev/null)
    dpkg-deb -x "$inputs/debs/$1_${2//:/%3a}"_*.deb "$dir"
  fi
  echo "$dir"
}

PAIRS=""
for pair in "${debian_pairs[@]}"; do
  read -r package old new files <<<"$pair"
  old_dir=$(unpack "$package" "$old") || continue
  new_dir=$(unpack "$package" "$new") || continue
  for f in $files; do
    [ -f "$old_dir/$f" ] && [ -f "$new_dir/$f" ] || continue
    PAIRS+="$(basename "$f") $old_dir/$f $new_dir/$f"$'\n'
  done
done

game_old="$inputs/pairs/game-data.old"
game_new="$inputs/pairs/game-data.new"
if [ ! -f "$game_new" ]; then
  python3 - "$game_old" "$game_new" <<'PY'
import random, sys
rng = random.Random(64)
# Game-like data: compressible tables, meshes (noise) and zero padding, 64 MiB.
parts = []
size = 0
while size < 64 << 20:
    kind = rng.random()
    n = rng.randrange(4096, 262144)
    if kind < 0.35:
        block = rng.randbytes(n)
    elif kind < 0.75:
        row = rng.randbytes(rng.randrange(16, 128))
        block = bytes(b ^ (i & 3) for i, b in enumerate(row * (n // len(row) + 1)))[:n]
    else:
        block = bytes(n)
    parts.append(block)
    size += n
old = bytearray(b"".join(parts)[:64 << 20])
new = bytearray(old)
# Scattered edits: patched records, a few insertions and deletions, one moved block.
for _ in range(400):
    at = rng.randrange(len(new) - 4096)
    new[at:at + rng.randrange(1, 256)] = rng.randbytes(rng.randrange(1, 256))
for _ in range(20):
    at = rng.randrange(len(new))
    new[at:at] = rng.randbytes(rng.randrange(1000, 20000))
moved = bytes(new[1 << 20:(1 << 20) + 500000])
del new[1 << 20:(1 << 20) + 500000]
new[40 << 20:40 << 20] = moved
open(sys.argv[1], "wb").write(old)
open(sys.argv[2], "wb").write(new)
PY
fi
PAIRS+="game-data-64MiB $game_old $game_new"$'\n'
