# Sourced by bench/check-warm.sh, check-cold.sh, patch-apply.sh and release.sh: builds the engine's
# platform-free libraries and velm-publish optimised (no sanitizers, no tests) in
# build/bench-update, and bench/check_bench.cpp against them. Sets CHECK_BENCH, PUBLISH.
set -euo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_build=$(realpath -m "${BENCH_BUILD_DIR:-$bench_root/build/bench-update}")
CHECK_BENCH="$bench_build/check_bench"
PUBLISH="$bench_build/velm-publish"
if [ ! -x "$CHECK_BENCH" ] || [ -n "$(find "$bench_root/src" "$bench_root/tools/publish" "$bench_root/bench/check_bench.cpp" \
      -newer "$CHECK_BENCH" -name '*.[ch]*' | head -1)" ]; then
  cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DVELM_SANITIZE=OFF \
        -DVELM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$bench_build" -j2 --target velm-publish velm_update_core >/dev/null
  g++ -std=c++17 -O2 -I"$bench_root/src" "$bench_root/bench/check_bench.cpp" \
      "$bench_build/src/update/libvelm_update_core.a" "$bench_build/src/formats/libvelm_formats.a" \
      "$bench_build/src/common/libvelm_common.a" \
      "$bench_build/libpugixml.a" "$bench_build/liblzma_sdk.a" -o "$CHECK_BENCH"
fi
