#!/usr/bin/env bash
# bench/run.sh NAME | all: runs bench/NAME.sh (or every bench/*.sh). Each prints, as its
# last line, "NAME: ours/peer = R (ours X unit, peer Y unit, what was compared)".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 1 ] || { echo "usage: bench/run.sh NAME|all" >&2; exit 2; }
if [ "$1" = all ]; then
  for b in "$here"/*.sh; do
    [ "$(basename "$b")" = run.sh ] && continue
    bash "$b"
  done
else
  [ -f "$here/$1.sh" ] || { echo "bench: no benchmark named $1" >&2; exit 2; }
  bash "$here/$1.sh"
fi
