#!/usr/bin/env bash
# Applying a diff: the launcher's patch step (the ".cmp" diff decoded straight into
# DiffStreamApplier, which the launcher feeds from the decoded diff file; the result's MD5
# checked; the result written) against bspatch applying bsdiff's patch for the same pair,
# in the same run; time per MiB of output. The pair is BENCH_PATCH_MIB MiB (default 64)
# of game-like data with scattered edits; best of 3.
source "$(dirname "$0")/lib/check-bench-build.bash"
mib=${BENCH_PATCH_MIB:-64}
work=$(mktemp -d /tmp/velm-bench-patch.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$mib" <<'PY'
import os, random, sys
work, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
out = bytearray()
while len(out) < mib << 20:
    n = rng.randrange(256, 4096)
    out += rng.randbytes(n) if rng.random() < 0.4 else bytes([rng.randrange(4)]) * n
old = bytes(out[:mib << 20])
new = bytearray(old)
for _ in range(mib * 8):
    at = rng.randrange(len(new) - 512)
    new[at:at + rng.randrange(16, 512)] = rng.randbytes(rng.randrange(16, 512))
open(os.path.join(work, "old"), "wb").write(old)
open(os.path.join(work, "new"), "wb").write(new)
PY
cd "$work"
"$PUBLISH" diff --old old --new new --out ours.diff --quiet
bsdiff old new bs.patch
out_mib=$(python3 -c "print($(stat -c %s new) / 1048576)")
best_ours=""; best_peer=""
for round in 1 2 3; do
  ours=$("$CHECK_BENCH" apply old ours.diff ours.out)
  start=$(date +%s.%N)
  bspatch old bs.out bs.patch
  peer=$(echo "$(date +%s.%N) - $start" | bc -l)
  cmp -s ours.out new && cmp -s bs.out new || { echo "patch-apply: a result differs from the new file" >&2; exit 1; }
  best_ours=$(python3 -c "print(min(x for x in [$ours, ${best_ours:-1e9}]))")
  best_peer=$(python3 -c "print(min(x for x in [$peer, ${best_peer:-1e9}]))")
done
ours_ms=$(python3 -c "print(f'{1000 * $best_ours / $out_mib:.2f}')")
peer_ms=$(python3 -c "print(f'{1000 * $best_peer / $out_mib:.2f}')")
echo "patch-apply: ours/peer = $(python3 -c "print(f'{$best_ours/$best_peer:.2f}')") (ours $ours_ms ms/MiB, peer $peer_ms ms/MiB, decode streamed into apply + MD5 check + write of a $mib MiB diff vs bspatch of bsdiff's patch)"
