#!/usr/bin/env bash
# Bytes a player downloads for one step: our diff in its ".cmp" container against
# bsdiff, xdelta3 -9 and zstd -19 --long --patch-from on the same pairs.
source "$(dirname "$0")/lib/publish-inputs.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-28s %12s %12s %12s %12s %12s %7s\n' pair new ours bsdiff xdelta3 zstd ours/bs
while read -r name old new; do
  [ -n "$name" ] || continue
  "$PUBLISH" diff --old "$old" --new "$new" --out "$work/ours"
  bsdiff "$old" "$new" "$work/bs"
  xdelta3 -9 -f -e -s "$old" "$new" "$work/xd"
  zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o "$work/zs" 2>/dev/null
  o=$(stat -c %s "$work/ours"); b=$(stat -c %s "$work/bs")
  x=$(stat -c %s "$work/xd"); z=$(stat -c %s "$work/zs"); n=$(stat -c %s "$new")
  printf '%-28s %12d %12d %12d %12d %12d %7s\n' "$name" "$n" "$o" "$b" "$x" "$z" \
    "$(python3 -c "print(f'{$o/$b:.3f}')")"
  echo "$name $n $o $b" >>"$work/rows"
done <<<"$PAIRS"
python3 - "$work/rows" <<'PY'
import sys
rows = [line.split() for line in open(sys.argv[1])]
ours = sum(int(r[2]) for r in rows)
peer = sum(int(r[3]) for r in rows)
# The single-pair goal ignores pairs where both diffs are under 0.1 % of the new file.
counted = [(int(r[2]) / int(r[3]), r[0]) for r in rows
           if int(r[2]) > int(r[1]) / 1000 or int(r[3]) > int(r[1]) / 1000]
worst = max(counted) if counted else (0, "none")
print(f"worst counted pair: {worst[1]} ours/bsdiff = {worst[0]:.3f}")
print(f"diff-size: ours/peer = {ours / peer:.3f} (ours {ours} bytes, peer {peer} bytes, "
      f"total of our .cmp diffs vs bsdiff over {len(rows)} pairs)")
PY
