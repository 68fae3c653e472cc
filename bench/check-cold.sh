#!/usr/bin/env bash
# Checking an installation with no hash cache: the update engine's check phase hashes
# every file (BENCH_COLD_MIB MiB, default 2048, in 4 MiB files) against md5sum over the
# same files in the same run. Both read from the page cache (the files are read once
# before either is measured); best of 2.
source "$(dirname "$0")/lib/check-bench-build.bash"
mib=${BENCH_COLD_MIB:-2048}
work=$(mktemp -d /tmp/velm-bench-cold.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$mib" <<'PY'
import os, sys
work, mib = sys.argv[1], int(sys.argv[2])
block = os.urandom(4 << 20)
for i in range(mib // 4):
    with open(os.path.join(work, "c\\d%02d\\f%04d.pak" % (i % 16, i)), "wb") as f:
        f.write(i.to_bytes(8, "little") + block[8:])
PY
cd "$work"
"$CHECK_BENCH" prepare "$work/c" "$work/list.xml" "$work/cache.xml" 2>/dev/null
find "$work" -maxdepth 1 -name 'c\\*' -print0 | xargs -0 cat >/dev/null
best_ours=""; best_peer=""
for round in 1 2; do
  rm -f "$work/cache.xml"
  read -r ours jobs <<<"$("$CHECK_BENCH" check "$work/c" "$work/list.xml" "$work/cache.xml")"
  [ "$jobs" = 0 ] || { echo "check-cold: $jobs jobs planned for a current installation" >&2; exit 1; }
  start=$(date +%s.%N)
  find "$work" -maxdepth 1 -name 'c\\*' -print0 | xargs -0 md5sum >/dev/null
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  best_ours=$(python3 -c "print(min(x for x in [$ours, ${best_ours:-1e9}]))")
  best_peer=$(python3 -c "print(min(x for x in [$peer, ${best_peer:-1e9}]))")
done
echo "check-cold: ours/peer = $(python3 -c "print(f'{$best_ours/$best_peer:.2f}')") (ours $(printf %.2f "$best_ours") s, peer $(printf %.2f "$best_peer") s, check of $mib MiB with an empty hash cache vs md5sum over the same files)"
