#!/usr/bin/env bash
# Builds wxWidgets 3.2 for 64-bit Windows with mingw-w64, as static libraries,
# from Debian's own source package, into a cache outside the repository:
#   ${RD_CACHE:-$HOME/.cache/receiver-downloader}/wx-mingw-3.2
# A finished build is reused as long as it was made with the same options, so
# only the first run on a machine pays for it (about ten minutes on two cores).
# Prints the install prefix (the folder holding bin/wx-config) on stdout.
set -euo pipefail

cache=${RD_CACHE:-$HOME/.cache/receiver-downloader}
prefix=$cache/wx-mingw-3.2
host=x86_64-w64-mingw32

# The source tarball carries no zlib, png, jpeg, tiff or expat of its own and
# Debian has no mingw builds of them; the program's dialogs need none of them,
# nor the parts of wx disabled below.
configure_flags=(
  --host=$host --prefix="$prefix"
  --with-msw --disable-shared --enable-unicode
  --without-libpng --without-libjpeg --without-libtiff --without-zlib
  --without-expat --without-regex --without-liblzma --without-opengl
  --disable-svg --disable-xrc --disable-html --disable-webview
  --disable-mediactrl --disable-stc --disable-richtext --disable-aui
  --disable-propgrid --disable-ribbon --disable-sound --disable-webrequest
  --disable-tests --disable-debug_info
)
stamp_text="wxwidgets3.2 ${configure_flags[*]}"

if [ -f "$prefix/.built" ] && [ "$(cat "$prefix/.built")" = "$stamp_text" ]; then
  echo "$prefix"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

need_packages=()
command -v $host-g++-posix >/dev/null || need_packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix)
command -v make >/dev/null || need_packages+=(make)
if [ ${#need_packages[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need_packages[@]}" >&2
fi

src_root=$cache/wx-src
mkdir -p "$src_root"
tarball=$(ls "$src_root"/wxwidgets3.2_*.orig.tar.* 2>/dev/null | head -n1 || true)
if [ -z "$tarball" ]; then
  # apt-get source needs a deb-src entry; add one for bookworm if none exists.
  if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      | $SUDO tee /etc/apt/sources.list.d/receiver-downloader-src.sources >/dev/null
    $SUDO apt-get update -qq
  fi
  (cd "$src_root" && apt-get source --download-only wxwidgets3.2 >&2)
  tarball=$(ls "$src_root"/wxwidgets3.2_*.orig.tar.* | head -n1)
fi

work=$cache/wx-build
rm -rf "$work" "$prefix"
mkdir -p "$work"
tar -xf "$tarball" -C "$work"
srcdir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
mkdir -p "$work/out"
cd "$work/out"
start=$(date +%s)
CC=$host-gcc-posix CXX=$host-g++-posix "$srcdir/configure" "${configure_flags[@]}" >&2
make -j"$(nproc)" >&2
make install >&2
printf '%s' "$stamp_text" > "$prefix/.built"
echo "wxWidgets for Windows built in $(( $(date +%s) - start )) s" >&2
rm -rf "$work"
echo "$prefix"
