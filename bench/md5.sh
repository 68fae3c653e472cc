#!/usr/bin/env bash
# MD5 throughput of the launcher's implementation (src/common/md5.cpp, built natively with
# -O2 and no sanitizers) against `openssl speed md5` on 8 KiB blocks, in the same run.
#
#   BENCH_MIB   MiB hashed by ours (default 1024)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/velm-bench-md5.XXXXXX)
trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -O2 -I"$root/src" "$root/bench/md5_bench.cpp" "$root/src/common/md5.cpp" \
  "$root/src/common/file_io.cpp" "$root/src/common/file_system_posix.cpp" "$root/src/common/text.cpp" \
  -o "$work/md5_bench"
ours=$("$work/md5_bench" | awk '{print $1}')
# openssl prints kB/s (1000 bytes) per block size; the 8192-byte column is the last one.
peer_kb=$(openssl speed -bytes 8192 -seconds 3 md5 2>/dev/null | awk '/^md5/ {v=$NF} END {sub(/k$/, "", v); print v}')
peer=$(echo "$peer_kb * 1000 / 1048576" | bc -l)
printf 'md5: ours/peer = %.2f (ours %.0f MiB/s, peer %.0f MiB/s, MD5 of 8 KiB blocks against openssl speed md5)\n' \
  "$(echo "$ours / $peer" | bc -l)" "$ours" "$peer"
