#!/usr/bin/env bash
# Installs what is missing, builds the note and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target stiqlet
exec ./build/stiqlet
