#!/usr/bin/env bash
# Installs what is missing, then builds and runs every check, each build type
# in its own build directory:
#   build-fuzz  the fuzzers (clang, libFuzzer, ASan+UBSan): built, and run a
#               few seconds each on their seed corpora
#   build-tsan  ThreadSanitizer over the whole suite: the link and upload
#               threads, the Outbox hand-off, posted messages and both front
#               ends' event delivery (the wx tests under Xvfb) among it
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer over the whole
#               suite
#   build       the whole suite as shipped
#   build-windows  the Windows program cross-built with mingw-w64 and its
#               tests under Wine (scripts/test-windows.sh), last
# Every section prints how long it took; docs/RELIABILITY.md has the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
# Compiler cache: the four build types share most sources, and a machine that
# ran this before rebuilds only what changed.
source scripts/compiler-cache.sh
sanitizer_options=scripts/sanitizer
# Any sanitizer report fails the test that caused it.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_stack_use_after_return=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/$sanitizer_options/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/$sanitizer_options/tsan.supp"

virtual_display() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

section_start=$SECONDS
section() {
  echo "== $1"
  section_start=$SECONDS
}
section_done() { echo "== done in $((SECONDS - section_start)) s"; }

# Runs ctest in a sanitizer build dir; prints the summary, or everything when
# a test fails.
sanitizer_ctest() {
  local dir=$1 log=$1/ctest.log
  shift
  if (cd "$dir" && virtual_display ctest --output-on-failure -j2 "$@") >"$log" 2>&1; then
    grep -E 'tests passed|Total Test time' "$log"
  else
    cat "$log"
    return 1
  fi
}

section "Fuzzers: build, and a few seconds each"
# Ninja builds the three fuzzers side by side (make: one after the other).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRD_FUZZ=ON -DRD_WITH_GUI=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_script_reader fuzz_frame_reader fuzz_link_dialogue
for name in script_reader frame_reader link_dialogue; do
  work=build-fuzz/fuzz/smoke/$name
  rm -rf "$work" && mkdir -p "$work"
  if ! build-fuzz/fuzz/fuzz_$name -max_total_time=5 -timeout=30 -print_final_stats=1 \
       "$work" "fuzz/corpus/$name" >"$work.log" 2>&1; then
    cat "$work.log"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$work.log"
done
section_done

section "ThreadSanitizer: the whole suite (every threaded test among it)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j"$jobs"
sanitizer_ctest build-tsan
section_done

section "AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DRD_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
sanitizer_ctest build-asan
section_done

section "The whole suite"
scripts/build.sh
(cd build && virtual_display ctest --output-on-failure -j2)
section_done

section "Windows: cross-built, its tests under Wine"
scripts/test-windows.sh
section_done
