#!/usr/bin/env bash
# Builds the benchmarks and the programs they run, runs receiver_bench,
# link_bench and upload_bench one after the other, and writes what each
# printed (the machine, its load at the start and the end, its table) into
# docs/BENCHMARKS.md between that benchmark's "generated" markers. The text
# outside the markers is left as it is.
#
#   scripts/benchmarks.sh            the full run, written to docs/BENCHMARKS.md
#   scripts/benchmarks.sh --quick    a short run of each benchmark (a few
#                                    minutes), written to a copy of the
#                                    document in the build tree
#   --output FILE                    write the document there instead
#
# The build goes to build/ (or $BUILD_DIR), as with scripts/build.sh. When a
# benchmark fails, no document is written and the status is 1.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
output=""
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --output) output=${2:?--output needs a file}; shift ;;
    *) echo "usage: $0 [--quick] [--output FILE]" >&2; exit 2 ;;
  esac
  shift
done

build_dir=${BUILD_DIR:-build}
document=docs/BENCHMARKS.md
if [ -z "$output" ]; then
  output=$document
  [ $quick -eq 1 ] && output=$build_dir/BENCHMARKS-quick.md
fi
bench_args=()
[ $quick -eq 1 ] && bench_args=(--quick)
receiver_args=("${bench_args[@]}")

# receiver_bench's row for the station window, where it has one: 0 ports
# skips it. The row needs a build with the GUI, a program with the station
# window, and a display (a virtual one where there is none).
gui_station_option=--gui-station-ports

echo "== Load before: $(uptime)"
started=$SECONDS

echo "== Building the benchmarks and the programs they run"
source scripts/compiler-cache.sh
if ! cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; then
  echo "cmake failed: scripts/install-deps.sh installs what the build needs" >&2
  exit 1
fi
cmake --build "$build_dir" -j"$(nproc)" --target receiver_bench link_bench upload_bench

notes=()
receiver_runner=()
if "$build_dir/bench/receiver_bench" --help | grep -q -- "$gui_station_option"; then
  gui_reason=""
  if ! grep -q '^RD_WITH_GUI:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    gui_reason="this build has no GUI (RD_WITH_GUI is off)"
  elif ! "$build_dir/receiver-downloader" --help | grep -Eq -- '--station([^-a-z]|$)'; then
    gui_reason="this receiver-downloader has no station window (--station)"
  elif [ -z "${DISPLAY:-}" ] && ! command -v xvfb-run >/dev/null; then
    gui_reason="there is no display and no xvfb-run"
  fi
  if [ -n "$gui_reason" ]; then
    receiver_args+=("$gui_station_option" 0)
    notes+=("The GUI station row is skipped: $gui_reason.")
  else
    cmake --build "$build_dir" -j"$(nproc)" --target receiver-downloader-gui
    [ -z "${DISPLAY:-}" ] && receiver_runner=(xvfb-run -a -s "-screen 0 1280x1024x24")
  fi
fi
for note in "${notes[@]}"; do echo "== Note: $note"; done

logs=$build_dir/bench/benchmarks-output
mkdir -p "$logs"

# run NAME RUNNER... -- ARGS...: runs the benchmark, its output to
# $logs/NAME.out and the block for the document to $logs/NAME.md.
run() {
  local name=$1 runner=() args=()
  shift
  while [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  args=("$@")
  echo "== $name ${args[*]}"
  local start=$SECONDS status=0
  "${runner[@]}" "$build_dir/bench/$name" "${args[@]}" >"$logs/$name.out" || status=$?
  local took=$((SECONDS - start))
  cat "$logs/$name.out"
  echo "== $name: $took s, exit status $status"
  if [ $status -ne 0 ]; then
    echo "$name failed: $output is left as it was" >&2
    exit 1
  fi
  {
    echo "\`$name${args[*]:+ ${args[*]}}\`, $((took / 60)) min $((took % 60)) s:"
    echo
    echo '```text'
    grep -v '^|' "$logs/$name.out" | sed -e '/^$/d'
    echo '```'
    echo
    grep '^|' "$logs/$name.out"
  } >"$logs/$name.md"
}

run receiver_bench "${receiver_runner[@]}" -- "${receiver_args[@]}"
run link_bench -- "${bench_args[@]}"
run upload_bench -- "${bench_args[@]}"

total=$((SECONDS - started))
{
  echo "Written by \`scripts/benchmarks.sh$([ $quick -eq 1 ] && echo ' --quick')\` on $(date -u +%Y-%m-%d)," \
       "$((total / 60)) min $((total % 60)) s in all, the build included."
  for note in "${notes[@]}"; do echo; echo "$note"; done
} >"$logs/run.md"

# replace_block FILE NAME CONTENT: the lines between "<!-- begin generated:
# NAME -->" and "<!-- end generated: NAME -->" in FILE become CONTENT's.
replace_block() {
  awk -v name="$2" -v content="$3" '
    $0 == "<!-- begin generated: " name " -->" {
      print; print ""
      while ((getline line < content) > 0) print line
      print ""; inside = 1; found = 1; next
    }
    $0 == "<!-- end generated: " name " -->" { inside = 0 }
    !inside { print }
    END { exit (found && !inside) ? 0 : 1 }' "$1" >"$1.new" || {
    rm -f "$1.new"
    echo "$1 has no whole pair of markers for $2" >&2
    return 1
  }
  mv "$1.new" "$1"
}

# All blocks into a copy first: a document with a marker missing stays as it was.
cp "$document" "$logs/document.md"
for block in run receiver_bench link_bench upload_bench; do
  replace_block "$logs/document.md" "$block" "$logs/$block.md"
done
cp "$logs/document.md" "$output"
echo "== Load after: $(uptime)"
echo "== Written: $output ($total s)"
