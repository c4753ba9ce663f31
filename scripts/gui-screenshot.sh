#!/usr/bin/env bash
# Saves pictures of the three dialogs as they look during a download against
# the simulated receiver, under a virtual display: Port Setup, Port
# Initialization and Code Upload in Progress, as PNG files in the folder
# given (default: build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
cmake --build build -j1 --target gui_front_end_test >/dev/null
rm -f "$out"/[123]-*.png
RD_SCREENSHOT_DIR="$out" xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/tests/gui_front_end_test --gtest_filter='GuiRunTest.CompletesADownload*:GuiRunTest.BackThenConnect*' \
  --gtest_brief=1
ls -1 "$out"/*.png
