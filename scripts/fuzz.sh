#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in a
# tree of their own and runs one target or all of them, one after the other on one core.
#   scripts/fuzz.sh [TARGET|all] [SECONDS]      e.g. scripts/fuzz.sh diff_file 600
# Prints per target: executions, executions per second, coverage (libFuzzer's cov and ft)
# and crashes (crash, leak, out-of-memory or time-out inputs, kept under the build tree's
# artifacts/). Exits 1 when any target found one. VELM_FUZZ_BUILD names the build tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELM_FUZZ_BUILD:-$root/build/fuzz-clang}
targets_all=(file_list hash_cache diff_file cmp_container resume_record pack_directory
             release_signature server_list ini_values command_line)
target=${1:-all}
seconds=${2:-60}

if [ "$target" = all ]; then
  targets=("${targets_all[@]}")
elif [[ " ${targets_all[*]} " == *" $target "* ]]; then
  targets=("$target")
else
  echo "fuzz.sh: unknown target '$target'; one of: all ${targets_all[*]}" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DVELM_FUZZ=ON -DVELM_BUILD_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target fuzz_make_seeds "${targets[@]/#/fuzz_}" >/dev/null

# Seeds come from the launcher's own writers, fresh every time, so they follow the formats.
rm -rf "$build/seeds"
"$build/fuzz_make_seeds" "$build/seeds" "$root"
mkdir -p "$build/artifacts"

status=0
rows=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/artifacts/$t.log"
  before=$(find "$build/artifacts" -name "$t-*" ! -name '*.log' | wc -l)
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=("-dict=$root/fuzz/dict/$t.dict")
  regressions=()
  [ -d "$root/fuzz/regressions/$t" ] && regressions=("$root/fuzz/regressions/$t")
  # One process, no forks: the machine's cores are shared. The malloc limit turns any
  # allocation an input merely asks for (hundreds of MiB) into a reported failure.
  rc=0
  "$build/fuzz_$t" "$corpus" "$build/seeds/$t" "${regressions[@]}" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=256 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" >"$log" 2>&1 || rc=$?
  after=$(find "$build/artifacts" -name "$t-*" ! -name '*.log' | wc -l)
  crashes=$((after - before))
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes="rc=$rc"; fi
  [ "$rc" -ne 0 ] && status=1
  # A target that fails on its first inputs prints no coverage line; its row still counts.
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 | awk '{print $2 "/" $4}' || true)
  rows+=("$(printf '%-16s %12s %10s %14s %8s' "$t" "${runs:-?}" "${speed:-?}" "${cov:-?}" "$crashes")")
  if [ "$rc" -ne 0 ]; then
    echo "fuzz.sh: $t failed; its log: $log" >&2
    grep -E 'property failed|ERROR:|SUMMARY' "$log" | head -5 >&2 || true
  fi
done

printf '%-16s %12s %10s %14s %8s\n' target executions exec/s "cov/ft" crashes
printf '%s\n' "${rows[@]}"
exit $status
