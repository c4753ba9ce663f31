#!/usr/bin/env bash
# Saves pictures of the station's window under a virtual display, as PNG
# files in the folder given (default: docs/screenshots): before the start
# (station-1-before-start), during a run of four simulated receivers of which
# one fails (station-2-running-one-failed), and at the summary after that port is stopped
# (station-3-summary). They come from the window's own test.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
source scripts/compiler-cache.sh
cmake --build build -j2 --target receiver-downloader gui_station_window_test >/dev/null
rm -f "$out"/station-*.png
RD_SCREENSHOT_DIR="$out" xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/tests/gui_station_window_test --gtest_filter='*FailedPortRedThenStopPortSummary*' --gtest_brief=1
ls -1 "$out"/station-*.png
