#!/usr/bin/env bash
# What checking a signed release costs a run, next to decoding its file list: a synthetic
# list of BENCH_ENTRIES entries (default 40000, about 9 MiB of XML) under Wine, the check
# done with the system's CNG as the launcher does it.
#
#   BUILD_DIR   Windows build tree (default build/win)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
cmake --build "$build" -j2 --target velm_update_core velm_formats velm_common >/dev/null
work=$(mktemp -d /tmp/velm-bench-verify.XXXXXX)
trap 'rm -rf "$work"' EXIT
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -municode -static -DUNICODE -D_UNICODE -I"$root/src" \
  "$root/bench/release_verify_bench_win32.cpp" \
  "$build/src/update/libvelm_update_core.a" "$build/src/formats/libvelm_formats.a" \
  "$build/src/common/libvelm_common.a" "$build/libpugixml.a" "$build/liblzma_sdk.a" \
  -lbcrypt -lwininet -o "$work/release_verify_bench.exe"
BENCH_ENTRIES=${BENCH_ENTRIES:-40000} "$root/scripts/wine-run" "$work/release_verify_bench.exe"
