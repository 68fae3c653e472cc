# Sourced by bench/check-warm.sh and check-cold.sh, which set bench (their name), work
# (their folder) and wine (0 leaves Wine out): running one check and reporting both sides.

win() { echo "Z:$(echo "$1" | tr / '\\')"; }
best() { python3 -c "print(min(x for x in [$1, ${2:-1e9}]))"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }

# check_seconds COMMAND...: runs one check (natively or under Wine) and prints its
# seconds; fails when it planned a job for the current installation or, with
# forbid_hashing=1, when it hashed a file the cache vouches for.
check_seconds() {
  local seconds jobs
  read -r seconds jobs <<<"$("$@" | tr -d '\r')"
  [ "$jobs" = 0 ] || { echo "$bench: $jobs jobs planned for a current installation" >&2; exit 1; }
  if [ "${forbid_hashing:-0}" = 1 ] &&
     iconv -f UTF-16LE -t UTF-8 "$work/launcher.log" 2>/dev/null | grep -q "recalc"; then
    echo "$bench: a cached file was hashed again" >&2; exit 1
  fi
  echo "$seconds"
}

# report NATIVE_PEER WINE_PEER WHAT: one line per side from best_ours, best_peer,
# best_wine_ours and best_wine_peer, then the last line with the larger ratio.
report() {
  local native under_wine="not run" worst
  native=$(ratio "$best_ours" "$best_peer")
  echo "$bench native: ours/peer = $native (ours $(printf %.3f "$best_ours") s, peer $(printf %.3f "$best_peer") s, $1)"
  worst=$native
  if [ "$wine" != 0 ]; then
    under_wine=$(ratio "$best_wine_ours" "$best_wine_peer")
    echo "$bench Wine: ours/peer = $under_wine (ours $(printf %.3f "$best_wine_ours") s, peer $(printf %.3f "$best_wine_peer") s, $2)"
    worst=$(python3 -c "print(max($native, $under_wine))")
  fi
  echo "$bench: ours/peer = $worst (native $native, Wine $under_wine; $3)"
}
