#!/usr/bin/env bash
# The main job: builds, then runs the launcher under Wine against loopback endpoints.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
echo "demo: the full demo arrives with the main window; for now the build is ready in build/win"
