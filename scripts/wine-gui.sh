# What the Windows GUI's scripts under Wine share, sourced by them from the
# source tree's root with the pictures' folder as $1: the build folders, a
# virtual display of their own (the script runs again under xvfb-run), the
# program and the simulator checked, Wine's prefix and one wineserver, a work
# folder and the processes to end on exit, and window(), shot(), keys() and
# await() on the display.
root=$PWD
build_dir=${BUILD_DIR:-build-windows}
linux_build=${LINUX_BUILD_DIR:-build}
out=${1:-$build_dir/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${RD_PRIVATE_DISPLAY:-}" ]; then
  # A display of our own: the pointer and keys reach no other program's windows.
  exec env RD_PRIVATE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

exe=$root/$build_dir/receiver-downloader.exe
[ -f "$exe" ] || { echo "no $exe: run scripts/build-windows.sh" >&2; exit 1; }
[ -x "$linux_build/receiver-sim" ] || cmake --build "$linux_build" -j2 --target receiver-sim >/dev/null

export WINEPREFIX=${WINEPREFIX:-$root/$build_dir/wine-prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PATH=/usr/lib/wine:$PATH
[ -f "$WINEPREFIX/system.reg" ] || wine64 wineboot -i >/dev/null 2>&1
# No window manager here: Wine draws the windows' frames and captions itself.
wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# One wineserver for the run (a caller's, when one is up for this prefix).
own_server=0
wineserver -p 2>/dev/null && own_server=1

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ $own_server -eq 0 ] || wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The newest visible window with exactly this title, or nothing.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1 || true; }
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
shot() {  # window, name
  sleep 0.5  # let it be drawn
  geometry "$1"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$out/$2.png"
  echo "saved $2.png (${WIDTH}x${HEIGHT})"
}
keys() {  # window, xdotool arguments: the pointer over the window, then the keys
  geometry "$1"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  sleep 0.2
  xdotool windowfocus "$1" 2>/dev/null || true
  xdotool "${@:2}"
}
# Waits up to $2 seconds for a window titled $1 and prints its id.
await() {
  local id
  for _ in $(seq $(($2 * 10))); do
    id=$(window "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window \"$1\" within $2 s" >&2
  return 1
}
