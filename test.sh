#!/usr/bin/env bash
# Installs what is missing (test tools included), builds everything and runs every test:
# unit, widget and end-to-end tests through CTest; the Windows build and its tests under Wine
# (when a Qt kit for Windows is available); the unit tests under the sanitizers, the threaded
# code's tests under ThreadSanitizer; then a short fuzzing run of the decoders. Every stage runs
# even when an earlier one fails; a summary line per stage ends the run, and the exit status is
# non-zero when any stage failed.
# Arguments go to the first ctest run.
set -uo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test || exit 1

linux() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_WERROR=ON
  cmake --build build
  ctest --test-dir build --output-on-failure "$@"
}

# The same sources cross-built for Windows, their tests run under Wine.
windows() {
  scripts/windows.sh
}

# The library and the unit and widget tests again under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer: any report ends the test program with an error.
sanitizers() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_SANITIZE=ON
  cmake --build build-asan
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan -L unit --output-on-failure
}

# The tests of the code that runs on several threads (the halving, the streaming decode, the
# paste and the drop, the X11 clipboard's transfer) under ThreadSanitizer: a data race ends the
# test program with an error.
threads() {
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_SANITIZE_THREAD=ON
  cmake --build build-tsan --target tst_drawcopy tst_streamingdecode tst_paste \
    tst_clipboardx11display clipboard_owner
  # die_after_fork=0: a test starts a helper program with QProcess, and ThreadSanitizer would end
  # the forked child of the threaded test program before it runs the helper.
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan -L threads --output-on-failure
}

fuzzing() {
  tests/fuzz/run-fuzz.sh "${STIQLET_FUZZ_SECONDS:-15}"
}

summary=()
failed=0
# Runs one stage in a shell of its own that stops at its first failing command.
stage() {
  local name=$1
  shift
  local start=$SECONDS status
  echo "=== $name"
  (
    set -e
    "$@"
  )
  status=$?
  local result=passed
  if [ "$status" -ne 0 ]; then
    result="failed (exit status $status)"
    failed=1
  fi
  summary+=("$(printf '%-11s %s in %d s' "$name" "$result" $((SECONDS - start)))")
}

stage linux linux "$@"
if kit=$(scripts/windows.sh --find-kit 2>/dev/null); then
  echo "Windows stage with the Qt kit $kit"
  stage windows windows
else
  summary+=("$(printf '%-11s %s' windows "skipped: no Qt kit for Windows (set STIQLET_QT_MINGW to one, or run scripts/build-qt-mingw.sh once, about 20 min)")")
fi
stage sanitizers sanitizers
stage threads threads
stage fuzzing fuzzing

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
