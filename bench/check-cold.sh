#!/usr/bin/env bash
# Checking an installation with no hash cache: the update engine's check phase hashes
# every file (BENCH_COLD_MIB MiB, default 2048, in 4 MiB files) against md5sum on every
# core (xargs -P$(nproc), eight files per md5sum) over the same files, in the same run:
# check_bench natively, and its Windows build under Wine, each against that peer.
#
# The page cache: every file is read once before anything is measured and the files fit
# in memory many times over, so both the check and md5sum read from the page cache, and
# what is compared is the hashing itself (MD5 on the cores there are, and the reads that
# feed it), not the disk. Times are taken inside the check (no process or Wine start-up)
# and around xargs; best of 2 each. The last line gives the larger of the two ratios.
# BENCH_WINE=0 leaves Wine out.
source "$(dirname "$0")/lib/check-bench-build.bash"
mib=${BENCH_COLD_MIB:-2048}
wine=${BENCH_WINE:-1}
[ "$wine" = 0 ] || source "$(dirname "$0")/lib/check-bench-win.bash"
source "$(dirname "$0")/lib/check-bench-run.bash"
bench=check-cold
work=$(mktemp -d /tmp/velm-bench-cold.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The installation as a tree (c/d00/f0000.pak, for Wine) and the same files under the
# list's own names (c\d00\f0000.pak, one name each on Linux) as hard links.
python3 - "$work" "$mib" <<'PY'
import os, sys
work, mib = sys.argv[1], int(sys.argv[2])
block = os.urandom(4 << 20)
for i in range(mib // 4):
    folder = os.path.join(work, "c", "d%02d" % (i % 16))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "f%04d.pak" % i)
    with open(path, "wb") as f:
        f.write(i.to_bytes(8, "little") + block[8:])
    os.link(path, os.path.join(work, "c\\d%02d\\f%04d.pak" % (i % 16, i)))
PY
cd "$work"
"$CHECK_BENCH" prepare "$work/c" "$work/list.xml" "$work/cache.xml" 2>/dev/null
if [ "$wine" != 0 ]; then
  "$WINE_RUN" "$CHECK_BENCH_EXE" prepare "$(win "$work/c")" "$(win "$work/wine-list.xml")" \
    "$(win "$work/wine-cache.xml")" 2>/dev/null
fi
find "$work/c" -type f -print0 | xargs -0 cat >/dev/null

for round in 1 2; do
  rm -f "$work/cache.xml" "$work/wine-cache.xml"
  ours=$(check_seconds "$CHECK_BENCH" check "$work/c" "$work/list.xml" "$work/cache.xml")
  start=$(date +%s.%N)
  find "$work" -maxdepth 1 -name 'c\\*' -print0 | xargs -0 -P"$(nproc)" -n 8 md5sum >/dev/null
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  best_ours=$(best "$ours" "${best_ours:-}")
  best_peer=$(best "$peer" "${best_peer:-}")
  if [ "$wine" != 0 ]; then
    ours=$(check_seconds "$WINE_RUN" "$CHECK_BENCH_EXE" check "$(win "$work/c")" "$(win "$work/wine-list.xml")" \
      "$(win "$work/wine-cache.xml")")
    best_wine_ours=$(best "$ours" "${best_wine_ours:-}")
  fi
done
best_wine_peer=$best_peer
report "xargs -P$(nproc) md5sum" "under Wine, against the native md5sum" \
  "check of $mib MiB with no hash cache vs md5sum on $(nproc) cores over the same files, all from the page cache, best of 2"
