#!/usr/bin/env bash
# Cross-compiles the Windows program with mingw-w64 into build-windows/ (or
# $BUILD_DIR):
#   build-windows/receiver-downloader.exe           static: needs only the DLLs
#                                                   every Windows has
#   build-windows/receiver-downloader-*-win64.zip   the .exe, README, examples
# Extra arguments go to CMake (e.g. -DRD_WITH_GUI=ON with wxWidgets for
# Windows at hand).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/compiler-cache.sh
build_dir=${BUILD_DIR:-build-windows}

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DRD_WITH_GUI=OFF "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target receiver-downloader
(cd "$build_dir" && cpack -G ZIP >/dev/null)
ls -l "$build_dir"/receiver-downloader.exe "$build_dir"/*.zip
