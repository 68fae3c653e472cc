#!/usr/bin/env bash
# Checking an up-to-date installation with a warm hash cache: the update engine's check
# phase (cache load, list read, every entry planned, cache save) over BENCH_FILES files
# (default 20000) against a bare stat walk of the same files (find -printf) in the same
# run. Every file is current and cached, so the check must read no file contents.
source "$(dirname "$0")/lib/check-bench-build.bash"
files=${BENCH_FILES:-20000}
work=$(mktemp -d /tmp/velm-bench-warm.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$files" <<'PY'
import os, sys
work, files = sys.argv[1], int(sys.argv[2])
for i in range(files):
    # 200 folders of names, sizes from a few bytes to 16 KiB, as a client's small files
    name = "c\\d%03d\\f%05d.dat" % (i % 200, i)
    with open(os.path.join(work, name), "wb") as f:
        f.write(os.urandom(16 + (i * 7919) % 16384))
PY
cd "$work"
"$CHECK_BENCH" prepare "$work/c" "$work/list.xml" "$work/cache.xml" 2>/dev/null
best_ours=""; best_peer=""
for round in 1 2 3; do
  read -r ours jobs <<<"$("$CHECK_BENCH" check "$work/c" "$work/list.xml" "$work/cache.xml")"
  [ "$jobs" = 0 ] || { echo "check-warm: $jobs jobs planned for a current installation" >&2; exit 1; }
  start=$(date +%s.%N)
  find "$work" -maxdepth 1 -name 'c\\*' -printf '%s %T@\n' >/dev/null
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  best_ours=$(python3 -c "print(min(x for x in [$ours, ${best_ours:-1e9}]))")
  best_peer=$(python3 -c "print(min(x for x in [$peer, ${best_peer:-1e9}]))")
done
if iconv -f UTF-16LE -t UTF-8 "$work/launcher.log" 2>/dev/null | grep -q "recalc"; then
  echo "check-warm: a cached file was hashed again" >&2; exit 1
fi
echo "check-warm: ours/peer = $(python3 -c "print(f'{$best_ours/$best_peer:.2f}')") (ours $(printf %.3f "$best_ours") s, peer $(printf %.3f "$best_peer") s, warm check of $files current files vs find -printf over them, best of 3)"
