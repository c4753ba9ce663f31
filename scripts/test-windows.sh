#!/usr/bin/env bash
# Builds the Windows program and its tests (scripts/build-windows.sh) and runs
# them under Wine:
#   1. the core's tests that run on both systems, and the Win32 serial tests,
#      the latter on COM5 mapped to a pseudo-terminal whose far end echoes
#      every byte after a 0x00 (scripts/pty-echo.py);
#   2. the terminal contract end to end: receiver-downloader.exe --no-gui on
#      COM5 against the Linux simulated receiver (build/receiver-sim) on a
#      pseudo-terminal: a download (exit 0, the success text, SHA-256 equal),
#      the line hung up during the upload, Ctrl-C while waiting for the
#      receiver, names beyond ASCII, and a missing script, each with the
#      text and exit status the Linux program gives; existing --trace and
#      --events files written again, an output naming the port in any
#      spelling refused, a script named by its long-path (\\?\) name, no
#      command listed that never went out when the line is hung up before
#      it, and a UTF-16 script or a folder as data file told once, plainly;
#   3. the station: three simulated receivers on COM5..COM7, unit after
#      unit with a record checked against what each receiver got (one line
#      hung up, the others going on), and Ctrl-C in the middle of the files
#      (every port cancelled and its speed given back, exit 130, nothing of
#      the station left running), a second Ctrl-C, and the station killed;
#   4. the installer (setup.exe, NSIS): a silent install for all users and
#      one for the current user, each checked (files, Start-menu shortcut,
#      uninstall entry, the installed program's --version, no .cmd
#      association) and silently uninstalled without a trace; and the
#      program's version resource and icon, read back from the file;
#   5. the GUI (when built with it): scripts/gui-screenshot-windows.sh, and
#      the station window: scripts/station-screenshots-windows.sh.
# Wine runs in a prefix of its own inside the build folder, made once; one
# wineserver is kept up for the run (a cold start per program now and then
# fails to load it, c0000135) and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-windows}
linux_build=${LINUX_BUILD_DIR:-build}

scripts/build-windows.sh >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target windows_tests >/dev/null
if [ ! -x "$linux_build/receiver-sim" ]; then
  [ -f "$linux_build/CMakeCache.txt" ] || cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux_build" -j"$(nproc)" --target receiver-sim >/dev/null
fi

# No menu entries of the host made from the installer's shortcuts.
export WINEPREFIX=$root/$build_dir/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export PATH=/usr/lib/wine:$PATH
[ -f "$WINEPREFIX/system.reg" ] || wine64 wineboot -i >/dev/null 2>&1
# Keeps running until the cleanup stops it (one may run already: then that one).
wineserver -p 2>/dev/null || true
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failed=0
passed=0
result() {  # name, status
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
    echo "passed: $1"
  else
    failed=$((failed + 1))
    echo "FAILED: $1"
  fi
}

