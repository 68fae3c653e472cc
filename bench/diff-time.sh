#!/usr/bin/env bash
# Time and peak memory of making one diff: velm-publish diff against bsdiff, same pairs.
source "$(dirname "$0")/lib/publish-inputs.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
measure() {  # prints "seconds kilobytes"
  /usr/bin/time -f '%e %M' -o "$work/t" "$@" >/dev/null 2>&1
  cat "$work/t"
}
ours_s=0; bs_s=0; mem_worst=0; big_new=0; big_ratio=0
printf '%-28s %10s %10s %12s %12s\n' pair ours_s bsdiff_s ours_MiB bsdiff_MiB
while read -r name old new; do
  [ -n "$name" ] || continue
  read -r os ok <<<"$(measure "$PUBLISH" diff --old "$old" --new "$new" --out "$work/ours")"
  read -r bs bk <<<"$(measure bsdiff "$old" "$new" "$work/bs")"
  printf '%-28s %10.2f %10.2f %12.1f %12.1f\n' "$name" "$os" "$bs" \
    "$(python3 -c "print($ok/1024)")" "$(python3 -c "print($bk/1024)")"
  ours_s=$(python3 -c "print($ours_s+$os)"); bs_s=$(python3 -c "print($bs_s+$bs)")
  mem_worst=$(python3 -c "print(max($mem_worst, $ok/$bk))")
  if [ "$(stat -c %s "$new")" -gt "$big_new" ]; then
    big_new=$(stat -c %s "$new"); big_ratio=$(python3 -c "print($ok/$bk)")
  fi
done <<<"$PAIRS"
echo "peak memory (largest pair ours/bsdiff = $(python3 -c "print(f'{$big_ratio:.2f}')")): worst pair ours/bsdiff = $(python3 -c "print(f'{$mem_worst:.2f}')")"
echo "diff-time: ours/peer = $(python3 -c "print(f'{$ours_s/$bs_s:.2f}')") (ours $(printf %.2f "$ours_s") s, peer $(printf %.2f "$bs_s") s, total time to make every pair's diff vs bsdiff)"
