#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that are missing, as root or through sudo.
# Usage: scripts/deps.sh run|test|windows ...
set -euo pipefail

build_packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-image-formats-plugins libjxr-dev libxcb1-dev libxkbcommon-dev fonts-noto-cjk)
test_packages=(xvfb openbox tint2 xdotool xclip wmctrl x11-utils x11-xserver-utils imagemagick
  python3 python3-pil clang libclang-rt-14-dev
  binutils-mingw-w64-x86-64 desktop-file-utils appstream dpkg-dev file libjxr-tools procps
  xauth)
# The Windows build (MinGW-w64 with posix threads, as the Qt kit is built) and Wine to run it.
windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 wine wine64 xvfb xauth xz-utils)

wanted=("${build_packages[@]}")
for set in "${@:-run}"; do
  case "$set" in
    run) ;;
    test) wanted+=("${test_packages[@]}") ;;
    windows) wanted+=("${test_packages[@]}" "${windows_packages[@]}") ;;
    *) echo "deps.sh: unknown set $set (run, test or windows)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "These packages are missing: ${missing[*]}" >&2
  echo "Installing them needs root; as root, run:" >&2
  echo "  su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
