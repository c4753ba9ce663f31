#!/usr/bin/env bash
# Installs the Debian packages a task needs:
#   scripts/install-deps.sh demo      the terminal program's build: compiler,
#                                     CMake, Ninja and the libraries it uses
#   scripts/install-deps.sh demo-gui  the same and wxWidgets, for the GUI
#                                     program too
#   scripts/install-deps.sh [all]     everything: the tests, the sanitizer and
#                                     fuzz builds, the packages' checks and the
#                                     Windows build with its tests under Wine
# Skips apt entirely when everything is already there; needs root (or sudo)
# otherwise.
set -euo pipefail

# The programs' build (scripts/demo.sh).
program=(
  g++ cmake ninja-build
  libcli11-dev nlohmann-json3-dev libssl-dev
)
# The GUI program.
gui=(libwxgtk3.2-dev)
# The rest of what scripts/build.sh, scripts/test.sh and the Windows scripts
# use.
rest=(
  build-essential pkg-config ccache
  libgtest-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth xdotool x11-apps imagemagick
  file groff-base lintian
  # The Windows build (scripts/build-windows.sh) and its tests under Wine
  # (scripts/test-windows.sh): the cross compiler, GoogleTest's sources to
  # build with it, the icon's tools (SVG to PNG, PNGs to .ico, and back out of
  # the .exe), the installer's compiler, Wine, and python3 for the test
  # line's echo.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest
  librsvg2-bin icoutils nsis wine64 python3
)

case "${1:-all}" in
  demo) packages=("${program[@]}") ;;
  demo-gui) packages=("${program[@]}" "${gui[@]}") ;;
  all) packages=("${program[@]}" "${gui[@]}" "${rest[@]}") ;;
  *) echo "usage: $0 [demo|demo-gui|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root to install: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Unpacking without a sync after every file halves the time dpkg takes (the
# compiler and CMake are thousands of files); a crash in the middle of it can
# leave files of these packages empty, which reinstalling them mends.
$SUDO apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"
