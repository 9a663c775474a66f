#!/bin/sh
# Builds the Debian package of a build tree with CPack, checks its control fields, unpacks it
# into a scratch root and checks the files it installs.
# Usage: check_deb.sh CPACK BUILD_DIR SCRATCH_DIR VERSION APP_ID MAINTAINER PROGRAM...
# PROGRAM: each installed program, relative to /usr (bin/stiqlet, ...).
set -eu
cpack=$1
build=$2
scratch=$3
version=$4
id=$5
maintainer=$6
shift 6
rm -rf "$scratch"
mkdir -p "$scratch"
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    exit 1
fi
deb=$(find "$scratch/out" -maxdepth 1 -name 'stiqlet_*.deb' | head -n 1)
if [ -z "$deb" ]; then
    echo "cpack built no stiqlet_*.deb:"
    cat "$scratch/cpack.log"
    exit 1
fi
echo "checking $deb"

status=0
# Fails the check when the control field does not match the shell pattern.
field() {
    got=$(dpkg-deb -f "$deb" "$1")
    case "$got" in
    $2) ;;
    *)
        echo "control field $1 is '$got', expected $2"
        status=1
        ;;
    esac
}
field Package stiqlet
field Version "$version"
field Architecture "$(dpkg --print-architecture)"
field Maintainer "$maintainer"
field Homepage "https://*"
field Depends "*libqt6widgets6*"
field Depends "*qt6-qpa-plugins*"
field Recommends "*fonts-noto-cjk*"
field Description "*sticky note*"

dpkg-deb -x "$deb" "$scratch/root"
for file in "usr/share/applications/$id.desktop" \
    "usr/share/metainfo/$id.metainfo.xml" \
    usr/share/doc/stiqlet/copyright \
    usr/share/icons/hicolor/scalable/apps/stiqlet.svg \
    usr/share/icons/hicolor/64x64/apps/stiqlet.png; do
    if [ ! -f "$scratch/root/$file" ]; then
        echo "the package lacks $file"
        status=1
    fi
done
for program in "$@"; do
    [ -x "$scratch/root/usr/$program" ] || { echo "the package's usr/$program is not executable"; status=1; }
done
# Everything lies under /usr.
outside=$(cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
if [ -n "$outside" ]; then
    echo "the package installs outside /usr: $outside"
    status=1
fi
exit $status
