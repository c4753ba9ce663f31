#!/usr/bin/env bash
# Saves pictures of the GUI during downloads against the simulated receiver,
# as PNG files in the folder given (default: build/screenshots):
#  - 1-port-setup, 2-port-initialization, 3-code-upload: the three dialogs,
#    from the wx front end driven by its test;
#  - demo-*: the whole program (receiver-downloader --demo) driven with
#    xdotool, message boxes included.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
cmake --build build -j1 --target receiver-downloader receiver-downloader-gui gui_front_end_test gui_app_test >/dev/null
rm -f "$out"/*.png
export RD_SCREENSHOT_DIR="$out"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/tests/gui_front_end_test --gtest_filter='GuiRunTest.CompletesADownload*:GuiRunTest.BackThenConnect*' \
  --gtest_brief=1
build/tests/gui_app_test --gtest_brief=1 2>/dev/null
ls -1 "$out"/*.png
