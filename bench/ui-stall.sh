#!/usr/bin/env bash
# How long the main window leaves a message unanswered while an update run goes on: the
# real launcher under Wine (build/win/VelmLauncher.exe, retargeted at loopback servers, its
# window under Xvfb when no display is set) installs a 16 MiB file that the fault server
# drip-feeds, and a probe in another process sends the main window WM_NULL every 10 ms and
# times each answer: while the file downloads, when the player cancels mid-file and when
# the player closes the window mid-run; the last two again with a server that accepts the
# request and never answers. The budget is 100 ms, the longest a window may ignore its
# player.
set -euo pipefail
exec python3 "$(dirname "$0")/lib/ui_stall.py"
