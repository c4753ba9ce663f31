#!/usr/bin/env bash
# Installs what the programs need, builds them, and runs a whole download
# against the built-in simulated receiver: in the GUI when a display is
# available (and --no-gui is not given), in the terminal otherwise.
#
# Only the programs are built, in build-demo/ with every option given here,
# so that build/ stays as scripts/build.sh and scripts/test.sh make it; and
# only the packages the programs need are installed: scripts/test.sh
# installs the rest.
set -euo pipefail
cd "$(dirname "$0")/.."

gui=OFF
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  gui=ON
  for arg in "$@"; do [ "$arg" = --no-gui ] && gui=OFF; done
fi
targets=(receiver-downloader)
if [ $gui = ON ]; then
  scripts/install-deps.sh demo-gui
  targets+=(receiver-downloader-gui)
else
  scripts/install-deps.sh demo
fi

# -O2: GCC 12 at -O3 warns falsely about the standard library's string code.
source scripts/compiler-cache.sh
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
      -DRD_WITH_GUI=$gui -DRD_TESTS=OFF -DRD_PRECOMPILED_HEADERS=ON >/dev/null
cmake --build build-demo --target "${targets[@]}"
exec build-demo/receiver-downloader --demo "$@"
