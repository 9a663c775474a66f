#!/usr/bin/env bash
# Installs what is missing (test tools included), builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure "$@"
