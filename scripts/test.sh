#!/usr/bin/env bash
# Builds both trees and runs every test: the native tests under the sanitizers, then the
# Windows tests under Wine with an X server for the windows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"

if [ -z "${DISPLAY:-}" ]; then
  # A private X server for the window tests; stopped when the tests end.
  for n in $(seq 90 130); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
fi

status=0
echo "test: layers"
python3 "$root/scripts/check_layers.py" || status=1
echo "test: native"
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)") || status=1
# A few seconds per fuzz target over its seeds and the inputs kept in fuzz/regressions/.
if command -v clang++ >/dev/null && [ "${VELM_FUZZ_SMOKE_SECONDS:-5}" != 0 ]; then
  echo "test: fuzz smoke"
  "$root/scripts/fuzz.sh" all "${VELM_FUZZ_SMOKE_SECONDS:-5}" || status=1
fi
echo "test: win (Wine)"
(cd "$root/build/win" && ctest --output-on-failure -j "$(nproc)") || status=1
WINEPREFIX="${VELM_WINEPREFIX:-$root/build/wineprefix}" wineserver -k >/dev/null 2>&1 || true
exit $status
