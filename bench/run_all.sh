#!/usr/bin/env bash
# Runs every benchmark against the real program on a private Xvfb display and writes
# bench/RESULTS.md and bench/paste_memory.png.
#
# Usage: bench/run_all.sh [--quick] [--build DIR] [--type Release|RelWithDebInfo]
#   --quick  fewer runs and shorter idle windows (a few minutes instead of about fifteen)
#   --build  build folder to configure and build the program and stiqlet_decode_floor in
#            (default: build-bench in the project)
# Installs what it needs with apt-get when missing (as root, or through sudo).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
quick=0
build=$root/build-bench
type=Release
while (($#)); do
    case $1 in
    --quick) quick=1 ;;
    --build) build=$2; shift ;;
    --type) type=$2; shift ;;
    *) echo "usage: $0 [--quick] [--build DIR] [--type TYPE]" >&2; exit 2 ;;
    esac
    shift
done

# --- tools -----------------------------------------------------------------------------------
need=()
for pair in feh:feh Xvfb:xvfb openbox:openbox xdotool:xdotool xclip:xclip xprop:x11-utils \
    xwininfo:x11-utils xsetroot:x11-xserver-utils wmctrl:wmctrl import:imagemagick \
    cc:gcc cmake:cmake ninja:ninja-build; do
    command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
done
python=/usr/bin/python3
"$python" -c 'import PIL' 2>/dev/null || need+=(python3-pil)
[[ -e /usr/include/xcb/xcb.h ]] || need+=(libxcb1-dev)
ldconfig -p | grep -q 'libXtst.so.6' || need+=(libxtst6)
if ((${#need[@]})); then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    echo "installing: ${need[*]}"
    "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

# --- build -----------------------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DSTIQLET_BENCH=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target stiqlet >/dev/null
floor=$build/bench/stiqlet_decode_floor
if cmake --build "$build" -j2 --target stiqlet_decode_floor >/dev/null 2>&1; then
    :
else
    # The project does not build the benchmark programs yet: link the floor program as the
    # note itself is linked, with its main replaced.
    floor=$build/stiqlet_decode_floor
    # shellcheck disable=SC2046
    c++ -O2 -DNDEBUG -std=c++17 -fPIC -I"$root" $(pkg-config --cflags Qt6Gui Qt6Widgets) \
        -c "$here/decode_floor.cpp" -o "$build/decode_floor.o"
    link=$(cd "$build" && ninja -t commands stiqlet | tail -n1)
    link=${link#*&& }
    link=${link%% && :*}
    link=$(sed -e 's#[^ ]*stiqlet_autogen/mocs_compilation.cpp.o##' \
        -e "s#[^ ]*/main.cpp.o#$build/decode_floor.o#" -e "s#-o [^ ]*stiqlet #-o $floor #" \
        <<<"$link")
    (cd "$build" && eval "$link")
fi
# The toolkit's floor for the start-up: a bare Qt Widgets window.
bare=$build/bench/stiqlet_bare_window
if ! cmake --build "$build" -j2 --target stiqlet_bare_window >/dev/null 2>&1; then
    bare=$build/stiqlet_bare_window
    # shellcheck disable=SC2046
    c++ -O2 -DNDEBUG -std=c++17 -fPIC $(pkg-config --cflags Qt6Widgets) \
        "$here/bare_window.cpp" -o "$bare" $(pkg-config --libs Qt6Widgets)
fi
export STIQLET_BIN=$build/stiqlet

# --- run -------------------------------------------------------------------------------------
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cache=${XDG_CACHE_HOME:-$HOME/.cache}/stiqlet-bench
if ((quick)); then runs=5; idle_windows=5; idle_seconds=4; else runs=7; idle_windows=5; idle_seconds=12; fi

cd "$here"
started=$(date +%s)
"$python" - "$out" "$cache" "$floor" "$bare" "$runs" "$idle_windows" "$idle_seconds" <<'EOF'
import sys
import common, startup, paste, memory, resize, idle

out, cache, floor, bare, runs, windows, seconds = sys.argv[1:]
runs, windows, seconds = int(runs), int(windows), float(seconds)
binary = common.harness.program_path()
for kind in common.KINDS:
    for w, h in common.SIZES:
        common.picture(cache, kind, w, h)
x, dpy = common.start_x()
try:
    common.save(out, "startup", startup.run(x, dpy, binary, runs, bare))
    common.save(out, "paste", paste.run(x, dpy, binary, floor, cache, runs))
    common.save(out, "memory", memory.run(x, dpy, binary, cache, 5))
    common.save(out, "resize", resize.run(x, dpy, binary, cache, runs))
    common.save(out, "idle", idle.run(x, dpy, binary, cache, windows, seconds))
finally:
    dpy.close()
    x.stop()
# The paste again on the commonest desktop's screen, where a 4K picture is twice its size.
x, dpy = common.start_x(*common.FULL_HD)
try:
    common.save(out, "paste_full_hd", paste.run(x, dpy, binary, floor, cache, runs, peer=False))
finally:
    dpy.close()
    x.stop()
EOF
finished=$(date +%s)
command="bench/run_all.sh$( ((quick)) && echo ' --quick')"
"$python" "$here/report.py" --results "$out" --out "$here" --build-type "$type" \
    --command "$command" --runs "$runs" --seconds $((finished - started))
echo "wrote $here/RESULTS.md and $here/paste_memory.png"
