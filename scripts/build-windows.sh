#!/usr/bin/env bash
# Cross-compiles the Windows program with mingw-w64 into build-windows/ (or
# $BUILD_DIR):
#   build-windows/receiver-downloader.exe           static: needs only the DLLs
#                                                   every Windows has
#   build-windows/receiver-downloader-*-win64.zip   the .exe, README, license,
#                                                   changelog, examples
#   build-windows/receiver-downloader-*-setup.exe   the same as an installer
#                                                   (NSIS), with a Start-menu
#                                                   shortcut and an uninstaller
# The program holds the GUI and the terminal mode. Extra arguments go to
# CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/compiler-cache.sh
build_dir=${BUILD_DIR:-build-windows}

# The GUI: wxWidgets for Windows from the cache (built there once by
# scripts/build-wx-windows.sh, about ten minutes on two cores, when missing).
# RD_WINDOWS_GUI=OFF builds the terminal program alone.
gui=(-DRD_WITH_GUI=OFF)
if [ "${RD_WINDOWS_GUI:-ON}" != OFF ]; then
  wx_prefix=$(scripts/build-wx-windows.sh)
  gui=(-DRD_WITH_GUI=ON "-DRD_WX_PREFIX=$wx_prefix")
fi

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release "${gui[@]}" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target receiver-downloader installer
(cd "$build_dir" && cpack -G ZIP >/dev/null)
ls -l "$build_dir"/receiver-downloader.exe "$build_dir"/*.zip "$build_dir"/*-setup.exe
