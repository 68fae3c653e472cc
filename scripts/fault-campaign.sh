#!/usr/bin/env bash
# The fault campaign: the real launcher under Wine updates installations of release v1 to v3
# while the patch server cuts, lies and fails, and every run is checked against the release
# (scripts/fault_campaign.py says how; docs/testing.md what the table means). Needs
# build/win/VelmLauncher.exe, build/win/velm-retarget.exe and build/native/velm-publish.
#   scripts/fault-campaign.sh [--runs N] [--cases a,b] [--seed S] [--timeout SEC] [--display :N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 "$root/scripts/fault_campaign.py" "$@"
