#!/usr/bin/env bash
# A fresh install of many small files: BENCH_FILES files (default 1000) of 16 KiB,
# published with velm-publish and served by nginx on loopback, installed by the real
# launcher under Wine (build/win/VelmLauncher.exe, retargeted, its main window under Xvfb
# when no display is set). Its time is read from its own log, from the run's first status
# line to its totals line. The peer, measured in the same run, is what WinINet under this
# Wine allows: a bare loop of two threads, one synchronous session each, fetching the
# same objects to files in 64 KiB reads; the same loop making each file durable (flush,
# then move into place) shows what that guarantee costs; curl with two parallel
# transfers is printed for reference.
set -euo pipefail
exec python3 "$(dirname "$0")/lib/many_files.py"
