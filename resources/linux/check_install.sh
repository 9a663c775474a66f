#!/bin/sh
# Installs a build into a scratch directory and checks the files the desktop looks for: the
# programs, the desktop entry, the AppStream metadata and the hicolor icons at their sizes.
# Usage: check_install.sh CMAKE BUILD_DIR SCRATCH_DIR APP_ID PROGRAM...
# PROGRAM: each installed program, relative to the prefix (bin/stiqlet, ...).
set -eu
cmake=$1
build=$2
root=$3
id=$4
shift 4
rm -rf "$root"
"$cmake" --install "$build" --prefix "$root/usr" >/dev/null

expected="usr/share/applications/$id.desktop
usr/share/metainfo/$id.metainfo.xml
usr/share/doc/stiqlet/copyright
usr/share/icons/hicolor/scalable/apps/stiqlet.svg"
for size in 32 48 64 128 256; do
    expected="$expected
usr/share/icons/hicolor/${size}x${size}/apps/stiqlet.png"
done
for program in "$@"; do
    expected="$expected
usr/$program"
done
expected=$(printf '%s\n' "$expected" | sort)
installed=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
status=0
if [ "$installed" != "$expected" ]; then
    echo "installed files differ from the expected ones (-expected +installed):"
    printf '%s\n' "$expected" >"$root/expected.txt"
    printf '%s\n' "$installed" | diff "$root/expected.txt" - || true
    status=1
fi
for program in "$@"; do
    [ -x "$root/usr/$program" ] || { echo "usr/$program is not executable"; status=1; }
done

# A PNG holds its width and height as big-endian numbers at bytes 16 to 23.
for size in 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/stiqlet.png"
    [ -f "$png" ] || continue
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }')
    if [ "$dims" != "${size}x${size}" ]; then
        echo "icon in ${size}x${size}/ is $dims"
        status=1
    fi
done

# The Exec and Icon of the desktop entry name what was installed.
desktop="$root/usr/share/applications/$id.desktop"
grep -qx 'Exec=stiqlet' "$desktop" || { echo "desktop entry does not run stiqlet"; status=1; }
grep -qx 'Icon=stiqlet' "$desktop" || { echo "desktop entry does not name the stiqlet icon"; status=1; }

if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate-tree --no-net "$root" || status=1
else
    echo "appstreamcli not installed: installed tree not validated"
fi
[ "$status" -eq 0 ] && echo "installed files as expected"
exit "$status"