# Waits until file has a line starting with prefix and prints the rest of it.
line_after() {
  local file=$1 prefix=$2
  for _ in $(seq 100); do
    if grep -q "^$prefix" "$file" 2>/dev/null; then
      sed -n "s/^$prefix//p" "$file" | head -1
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Points COMn of the prefix at a pseudo-terminal.
map_com() { ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"; }
map_com5() { map_com 5 "$1"; }

# 1. Unit tests.
for t in $(cat "$build_dir/windows-tests.txt" | tr ';' ' '); do
  [ "$t" = serial_win32_test ] && continue
  status=0
  wine64 "$build_dir/tests/windows/$t.exe" --gtest_brief=1 >"$work/$t.log" 2>&1 || status=$?
  [ $status -eq 0 ] || cat "$work/$t.log"
  grep -E '^\[  PASSED  \]' "$work/$t.log" | sed "s/^/$t: /" || true
  result "$t" $status
done

exec {echo_stdin}> >(exec python3 scripts/pty-echo.py >"$work/echo.path")
echo_pty=$(for _ in $(seq 100); do [ -s "$work/echo.path" ] && break; sleep 0.1; done; head -1 "$work/echo.path")
map_com5 "$echo_pty"
status=0
RD_TEST_COM_PORT=COM5 timeout 120 wine64 "$build_dir/tests/windows/serial_win32_test.exe" --gtest_brief=1 \
  >"$work/serial.log" 2>&1 || status=$?
[ $status -eq 0 ] || cat "$work/serial.log"
grep -E '^\[  PASSED  \]' "$work/serial.log" | sed 's/^/serial_win32_test on COM5: /' || true
result "serial_win32_test on COM5" $status
exec {echo_stdin}>&-

# 2. The terminal contract end to end. Each run gets a simulated receiver of
# its own on a fresh pseudo-terminal.
start_sim() {  # log, options...
  local log=$1
  shift
  "$linux_build/receiver-sim" -q "$@" >"$log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  map_com5 "$(line_after "$log" 'Tool port: ')"
}
stop_sim() {
  kill -INT "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
tool() { timeout 180 wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 "$@"; }

# A download, with NUL bytes on the line for the port to drop, into a trace
# and an events file that exist already (left by an earlier run).
cp examples/load.cmd examples/code.lzs "$work/"
echo "an earlier run" >"$work/frames.log"
: >"$work/events.log"
start_sim "$work/sim.log" --nul-bytes
status=0
tool --timeout 60 --script "$work/load.cmd" --trace "$work/frames.log" --events "$work/events.log" \
  >"$work/tool.log" 2>&1 || status=$?
stop_sim
if [ $status -eq 0 ] && ! grep -q "an earlier run" "$work/frames.log" && [ -s "$work/frames.log" ] &&
   grep -q '"end"' "$work/events.log"; then
  result "existing --trace and --events files written again" 0
else
  echo "status $status"; cat "$work/tool.log"
  result "existing --trace and --events files written again" 1
fi
sha=$(sha256sum "$work/code.lzs" | cut -c1-64)
if [ $status -eq 0 ] && grep -q "Download completed successfully" "$work/tool.log" &&
   grep -q "SHA-256 $sha, complete" "$work/sim.log"; then
  result "download under Wine: exit 0, success text, SHA-256 equal" 0
else
  echo "status $status"; cat "$work/tool.log" "$work/sim.log"
  result "download under Wine: exit 0, success text, SHA-256 equal" 1
fi

# The line hung up during the upload: the port is found dead, the
# communication error shown, exit 1, as on Linux.
start_sim "$work/hangup.log" --hangup-after 5
status=0
tool --timeout 60 --script "$work/load.cmd" >"$work/hangup-tool.log" 2>&1 || status=$?
stop_sim
if [ $status -eq 1 ] && grep -q "Communication error" "$work/hangup-tool.log"; then
  result "line hung up during the upload: communication error, exit 1" 0
else
  echo "status $status"; cat "$work/hangup-tool.log" "$work/hangup.log"
  result "line hung up during the upload: communication error, exit 1" 1
fi

# Ctrl-C while the tool waits for a receiver that stays silent: the cancel
# text and exit 130, as on Linux. Wine turns SIGINT into the console's Ctrl-C
# event. (No `timeout` around it: it would pass the signal on to its whole
# process group, the wineserver among it.)
start_sim "$work/silent.log" --silent
wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --script "$work/load.cmd" \
  >"$work/cancel.log" 2>&1 &
tool_pid=$!
pids+=("$tool_pid")
line_after "$work/cancel.log" 'Waiting for Connection' >/dev/null || true
kill -INT "$tool_pid"
status=0
wait "$tool_pid" || status=$?
stop_sim
if [ $status -eq 130 ] && grep -q "Connection Cancelled" "$work/cancel.log"; then
  result "Ctrl-C while waiting: cancel text, exit 130" 0
else
  echo "status $status"; cat "$work/cancel.log"
  result "Ctrl-C while waiting: cancel text, exit 130" 1
fi

# Names beyond ASCII: the folder, the script and the data file it names (the
# script's bytes are UTF-8). Wine takes the arguments in the Unix locale's
# character set, so it is set to UTF-8 here.
named="$work/Ladung für Empfänger"
mkdir -p "$named"
cp examples/code.lzs "$named/daten-ü.lzs"
printf 'CE000001\r\nSdaten-ü.lzs\r\nCX\r\n' >"$named/lädt.cmd"
start_sim "$work/names.log"
status=0
LC_ALL=C.UTF-8 tool --timeout 60 --script "$named/lädt.cmd" >"$work/names-tool.log" 2>&1 || status=$?
stop_sim
if [ $status -eq 0 ] && grep -q "SHA-256 $sha, complete" "$work/names.log"; then
  result "names beyond ASCII: the data file sent whole" 0
else
  echo "status $status"; cat "$work/names-tool.log" "$work/names.log"
  result "names beyond ASCII: the data file sent whole" 1
fi

# An output naming the download's own port, in any spelling: a usage error
# (exit 2) before anything is opened or written.
mkdir -p "$work/cwd"
for spelling in COM5 com5 '\\.\COM5' COM5:; do
  for option in --trace --events; do
    status=0
    (cd "$work/cwd" && timeout 60 wine64 "$root/$build_dir/receiver-downloader.exe" --no-gui --port COM5 \
       --script "$work/load.cmd" "$option" "$spelling") >"$work/port-output.log" 2>&1 || status=$?
    if [ $status -eq 2 ] && grep -q "names the serial port" "$work/port-output.log" &&
       [ -z "$(ls -A "$work/cwd")" ]; then
      result "$option $spelling refused: exit 2, nothing written" 0
    else
      echo "status $status"; cat "$work/port-output.log"; ls -A "$work/cwd"
      result "$option $spelling refused: exit 2, nothing written" 1
    fi
  done
done

# A script by its long-path name (\\?\Z:\...): it and its data file are found
# under that name. (Wine 8 opens no such name past 260 characters, as
# Windows does: the folder stays short of that.)
deep="$work/$(printf 'long-folder-%02d/' $(seq 1 3))"
mkdir -p "$deep"
cp examples/load.cmd examples/code.lzs "$deep"
start_sim "$work/long.log"
status=0
long_script="\\\\?\\$(wine64 winepath -w "$deep/load.cmd" 2>/dev/null | tr -d '\r')"
tool --timeout 60 --script "$long_script" >"$work/long-tool.log" 2>&1 || status=$?
stop_sim
timeout 60 wine64 "$build_dir/receiver-downloader.exe" --check "$long_script" >>"$work/long-tool.log" 2>&1 || status=$?
if [ $status -eq 0 ] && grep -q "SHA-256 $sha, complete" "$work/long.log"; then
  result "script by its long-path name: --check sound, the data file sent whole" 0
else
  echo "status $status ($long_script)"; cat "$work/long-tool.log" "$work/long.log"
  result "script by its long-path name: --check sound, the data file sent whole" 1
fi

# The line hung up just after the receiver asked for X: X never goes out, so
# it is never listed (the operator would take it as run), before or after
# the communication error.
# (E, Q, the data file's header and its 47 chunks: 50 upload frames.)
start_sim "$work/before-x.log" --hangup-after-upload-frames 50
status=0
tool --timeout 60 --script "$work/load.cmd" >"$work/before-x-tool.log" 2>&1 || status=$?
stop_sim
if [ $status -eq 1 ] && grep -q "Communication error" "$work/before-x-tool.log" &&
   ! grep -q "Command: X" "$work/before-x-tool.log"; then
  result "hung up before X: communication error, X never listed" 0
else
  echo "status $status"; cat "$work/before-x-tool.log" "$work/before-x.log"
  result "hung up before X: communication error, X never listed" 1
fi

# A script saved as UTF-16 (Notepad's "Unicode"), and a data file that is a
# folder: each told once, plainly, before the port is opened (exit 1).
printf 'CE000001\r\nCX\r\n' | iconv -f UTF-8 -t UTF-16 >"$work/unicode.cmd"  # with its mark, FF FE
mkdir -p "$work/folder.lzs"
printf 'CE000001\r\nSfolder.lzs\r\nCX\r\n' >"$work/folder.cmd"
for case in "unicode.cmd:save it as ANSI or UTF-8" "folder.cmd:is a folder"; do
  status=0
  # The box on stdout, the check's detail line on stderr.
  tool --script "$work/${case%%:*}" >"$work/case.log" 2>"$work/case.err" || status=$?
  if [ $status -eq 1 ] && [ "$(grep -c "${case#*:}" "$work/case.log")" -eq 1 ] &&
     ! grep -q -e "Unknown command" -e "not found" "$work/case.log" "$work/case.err"; then
    result "${case%%:*}: \"${case#*:}\" once, exit 1" 0
  else
    echo "status $status"; cat "$work/case.log" "$work/case.err"
    result "${case%%:*}: \"${case#*:}\" once, exit 1" 1
  fi
done

# A missing script: refused before the port is opened, exit 1.
status=0
tool --script "$work/missing.cmd" >"$work/missing.log" 2>&1 || status=$?
if [ $status -eq 1 ] && grep -q "Unable to open the script file" "$work/missing.log"; then
  result "missing script: exit 1" 0
else
  echo "status $status"; cat "$work/missing.log"
  result "missing script: exit 1" 1
fi

# 3. The station. Each port gets a simulated receiver of its own, started
# with options; the pseudo-terminal's speed is set to 9600 first, so that a
# port left at the download's 38400 shows.
start_station_sims() {  # log prefix, then one quoted option string per port (COM5, COM6, ...)
  local prefix=$1 n=5
  shift
  station_sims=()
  for options in "$@"; do
    # shellcheck disable=SC2086
    "$linux_build/receiver-sim" -q $options >"$prefix$n.log" 2>&1 &
    pids+=("$!")
    station_sims+=("$!")
    local pty
    pty=$(line_after "$prefix$n.log" 'Tool port: ')
    stty -F "$pty" 9600
    echo "$pty" >"$prefix$n.pty"
    map_com $n "$pty"
    n=$((n + 1))
  done
}
# Each port's pseudo-terminal at 9600 again, while its receiver still runs.
speeds_given_back() {  # log prefix, port numbers
  local prefix=$1 n speed
  shift
  for n in "$@"; do
    speed=$(stty -F "$(cat "$prefix$n.pty")" speed 2>&1) || true
    [ "$speed" = 9600 ] || { echo "COM$n left at $speed"; return 1; }
  done
}
# Ends the station's receivers, each printing its summary.
stop_station_sims() {
  local pid
  for pid in "${station_sims[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
}
# Nothing of the station's left: its children name the work folder.
none_left() { ! pgrep -f "$(basename "$work")" >/dev/null; }
mkdir -p "$work/station"
cp examples/load.cmd examples/code.lzs "$work/station/"

# Unit after unit on three ports, the third hanging up in its first file:
# its unit fails with the communication error (and the port, gone, can be
# opened no more), the two others load both their units; every record line
# agrees with its receiver.
# The receivers keep powering on until the station has ended: one that ended
# by itself right after its last unit would hang its line up under the
# station's last frames.
start_station_sims "$work/units-" "--next-unit-delay 1" "--next-unit-delay 1" "--hangup-after 20"
status=0
timeout 300 wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --port COM6 --port COM7 \
  --script "$work/station/load.cmd" --repeat --units 2 --timeout 60 --record "$work/station/units.csv" \
  >"$work/units.out" 2>&1 || status=$?
# (COM7's line is gone with its hang-up.)
speeds=0
speeds_given_back "$work/units-" 5 6 || speeds=1
stop_station_sims
check=0
python3 tests/windows/station_record_check.py "$work/station/units.csv" \
  COM5 "$work/units-5.log" "success 2" COM6 "$work/units-6.log" "success 2" \
  COM7 "$work/units-7.log" "error Communication error" || check=1
if [ $status -eq 1 ] && [ $check -eq 0 ] && grep -q "Summary: 3 ports, 6 units: 4 succeeded, 2 failed" "$work/units.out" &&
   [ $speeds -eq 0 ] && none_left; then
  result "station under Wine: 3 ports, --repeat --units 2, one line hung up, every record line checked" 0
else
  echo "status $status"; cat "$work/units.out" "$work/station/units.csv" "$work"/units-*.log
  result "station under Wine: 3 ports, --repeat --units 2, one line hung up, every record line checked" 1
fi

# A record that cannot take a line (a folder, a file in a folder that does
# not exist) is refused before any port starts: exit 2, no port opened.
# (Wine run as root writes to a read-only file, so that is not tried here.)
start_station_sims "$work/refused-" "" ""
refused=0
for record in "$work/station" "$work/station/none/units.csv"; do
  status=0
  timeout 60 wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --port COM6 \
    --script "$work/station/load.cmd" --record "$record" >"$work/refused.out" 2>&1 || status=$?
  if [ $status -ne 2 ] || ! grep -q "cannot write the record" "$work/refused.out" ||
     grep -q "port open" "$work/refused.out"; then
    echo "status $status"; cat "$work/refused.out"; refused=1
  fi
done
speeds_given_back "$work/refused-" 5 6 || refused=1
stop_station_sims
result "station under Wine: a record that takes no line refused before any port starts, exit 2" $refused

# Ctrl-C while every port is in the middle of its file (paced at the line's
# speed, 32 KiB take about 9 s): each cancels and gives its port back, the
# record has a cancelled line per port, exit 130.
head -c 32768 /dev/urandom >"$work/station/big.bin"
printf 'CE000001\r\nCQ\r\nSbig.bin\r\nCX\r\n' >"$work/station/big.cmd"
start_station_sims "$work/cancel-" --paced --paced --paced
# (wine64 itself in the background, so that the signal reaches it.)
wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --port COM6 --port COM7 \
  --script "$work/station/big.cmd" --record "$work/station/cancel.csv" >"$work/station-cancel.out" 2>&1 &
station_pid=$!
pids+=("$station_pid")
for _ in $(seq 300); do
  [ "$(grep -o '^COM[567] *loading' "$work/station-cancel.out" | sort -u | wc -l)" -ge 3 ] && break
  sleep 0.1
done
kill -INT "$station_pid"
status=0
wait "$station_pid" || status=$?
speeds=0
speeds_given_back "$work/cancel-" 5 6 7 || speeds=1
stop_station_sims
check=0
python3 tests/windows/station_record_check.py "$work/station/cancel.csv" \
  COM5 "$work/cancel-5.log" cancelled COM6 "$work/cancel-6.log" cancelled COM7 "$work/cancel-7.log" cancelled ||
  check=1
if [ $status -eq 130 ] && [ $check -eq 0 ] && [ $speeds -eq 0 ] && none_left; then
  result "station under Wine: Ctrl-C mid-file: every port cancelled and given back, exit 130, none left" 0
else
  echo "status $status"; cat "$work/station-cancel.out" "$work/station/cancel.csv"
  result "station under Wine: Ctrl-C mid-file: every port cancelled and given back, exit 130, none left" 1
fi

# A second Ctrl-C ends every port at once, each given back first; a station
# killed outright takes its children with it (its job object).
start_station_sims "$work/again-" --paced --paced --paced
wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --port COM6 --port COM7 \
  --script "$work/station/big.cmd" >"$work/station-again.out" 2>&1 &
station_pid=$!
pids+=("$station_pid")
for _ in $(seq 300); do
  [ "$(grep -o '^COM[567] *loading' "$work/station-again.out" | sort -u | wc -l)" -ge 3 ] && break
  sleep 0.1
done
# (The first alone may end the station already: its children cancel fast.)
kill -INT "$station_pid"
sleep 0.05
kill -INT "$station_pid" 2>/dev/null || true
status=0
wait "$station_pid" || status=$?
speeds=0
speeds_given_back "$work/again-" 5 6 7 || speeds=1
stop_station_sims
if [ $status -eq 130 ] && [ $speeds -eq 0 ] && none_left; then
  result "station under Wine: Ctrl-C twice: every port given back, exit 130, none left" 0
else
  echo "status $status"; cat "$work/station-again.out"
  result "station under Wine: Ctrl-C twice: every port given back, exit 130, none left" 1
fi
start_station_sims "$work/killed-" --paced --paced --paced
wine64 "$build_dir/receiver-downloader.exe" --no-gui --port COM5 --port COM6 --port COM7 \
  --script "$work/station/big.cmd" >"$work/station-killed.out" 2>&1 &
station_pid=$!
pids+=("$station_pid")
for _ in $(seq 300); do
  [ "$(grep -o '^COM[567] *loading' "$work/station-killed.out" | sort -u | wc -l)" -ge 3 ] && break
  sleep 0.1
done
kill -KILL "$station_pid"
wait "$station_pid" 2>/dev/null || true
left=1
for _ in $(seq 100); do none_left && { left=0; break; }; sleep 0.1; done
stop_station_sims
if [ $left -eq 0 ]; then
  result "station under Wine: killed outright, none of its children left" 0
else
  pgrep -af "$(basename "$work")"
  result "station under Wine: killed outright, none of its children left" 1
fi

# 4. The installer, and what Explorer shows of the program.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
setup=$build_dir/receiver-downloader-$version-setup.exe

# The program's version details and icon, as its file holds them.
status=0
# (No grep -q after a pipe: its early exit would fail the pipe.)
wrestool -l "$build_dir/receiver-downloader.exe" | grep >/dev/null -- '--type=14 ' || status=1
wrestool -x -R --type=16 "$build_dir/receiver-downloader.exe" | strings -el >"$work/version.txt" || status=1
for field in "ProductName:Receiver Downloader" "FileDescription:Receiver Downloader" \
             "CompanyName:The Receiver Downloader developers" "FileVersion:$version" "ProductVersion:$version"; do
  grep -A1 -x "${field%%:*}" "$work/version.txt" | tail -1 | grep >/dev/null -x "${field#*:}" || status=1
done
[ $status -eq 0 ] || { echo "resources:"; wrestool -l "$build_dir/receiver-downloader.exe"; cat "$work/version.txt"; }
result "receiver-downloader.exe: icon and version details ($version)" $status

# A Windows path of the prefix as a path here.
unix_path() { wine64 winepath -u "$1" 2>/dev/null | tr -d '\r'; }
shell_folder() { unix_path "$(wine64 cmd /c "echo %$1%" 2>/dev/null | tr -d '\r')"; }
# The texts a shortcut holds (target, arguments), in either encoding.
link_text() { [ -f "$1" ] && { strings -a "$1"; strings -el "$1"; }; }
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\ReceiverDownloader'
# install_check name, setup options, install folder, Start-menu folder, registry root
install_check() {
  local name=$1 options=$2 folder=$3 menu=$4 root=$5 problems=() f
  local cmd_before cmd_after
  # Nothing left from an earlier run that failed.
  rm -rf "$folder" "$menu"/Receiver\ Downloader*.lnk
  wine64 reg delete "$root\\$uninstall_key" /f >/dev/null 2>&1 || true
  cmd_before=$(wine64 reg query 'HKCR\.cmd' 2>&1 | tr -d '\r' || true)
  # shellcheck disable=SC2086
  timeout 120 wine64 "$setup" /S $options >/dev/null 2>&1 || problems+=("setup.exe failed")
  for f in receiver-downloader.exe uninstall.exe README.md LICENSE.txt CHANGELOG.md \
           examples/load.cmd examples/code.lzs; do
    [ -f "$folder/$f" ] || problems+=("no $f")
  done
  link_text "$menu/Receiver Downloader.lnk" | grep >/dev/null 'Receiver Downloader\\receiver-downloader.exe$' ||
    problems+=("no Start-menu shortcut to the program")
  if grep -q '^RD_STATION_SHORTCUT:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    link_text "$menu/Receiver Downloader Station.lnk" | grep >/dev/null -x -- '--station' ||
      problems+=("no Start-menu shortcut to the station window")
  fi
  wine64 reg query "$root\\$uninstall_key" >"$work/key.txt" 2>&1 || true
  for value in "DisplayName.*Receiver Downloader" "DisplayVersion.*$version" "Publisher.*The Receiver" \
               "DisplayIcon.*receiver-downloader.exe" "QuietUninstallString.*uninstall.exe\" /S" \
               "EstimatedSize.*0x" "NoModify.*0x1" "NoRepair.*0x1"; do
    grep -q "$value" "$work/key.txt" || problems+=("uninstall entry without $value")
  done
  cmd_after=$(wine64 reg query 'HKCR\.cmd' 2>&1 | tr -d '\r' || true)
  [ "$cmd_before" = "$cmd_after" ] || problems+=(".cmd association changed")
  [ "$(timeout 60 wine64 "$folder/receiver-downloader.exe" --version 2>&1 | tr -d '\r')" = \
    "Receiver Downloader $version" ] || problems+=("installed program's --version is not $version")

  # The uninstaller copies itself away and returns at once: wait for its copy.
  timeout 60 wine64 "$folder/uninstall.exe" /S >/dev/null 2>&1 || problems+=("uninstall.exe failed")
  for _ in $(seq 300); do [ -e "$folder" ] || break; sleep 0.1; done
  [ ! -e "$folder" ] || problems+=("left behind: $(find "$folder" | tr '\n' ' ')")
  ! ls "$menu"/Receiver\ Downloader*.lnk >/dev/null 2>&1 || problems+=("Start-menu shortcut left behind")
  ! wine64 reg query "$root\\$uninstall_key" >/dev/null 2>&1 || problems+=("uninstall entry left behind")

  [ ${#problems[@]} -eq 0 ] || printf '  %s\n' "${problems[@]}"
  result "$name" ${#problems[@]}
}
if [ -f "$setup" ]; then
  install_check "setup.exe /S for all users (administrator): installed, runs $version, uninstalled" "" \
    "$(shell_folder ProgramFiles)/Receiver Downloader" \
    "$(shell_folder ProgramData)/Microsoft/Windows/Start Menu/Programs" HKLM
  install_check "setup.exe /S /CurrentUser: installed, runs $version, uninstalled" /CurrentUser \
    "$(shell_folder LOCALAPPDATA)/Programs/Receiver Downloader" \
    "$(shell_folder APPDATA)/Microsoft/Windows/Start Menu/Programs" HKCU
else
  result "setup.exe built ($setup)" 1
fi

# 5. The GUI: each dialog shown and a whole download through them (the demo,
# over the line inside the process), on a virtual display of its own.
if grep -q "^RD_WITH_GUI:BOOL=ON" "$build_dir/CMakeCache.txt"; then
  # Wine's windows go to the display its server was started on: the GUI's
  # run starts one of its own on its virtual display.
  wineserver -k 2>/dev/null || true
  status=0
  timeout 300 scripts/gui-screenshot-windows.sh "$work/screenshots" >"$work/gui.log" 2>&1 || status=$?
  [ $status -eq 0 ] || cat "$work/gui.log"
  result "GUI under Wine: the three dialogs and the demo's download" $status
  wineserver -k 2>/dev/null || true
  status=0
  timeout 300 scripts/station-screenshots-windows.sh "$work/screenshots" >"$work/station-window.log" 2>&1 || status=$?
  [ $status -eq 0 ] || cat "$work/station-window.log"
  result "station window under Wine: three ports, one failed, the summary and the record" $status
fi

echo "Windows tests under Wine: $passed passed, $failed failed"
[ $failed -eq 0 ]
