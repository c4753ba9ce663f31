#!/usr/bin/env bash
# How soon a station's children end once the station is killed (SIGKILL)
# while they wait for their receivers: two silent simulated receivers, the
# station killed 2 s after its start, each child watched every 10 ms until
# it has ended (a zombie waiting for its new parent to reap it counts as
# ended: it holds no port). Prints one line per run.
# Usage: bench/station_kill.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
list=$(mktemp)
trap 'rm -f "$list"' EXIT

ended() { [ ! -e "/proc/$1" ] || grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

for ((run = 1; run <= runs; ++run)); do
    "$build/receiver-sim" --silent --count 2 -q >"$list" &
    sim=$!
    while [ "$(grep -c '^Tool port: ' "$list")" -lt 2 ]; do sleep 0.05; done
    mapfile -t ports < <(sed -n 's|^Tool port: |--port\n|p' "$list")
    "$build/receiver-downloader" --no-gui "${ports[@]}" --timeout 60 --script examples/load.cmd >/dev/null 2>&1 &
    station=$!
    disown "$station"  # its death by SIGKILL is the point: no job report
    sleep 2
    children=$(pgrep -P "$station" | tr '\n' ' ')
    kill -KILL "$station"
    start=$(date +%s.%N)
    for pid in $children; do
        while ! ended "$pid"; do sleep 0.01; done
    done
    echo "run $run: children ${children% } ended $(awk -v from="$start" -v to="$(date +%s.%N)" 'BEGIN { printf "%.3f", to - from }') s after the station's kill"
    kill -INT "$sim"
    wait "$sim" 2>/dev/null || true
done
