#!/bin/bash
# Builds the Qt kit for Windows x64 that the Windows build and its tests use:
# qtbase 6.4.2 (Core, Gui, Widgets, Test, Concurrent; the windows, offscreen and minimal
# platform plugins; the windowsvista style; gif, ico and jpeg plugins, PNG built into Gui),
# cross-compiled with Debian 12's MinGW-w64 (posix threads) from Debian's own qt6-base source
# package, so that it matches the host tools (moc, rcc, uic) of Debian's qt6-base-dev-tools.
#
# Usage, as root (or with sudo) on Debian 12 x86_64:  scripts/build-qt-mingw.sh
# Leaves the kit in $STIQLET_CACHE/qt6-mingw (default ~/.cache/stiqlet), where scripts/windows.sh
# and ./test.sh find it, and its tarball beside it. About 20 min at -j2 on two cores, about 5 GB
# of disk in $WORK (default: a folder in the cache, removed at the end). Only Debian's package
# archive is used.
#
# Using the kit: unpack it anywhere, install g++-mingw-w64-x86-64-posix, qt6-base-dev and
# qt6-base-dev-tools, and configure with a toolchain file (CMAKE_SYSTEM_NAME Windows, the
# x86_64-w64-mingw32-*-posix compilers, windres) plus
#   -DCMAKE_PREFIX_PATH=<kit> -DQT_HOST_PATH=/usr
#   -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
# The program then needs beside it: Qt6Core/Gui/Widgets.dll, platforms/qwindows.dll,
# imageformats/*.dll, styles/qwindowsvistastyle.dll, and from the MinGW toolchain
# libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll.
#
# Facts found while making it (Qt 6.4.2, Debian 12):
# - Debian's +dfsg source drops src/3rdparty/wintab, which the windows plugin's tablet support
#   includes: -no-feature-tabletevent.
# - With -no-direct2d, QtGui leaves QWindowsDirectWriteFontDatabase out while qwindows.dll still
#   calls it when directwrite3 is on (undefined reference at the plugin's link):
#   -no-feature-directwrite3. The plugin's GDI font database is unaffected.
# - Debian's cross patch turns androiddeployqt on for cross builds: -no-feature-androiddeployqt.
# - Static constexpr members of exported Qt classes (QOperatingSystemVersion::Windows11) cannot
#   be linked from outside Qt6Core.dll with MinGW: compare with a QOperatingSystemVersionBase
#   value of one's own instead.
set -euo pipefail

CACHE=${STIQLET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/stiqlet}
WORK=${WORK:-$CACHE/qt-mingw-work}
PREFIX=$WORK/qt6-mingw
JOBS=${JOBS:-2}
mkdir -p "$WORK"
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi

"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 \
  qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev perl xz-utils

# Source entries: the same archive and suite as the configured binary entries.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    "${as_root[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  "${as_root[@]}" apt-get update
fi
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev) # e.g. 6.4.2+dfsg-10
SRC=$WORK/qt6-base-${host_qt%-*}
cd "$WORK"
[ -d "$SRC" ] || apt-get source "qt6-base=$host_qt"

# Qt's own build finds packages in the MinGW root only.
TOOLCHAIN=$WORK/mingw-w64-x86_64-posix.cmake
cat > "$TOOLCHAIN" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   /usr/bin/x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/x86_64-w64-mingw32-windres)
set(CMAKE_AR           /usr/bin/x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB       /usr/bin/x86_64-w64-mingw32-ranlib)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

BUILD=$WORK/qtbase-build
rm -rf "$BUILD" "$PREFIX"
mkdir -p "$BUILD"
cd "$BUILD"
"$SRC/configure" \
  -prefix "$PREFIX" -release -shared \
  -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
  -qt-host-path /usr \
  -nomake tests -nomake examples \
  -no-opengl -no-dbus -no-icu -no-zstd -no-direct2d -no-feature-directwrite3 \
  -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -qt-doubleconversion \
  -gif -ico \
  -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-xml \
  -no-feature-tabletevent -no-feature-androiddeployqt -no-feature-windeployqt \
  -- -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
cmake --build . --parallel "$JOBS"
cmake --install .

find "$PREFIX" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
# The build folder's path stays in a few text files and in source-file names inside two DLLs:
# put a neutral path of the same length in its place (the CMake packages are relocatable).
neutral=$(printf '/build/qt-mingw%*s' $(( ${#WORK} > 15 ? ${#WORK} - 15 : 0 )) '' | tr ' ' '/')
[ ${#neutral} -eq ${#WORK} ] &&
  grep -rl --null "$WORK" "$PREFIX" | xargs -0 -r perl -0777 -pi -e "s#\Q$WORK\E#$neutral#g"
tar -C "$WORK" -cJf "$CACHE/qt6-mingw-x86_64.tar.xz" qt6-mingw
rm -rf "$CACHE/qt6-mingw"
mv "$PREFIX" "$CACHE/qt6-mingw"
rm -rf "$WORK"
echo "Qt kit for MinGW: $CACHE/qt6-mingw"
