#!/usr/bin/env bash
# The Windows program's station window under Wine on a virtual display of its
# own, against three Linux simulated receivers on COM5..COM7 (the second
# answers ERROR mid-file); saves pictures as PNG files in the folder given
# (default: build-windows/screenshots):
#   windows-station-1-before-start  receiver-downloader.exe --station with the
#       script and ports given, before Start;
#   windows-station-2-running-one-failed, windows-station-3-summary
#       the same with --start: one port failed while the others load, then
#       the finished window with its summary.
# Exits non-zero when the window does not show up or finish, or the record
# does not hold two successes and one error (scripts/test-windows.sh runs it
# as the station window's test). Needs build-windows/receiver-downloader.exe
# built with the GUI and build/receiver-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-gui.sh
rm -f "$out"/windows-station-*.png

head -c 30000 /dev/urandom >"$work/code.lzs"
printf 'CE123456\r\nCQ\r\nScode.lzs\r\nCX\r\n' >"$work/load.cmd"
script="Z:${work//\//\\}\\load.cmd"
record="Z:${work//\//\\}\\units.csv"

# Before the start: the setup page with the script's check.
wine64 "$exe" --station --script "$script" --port COM5 --port COM6 --port COM7 >"$work/setup.log" 2>&1 &
setup=$!
shot "$(await "Receiver Downloader Station" 60)" windows-station-1-before-start
kill $setup 2>/dev/null || true
wineserver -k 2>/dev/null || true
sleep 1

faults=("" "--error-after 30" "")
for i in 0 1 2; do
  "$linux_build/receiver-sim" --paced ${faults[$i]} >"$work/sim$i.log" 2>&1 &
  pids+=($!)
done
for i in 0 1 2; do
  for _ in $(seq 1 50); do grep -q '^Tool port: ' "$work/sim$i.log" && break; sleep 0.1; done
  ln -sfn "$(sed -n 's/^Tool port: //p' "$work/sim$i.log" | head -1)" "$WINEPREFIX/dosdevices/com$((5 + i))"
done
wine64 "$exe" --station --start --script "$script" --port COM5 --port COM6 --port COM7 --record "$record" \
  >"$work/station.log" 2>&1 &
pids+=($!)
running=$(await "Receiver Downloader Station" 60)
for _ in $(seq 1 60); do grep -q ',error,' "$work/units.csv" 2>/dev/null && break; sleep 0.5; done
shot "$running" windows-station-2-running-one-failed
shot "$(await "Receiver Downloader Station - finished" 60)" windows-station-3-summary
ok=$(grep -c ',success,' "$work/units.csv" || true)
failed=$(grep -c ',error,' "$work/units.csv" || true)
echo "record: $ok succeeded, $failed failed"
[ "$ok" = 2 ] && [ "$failed" = 1 ]
