#!/usr/bin/env bash
# What players download: the shipped (stripped) VelmLauncher.exe against the same program
# as linked, debug information and all, both as they are and as the self-update's
# compressed download (velm-publish compress, the container the patch server stores). Also
# prints where the shipped bytes come from, by library, from the link map. Fails when the
# shipped launcher is over its budget (docs/decisions.md).
#
#   BUILD_DIR   Windows build tree (default build/win)
#   PUBLISH     velm-publish to compress with (default build/native/velm-publish)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
publish=${PUBLISH:-$root/build/native/velm-publish}
budget=5000000
cmake --build "$build" -j2 --target VelmLauncher VelmLauncherUnstripped >/dev/null
if [ -z "${PUBLISH:-}" ]; then
  cmake --build "$root/build/native" -j2 --target velm-publish >/dev/null
fi
work=$(mktemp -d /tmp/velm-bench-launcher-size.XXXXXX)
trap 'rm -rf "$work"' EXIT
shipped="$build/VelmLauncher.exe"
unstripped="$build/VelmLauncherUnstripped.exe"
"$publish" compress --in "$shipped" --out "$work/shipped.cmp"
"$publish" compress --in "$unstripped" --out "$work/unstripped.cmp"
mb() { python3 -c "print(f'{$1 / 1e6:.2f}')"; }
s=$(stat -c %s "$shipped"); u=$(stat -c %s "$unstripped")
sc=$(stat -c %s "$work/shipped.cmp"); uc=$(stat -c %s "$work/unstripped.cmp")
d=$(stat -c %s "$build/VelmLauncher.exe.debug")
echo "the shipped file's sections by library (link map $build/VelmLauncher.map):"
python3 "$root/bench/lib/map-breakdown.py" "$build/VelmLauncher.map"
printf '%-34s %12s %12s\n' "" bytes compressed
printf '%-34s %12d %12d\n' "shipped VelmLauncher.exe" "$s" "$sc"
printf '%-34s %12d %12d\n' "unstripped (same program)" "$u" "$uc"
printf '%-34s %12d\n' "symbols VelmLauncher.exe.debug" "$d"
verdict="within its budget of $(mb $budget) MB"
[ "$s" -le "$budget" ] || verdict="OVER its budget of $(mb $budget) MB"
echo "launcher-size: ours/peer = $(python3 -c "print(f'{$s/$u:.3f}')") (ours $(mb "$s") MB, peer $(mb "$u") MB, shipped launcher vs the same program unstripped; self-update download $(mb "$sc") MB vs $(mb "$uc") MB compressed; $verdict)"
[ "$s" -le "$budget" ]
