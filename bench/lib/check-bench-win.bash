# Sourced by bench/check-warm.sh and check-cold.sh: builds bench/check_bench.cpp and the
# bare stat walk for Windows, against the libraries of the Windows build tree (BUILD_DIR,
# default build/win: the launcher's own compiler settings), into build/bench-win, to run
# under Wine as the players' systems run the launcher. Sets CHECK_BENCH_EXE, STAT_WALK_EXE
# and WINE_RUN.
set -euo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win_build=$(realpath -m "${BUILD_DIR:-$bench_root/build/win}")
win_bench=$bench_root/build/bench-win
CHECK_BENCH_EXE=$win_bench/check_bench.exe
STAT_WALK_EXE=$win_bench/stat_walk_bench.exe
WINE_RUN=$bench_root/scripts/wine-run
mkdir -p "$win_bench"
cmake --build "$win_build" -j2 --target velm_update_core >/dev/null
libs=("$win_build/src/update/libvelm_update_core.a" "$win_build/src/formats/libvelm_formats.a"
      "$win_build/src/common/libvelm_common.a" "$win_build/libpugixml.a" "$win_build/liblzma_sdk.a")
if [ ! -x "$CHECK_BENCH_EXE" ] || [ -n "$(find "${libs[@]}" "$bench_root/bench/check_bench.cpp" -newer "$CHECK_BENCH_EXE" | head -1)" ]; then
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -static -I"$bench_root/src" "$bench_root/bench/check_bench.cpp" \
    "${libs[@]}" -o "$CHECK_BENCH_EXE"
fi
if [ ! -x "$STAT_WALK_EXE" ] || [ "$bench_root/bench/stat_walk_bench_win32.cpp" -nt "$STAT_WALK_EXE" ]; then
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -static -municode "$bench_root/bench/stat_walk_bench_win32.cpp" \
    -o "$STAT_WALK_EXE"
fi
