#!/usr/bin/env bash
# Installs what is missing (test tools included), builds everything and runs every test:
# unit, widget and end-to-end tests through CTest, then a short fuzzing run of the decoders.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure "$@"
tests/fuzz/run-fuzz.sh "${STIQLET_FUZZ_SECONDS:-30}"
