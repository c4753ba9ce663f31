#!/usr/bin/env bash
# Cross-compiles the Windows program with mingw-w64 into build-windows/:
#   build-windows/receiver-downloader.exe   (static: needs only Windows' own DLLs)
#   build-windows/receiver-downloader-*-win64.zip
# With the GUI when wxWidgets for Windows is built (scripts/build-wx-windows.sh
# builds it once into a cache, about ten minutes): RD_WINDOWS_GUI=1 builds it
# if needed, =0 leaves the GUI out, unset uses it only when already built.
# Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-windows}
host=x86_64-w64-mingw32

if ! command -v $host-g++-posix >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix >&2
fi

wx_prefix=${RD_CACHE:-$HOME/.cache/receiver-downloader}/wx-mingw-3.2
gui=OFF
case "${RD_WINDOWS_GUI:-auto}" in
  1) wx_prefix=$(scripts/build-wx-windows.sh); gui=ON ;;
  0) ;;
  *) [ -f "$wx_prefix/.built" ] && gui=ON ;;
esac

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DRD_WITH_GUI=$gui -DRD_WX_PREFIX="$wx_prefix" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
ls -l "$build_dir"/receiver-downloader.exe "$build_dir"/*.zip
