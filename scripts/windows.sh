#!/usr/bin/env bash
# The Windows stage: cross-builds the program and its tests with MinGW-w64 against a Qt kit for
# Windows, runs the tests under Wine (unit and widget tests, then the end-to-end suite on Xvfb)
# and builds the portable zip.
#
#   scripts/windows.sh             the whole stage (installs what is missing first)
#   scripts/windows.sh --find-kit  prints the kit that would be used; exit 1 when there is none
#
# The kit: $STIQLET_QT_MINGW (a .tar.xz made by scripts/build-qt-mingw.sh, or its unpacked
# folder), else the one scripts/build-qt-mingw.sh left in the cache (~/.cache/stiqlet).
# Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${STIQLET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/stiqlet}

find_kit() {
  if [ -n "${STIQLET_QT_MINGW:-}" ]; then
    if [ -e "$STIQLET_QT_MINGW" ]; then
      echo "$STIQLET_QT_MINGW"
      return 0
    fi
    echo "STIQLET_QT_MINGW names $STIQLET_QT_MINGW, which does not exist" >&2
    return 1
  fi
  if [ -f "$cache/qt6-mingw/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "$cache/qt6-mingw"
    return 0
  fi
  return 1
}

if [ "${1:-}" = --find-kit ]; then
  find_kit
  exit
fi

kit=$(find_kit) || {
  echo "No Qt kit for Windows: set STIQLET_QT_MINGW to one, or make one with scripts/build-qt-mingw.sh" >&2
  exit 1
}
scripts/deps.sh windows

# A tarball is unpacked once into the build tree, again only when it changes.
if [ -f "$kit" ]; then
  unpacked=$PWD/build-qt-mingw
  stamp="$(stat -c '%s %Y' "$kit") $(realpath "$kit")"
  if [ "$(cat "$unpacked/.stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$unpacked"
    mkdir -p "$unpacked"
    tar -C "$unpacked" -xJf "$kit"
    echo "$stamp" > "$unpacked/.stamp"
  fi
  kit=$(find "$unpacked" -maxdepth 4 -name Qt6Config.cmake -path '*/lib/cmake/Qt6/*' | head -n 1)
  kit=${kit%/lib/cmake/Qt6/Qt6Config.cmake}
fi
kit=$(realpath "$kit")

cmake -S . -B build-win -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$kit" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIQLET_WERROR=ON
cmake --build build-win
# One X display for the whole run, which Wine draws to (the end-to-end tests start their own).
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --test-dir build-win --output-on-failure "$@"
