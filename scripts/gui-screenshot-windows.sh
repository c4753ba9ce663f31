#!/usr/bin/env bash
# The Windows program's GUI under Wine on a virtual display of its own, driven
# with xdotool; saves a picture of each dialog as PNG files in the folder
# given (default: build-windows/screenshots):
#   windows-1-port-setup, windows-2-port-initialization
#       receiver-downloader.exe --port COM5, COM5 mapped to a pseudo-terminal
#       where the Linux simulated receiver stays silent, so that the wait for
#       the receiver lasts until Cancel;
#   windows-3-code-upload, windows-box-N
#       receiver-downloader.exe --demo: a whole download through the dialogs
#       (the script chosen in the file dialog) to the receiver simulated on
#       the line inside the process.
# Exits non-zero when a dialog does not show up or the demo's download does
# not end in success (scripts/test-windows.sh runs it as the GUI's test).
# Needs build-windows/receiver-downloader.exe built with the GUI and
# build/receiver-sim; Wine runs in the prefix scripts/test-windows.sh uses.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-gui.sh
rm -f "$out"/windows-[0-9b]*.png
# The number of the next message box's picture (callers run in subshells).
next_box() { echo $(($(ls "$out"/windows-box-*.png 2>/dev/null | wc -l) + 1)); }
# Dismisses message boxes ("Receiver Downloader") until a window titled $1
# shows, and prints its id.
await_past_boxes() {
  local id box
  for _ in $(seq 300); do
    id=$(window "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    box=$(window "Receiver Downloader")
    if [ -n "$box" ]; then
      shot "$box" "windows-box-$(next_box)" >&2
      keys "$box" key Return
      sleep 0.5
    fi
    sleep 0.1
  done
  echo "no window \"$1\"" >&2
  return 1
}

# 1. Port Setup and Port Initialization, against a receiver that stays silent.
"$linux_build/receiver-sim" -q --silent >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^Tool port: ' "$work/sim.log" && break; sleep 0.1; done
ln -sfn "$(sed -n 's/^Tool port: //p' "$work/sim.log")" "$WINEPREFIX/dosdevices/com5"
wine64 "$exe" --port COM5 >"$work/setup.log" 2>&1 &
tool=$!
pids+=($tool)
setup=$(await_past_boxes "Port Setup")
shot "$setup" windows-1-port-setup
keys "$setup" key Return  # Connect is the default button
init=$(await "Port Initialization" 30)
shot "$init" windows-2-port-initialization
keys "$init" key Escape
status=0
timeout 30 tail --pid=$tool -f /dev/null || status=$?
kill "$tool" 2>/dev/null || true

# 2. The demo: a whole download through the dialogs.
wine64 "$exe" --demo >"$work/demo.log" 2>&1 &
tool=$!
pids+=($tool)
setup=$(await_past_boxes "Port Setup")
keys "$setup" key Return
open=$(await_past_boxes "Open")
# The dialog opens in the script's folder: its name is enough.
script=$(sed -n 's/^Demo: sample script //p' "$work/demo.log" | tr -d '\r' | sed 's/.*[\\/]//')
keys "$open" type --delay 20 "$script"
sleep 0.3
xdotool key Return
upload=$(await_past_boxes "Code Upload in Progress")
sleep 2  # some of the file on its way
shot "$upload" windows-3-code-upload
# The success message, then the program ends.
for _ in $(seq 600); do
  kill -0 "$tool" 2>/dev/null || break
  box=$(window "Receiver Downloader")
  if [ -n "$box" ]; then
    shot "$box" "windows-box-$(next_box)"
    keys "$box" key Return
    sleep 0.5
  fi
  sleep 0.1
done
status=0
wait "$tool" || status=$?
tr -d '\r' <"$work/demo.log"
if [ $status -ne 0 ] || ! grep -q "the data file whole" "$work/demo.log"; then
  echo "the demo did not end in success (exit $status)" >&2
  exit 1
fi
ls -1 "$out"/windows-*.png
