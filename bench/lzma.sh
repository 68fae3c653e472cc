#!/usr/bin/env bash
# Full-file LZMA: our container's LZMA stream against xz --format=lzma -9, size and time,
# on the newer file of every pair.
source "$(dirname "$0")/lib/publish-inputs.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ours_b=0; xz_b=0; ours_s=0; xz_s=0
printf '%-28s %12s %12s %8s %8s\n' file ours_bytes xz_bytes ours_s xz_s
while read -r name old new; do
  [ -n "$name" ] || continue
  /usr/bin/time -f %e -o "$work/t1" "$PUBLISH" compress --in "$new" --out "$work/ours"
  /usr/bin/time -f %e -o "$work/t2" xz --format=lzma -9 -k -c "$new" >"$work/xz"
  # The container adds a 28-byte prefix around the same stand-alone stream xz writes.
  o=$(( $(stat -c %s "$work/ours") - 28 )); x=$(stat -c %s "$work/xz")
  printf '%-28s %12d %12d %8s %8s\n' "$name" "$o" "$x" "$(cat "$work/t1")" "$(cat "$work/t2")"
  ours_b=$((ours_b + o)); xz_b=$((xz_b + x))
  ours_s=$(python3 -c "print($ours_s+$(cat "$work/t1"))"); xz_s=$(python3 -c "print($xz_s+$(cat "$work/t2"))")
done <<<"$PAIRS"
echo "time: ours/xz = $(python3 -c "print(f'{$ours_s/$xz_s:.2f}')") (ours $(printf %.2f "$ours_s") s, xz $(printf %.2f "$xz_s") s)"
echo "lzma: ours/peer = $(python3 -c "print(f'{$ours_b/$xz_b:.4f}')") (ours $ours_b bytes, peer $xz_b bytes, LZMA stream of every file vs xz --format=lzma -9)"
