#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite
# under a virtual display, then the script-reader and frame tests again in an
# AddressSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2)
BUILD_DIR=build-asan scripts/build.sh -DRD_SANITIZE=ON -DRD_WITH_GUI=OFF
(cd build-asan && ctest --output-on-failure -j2 -L asan)
