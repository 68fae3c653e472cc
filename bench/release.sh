#!/usr/bin/env bash
# Publishing a client with velm-publish release on one core (--jobs 1) against all the
# machine's cores (--jobs = nproc), in the same run: a first release of a client of
# BENCH_RELEASE_MIB MiB (default 1024) of game-like files, then a follow-up release in
# which a third of the files changed (full files and diffs). Prints both times, the peak
# memory of each run and, last, the all-cores/one-core ratio over both releases.
source "$(dirname "$0")/lib/check-bench-build.bash"
mib=${BENCH_RELEASE_MIB:-1024}
cores=$(nproc)
work=$(mktemp -d /tmp/velm-bench-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Files of 32, 16, 8, 4, 2 and 1 MiB in turn, each like the patch-apply data: runs of
# repeated bytes between stretches of random ones; the second version edits every third
# file in scattered places and adds one file.
python3 - "$work" "$mib" <<'PY'
import os, random, sys
work, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(11)
def data(size):
    out = bytearray()
    while len(out) < size:
        n = rng.randrange(256, 4096)
        out += rng.randbytes(n) if rng.random() < 0.4 else bytes([rng.randrange(4)]) * n
    return out[:size]
sizes, left, i = [], mib << 20, 0
while left > 0:
    size = min(left, (32 >> (i % 6)) << 20)
    sizes.append(size)
    left -= size
    i += 1
for version in ("v1", "v2"):
    os.makedirs(os.path.join(work, version, "data"))
for n, size in enumerate(sizes):
    old = data(size)
    new = bytearray(old)
    if n % 3 == 0:
        for _ in range(max(1, size >> 17)):
            at = rng.randrange(max(1, len(new) - 512))
            new[at:at + rng.randrange(16, 512)] = rng.randbytes(rng.randrange(16, 512))
    open(os.path.join(work, "v1", "data", f"f{n:03}.pak"), "wb").write(old)
    open(os.path.join(work, "v2", "data", f"f{n:03}.pak"), "wb").write(new)
open(os.path.join(work, "v2", "data", "added.pak"), "wb").write(data(1 << 20))
PY
# One release into ROOT from CLIENT with JOBS; prints "SECONDS PEAK_KIB".
release() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$PUBLISH" release --root "$1" --client "$2" \
    --base-url http://127.0.0.1/patch --jobs "$3" --quiet
  cat "$work/time"
}
read -r first_one first_one_kib < <(release "$work/root1" "$work/v1" 1)
read -r follow_one follow_one_kib < <(release "$work/root1" "$work/v2" 1)
read -r first_all first_all_kib < <(release "$work/rootN" "$work/v1" "$cores")
read -r follow_all follow_all_kib < <(release "$work/rootN" "$work/v2" "$cores")
diff -r "$work/root1" "$work/rootN" >/dev/null || { echo "release: the roots differ between --jobs 1 and --jobs $cores" >&2; exit 1; }
for line in "first release, --jobs 1: $first_one s, peak ${first_one_kib} KiB" \
            "follow-up release, --jobs 1: $follow_one s, peak ${follow_one_kib} KiB" \
            "first release, --jobs $cores: $first_all s, peak ${first_all_kib} KiB" \
            "follow-up release, --jobs $cores: $follow_all s, peak ${follow_all_kib} KiB"; do
  echo "release: $line"
done
ours=$(python3 -c "print(f'{$first_all + $follow_all:.2f}')")
peer=$(python3 -c "print(f'{$first_one + $follow_one:.2f}')")
echo "release: ours/peer = $(python3 -c "print(f'{$ours/$peer:.2f}')") (ours $ours s, peer $peer s, first and follow-up release of a $mib MiB client with --jobs $cores vs --jobs 1; speed-up $(python3 -c "print(f'{$peer/$ours:.2f}')")x)"
