#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the tests that feed
# parsers arbitrary bytes in an AddressSanitizer build, then the whole suite
# under a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The tests that feed the parsers arbitrary bytes, again under ASan/UBSan.
asan_tests=(script_reader_test frame_buffer_test upload_thread_test case_insensitive_path_test)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DRD_SANITIZE=ON -DRD_WITH_GUI=OFF >/dev/null
cmake --build build-asan -j"$(nproc)" --target "${asan_tests[@]}"
for t in "${asan_tests[@]}"; do
  build-asan/tests/"$t" --gtest_brief=1
done

# The Windows build and its tests under Wine, on request (RD_WINDOWS_TESTS=1)
# until their run time on CI machines is known. The GUI is built for Windows
# only when wxWidgets for Windows is cached.
if [ "${RD_WINDOWS_TESTS:-0}" != "0" ]; then
  scripts/build.sh
  scripts/test-windows.sh
fi

# The whole suite last, so that its summary closes the output.
scripts/build.sh
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2)
