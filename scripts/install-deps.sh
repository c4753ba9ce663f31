#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Skips apt entirely when everything is already there; needs root (or sudo)
# otherwise.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev
  libwxgtk3.2-dev
  libcli11-dev nlohmann-json3-dev
  libssl-dev
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
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
