#!/usr/bin/env bash
# Checking an up-to-date installation with a warm hash cache: the update engine's check
# phase (cache load, list read, every entry planned) over BENCH_FILES files (default
# 20000) against a bare walk that asks every file for its size and last-write time, in the
# same run, on both sides the players' check runs on:
#   native  check_bench against find -printf '%s %T@' over the same files;
#   Wine    the Windows build of check_bench against a FindFirstFileW/GetFileAttributesExW
#           walk of the same tree (bench/stat_walk_bench_win32.cpp), both under Wine.
# Every file is current and cached, so the check must read no file contents. Times are
# taken inside each program (no process or Wine start-up); best of BENCH_ROUNDS (default
# 5) each. The last line gives the larger of the two ratios. BENCH_WINE=0 leaves Wine out.
source "$(dirname "$0")/lib/check-bench-build.bash"
files=${BENCH_FILES:-20000}
rounds=${BENCH_ROUNDS:-5}
wine=${BENCH_WINE:-1}
[ "$wine" = 0 ] || source "$(dirname "$0")/lib/check-bench-win.bash"
source "$(dirname "$0")/lib/check-bench-run.bash"
bench=check-warm
forbid_hashing=1
work=$(mktemp -d /tmp/velm-bench-warm.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The installation as a tree (c/d000/f00000.dat, for Wine) and the same files under the
# list's own names (c\d000\f00000.dat, one name each on Linux) as hard links.
python3 - "$work" "$files" <<'PY'
import os, sys
work, files = sys.argv[1], int(sys.argv[2])
for i in range(files):
    # 200 folders of names, sizes from a few bytes to 16 KiB, as a client's small files
    folder = os.path.join(work, "c", "d%03d" % (i % 200))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "f%05d.dat" % i)
    with open(path, "wb") as f:
        f.write(os.urandom(16 + (i * 7919) % 16384))
    os.link(path, os.path.join(work, "c\\d%03d\\f%05d.dat" % (i % 200, i)))
PY
cd "$work"
"$CHECK_BENCH" prepare "$work/c" "$work/list.xml" "$work/cache.xml" 2>/dev/null
if [ "$wine" != 0 ]; then
  "$WINE_RUN" "$CHECK_BENCH_EXE" prepare "$(win "$work/c")" "$(win "$work/wine-list.xml")" \
    "$(win "$work/wine-cache.xml")" 2>/dev/null
fi

for round in $(seq "$rounds"); do
  ours=$(check_seconds "$CHECK_BENCH" check "$work/c" "$work/list.xml" "$work/cache.xml")
  start=$(date +%s.%N)
  find "$work" -maxdepth 1 -name 'c\\*' -printf '%s %T@\n' >/dev/null
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  best_ours=$(best "$ours" "${best_ours:-}")
  best_peer=$(best "$peer" "${best_peer:-}")
  if [ "$wine" != 0 ]; then
    ours=$(check_seconds "$WINE_RUN" "$CHECK_BENCH_EXE" check "$(win "$work/c")" "$(win "$work/wine-list.xml")" \
      "$(win "$work/wine-cache.xml")")
    read -r peer walked <<<"$("$WINE_RUN" "$STAT_WALK_EXE" "$(win "$work/c")" 2>/dev/null | tr -d '\r')"
    [ "$walked" = "$files" ] || { echo "check-warm: the walk found $walked files" >&2; exit 1; }
    best_wine_ours=$(best "$ours" "${best_wine_ours:-}")
    best_wine_peer=$(best "$peer" "${best_wine_peer:-}")
  fi
done
report "find -printf" "FindFirstFileW/GetFileAttributesExW walk" \
  "warm check of $files current files vs a bare walk of their sizes and times, best of $rounds"
