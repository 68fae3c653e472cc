#!/usr/bin/env bash
# The main job: builds both trees, then runs the launcher under Wine against servers on
# 127.0.0.1 and shows what it did (scripts/demo.py).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
python3 "$root/scripts/demo.py"
