#!/usr/bin/env bash
# Applying an update package: every entry of a BENCH_PACKAGE_MIB MiB package (default
# 1024; half LZMA-compressed game-like data, half stored incompressible data) extracted
# by the launcher's reader (PackFile::ExtractFile: decode or copy, write, set the time)
# against `xz --format=lzma -d` of the same LZMA streams plus `cp` of the stored files, in
# the same run, with warm caches; best of 3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BENCH_BUILD_DIR:-$root/build/bench-package}"
mib=${BENCH_PACKAGE_MIB:-1024}
bench="$build/package_bench"
if [ ! -x "$bench" ] || [ -n "$(find "$root/src" "$root/bench/package_bench.cpp" -newer "$bench" \
      -name '*.[ch]*' | head -1)" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELM_SANITIZE=OFF \
        -DVELM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target velm_formats >/dev/null
  g++ -std=c++17 -O2 -I"$root/src" "$root/bench/package_bench.cpp" \
      "$build/src/formats/libvelm_formats.a" \
      "$build/src/common/libvelm_common.a" "$build/libpugixml.a" "$build/liblzma_sdk.a" \
      -o "$bench"
fi
work=$(mktemp -d /tmp/velm-bench-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/peer" "$work/streams"
python3 - "$work/in" "$mib" <<'PY'
import os, random, sys
folder, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(11)
files = max(2, mib // 32)
size = (mib << 20) // files
for i in range(files):
    if i % 2:
        data = rng.randbytes(size)  # already compressed media: stored
        name = "f%03d.stored" % i
    else:
        out = bytearray()
        while len(out) < size:
            n = rng.randrange(256, 4096)
            out += rng.randbytes(n // 8) if rng.random() < 0.4 else bytes([rng.randrange(4)]) * n
        data = bytes(out[:size])
        name = "f%03d.dat" % i
    open(os.path.join(folder, name), "wb").write(data)
PY
"$bench" build "$work/package.bin" "$work/in"
# The peer's inputs: each LZMA entry as a stand-alone ".lzma" file, the stored files as
# they are (not timed).
python3 - "$work/package.bin" "$work/streams" "$work/in" <<'PY'
import mmap, os, shutil, struct, sys
pack, streams, source = sys.argv[1:4]
data = open(pack, "rb")
blob = mmap.mmap(data.fileno(), 0, access=mmap.ACCESS_READ)
pos = 0
while pos + 12 <= len(blob):
    cid = blob[pos:pos + 4]
    size = struct.unpack("<q", blob[pos + 4:pos + 12])[0]
    if cid == b"tslf":
        p = pos + 16
        for _ in range(struct.unpack("<I", blob[pos + 12:pos + 16])[0]):
            off, fsize, ssize, flags, ftime, nlen = struct.unpack("<qqqIQi", blob[p:p + 40])
            name = blob[p + 40:p + 40 + nlen].decode("utf-16le").lstrip("\\")
            p += 40 + nlen
            if flags & 1:
                open(os.path.join(streams, name + ".lzma"), "wb").write(blob[off:off + ssize])
            else:
                shutil.copyfile(os.path.join(source, name), os.path.join(streams, name))
    pos += 12 + size
PY
sync
best_ours=""; best_peer=""
for round in 1 2 3; do
  rm -f "$work/ours/"* "$work/peer/"*
  # Each side starts with its inputs cached and nothing of the other's left to write back.
  cat "$work/package.bin" >/dev/null
  sync
  ours=$("$bench" extract "$work/package.bin" "$work/ours")
  cat "$work/streams/"* >/dev/null
  sync
  start=$(date +%s.%N)
  for f in "$work/streams/"*; do
    n=$(basename "$f")
    case "$n" in
      *.lzma) xz --format=lzma -d -c "$f" >"$work/peer/${n%.lzma}" ;;
      *) cp "$f" "$work/peer/$n" ;;
    esac
  done
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  diff -rq "$work/ours" "$work/in" >/dev/null && diff -rq "$work/peer" "$work/in" >/dev/null ||
    { echo "package: an extracted file differs from its source" >&2; exit 1; }
  best_ours=$(python3 -c "print(min(x for x in [$ours, ${best_ours:-1e9}]))")
  best_peer=$(python3 -c "print(min(x for x in [$peer, ${best_peer:-1e9}]))")
done
echo "package: ours/peer = $(python3 -c "print(f'{$best_ours/$best_peer:.2f}')") (ours $(printf %.2f "$best_ours") s, peer $(printf %.2f "$best_peer") s, every entry of a $mib MiB package extracted vs xz --format=lzma -d of its LZMA streams plus cp of its stored files)"
