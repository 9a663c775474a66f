#!/usr/bin/env bash
# Installs what is missing (test tools included), builds everything and runs every test:
# unit, widget and end-to-end tests through CTest, the Windows build and its tests under Wine
# (when a Qt kit for Windows is available), then a short fuzzing run of the decoders.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure "$@"

# The same sources cross-built for Windows, their tests run under Wine.
if kit=$(scripts/windows.sh --find-kit 2>/dev/null); then
  echo "Windows stage with the Qt kit $kit"
  scripts/windows.sh
else
  echo "Windows stage skipped: no Qt kit for Windows (set STIQLET_QT_MINGW to one, or run scripts/build-qt-mingw.sh once, about 20 min)"
fi

# The library and the unit and widget tests again under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer: any report ends the test program with an error.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_SANITIZE=ON
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
  ctest --test-dir build-asan -L unit --output-on-failure
tests/fuzz/run-fuzz.sh "${STIQLET_FUZZ_SECONDS:-15}"
