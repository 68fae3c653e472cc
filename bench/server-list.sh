#!/usr/bin/env bash
# Server list parsing: ParseServerList (src/services/server_list.cpp, built natively with
# -O2 and no sanitizers) on 100,000 servers in one realm with mixed ranks, against a plain
# parse of the same document's lines into records, in the same run.
#
#   BENCH_SERVERS   servers in the document (default 100000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/velm-bench-server-list.XXXXXX)
trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -O2 -I"$root/src" "$root/bench/server_list_bench.cpp" \
  "$root/src/services/server_list.cpp" "$root/src/services/server_status.cpp" \
  "$root/src/common/text.cpp" -o "$work/server_list_bench"
read -r ours peer < <("$work/server_list_bench" "${BENCH_SERVERS:-100000}")
printf 'server-list: ours/peer = %.2f (ours %.1f ms, peer %.1f ms, %s servers of one realm in mixed ranks parsed and ranked against a plain parse of the lines)\n' \
  "$(echo "$ours / $peer" | bc -l)" "$ours" "$peer" "${BENCH_SERVERS:-100000}"
