#!/usr/bin/env bash
# The main job: builds the trees, then publishes two releases of a demo client, serves
# them on 127.0.0.1 and lets the launcher update an installation of the first under Wine
# and start the demo game (scripts/demo.py says how).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
python3 "$root/scripts/demo.py"
