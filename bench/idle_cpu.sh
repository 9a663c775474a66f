#!/usr/bin/env bash
# Idle CPU cost of the hotkey watch. Runs the note untouched, its watch on, on a private Xvfb
# display managed by openbox, and measures the CPU time the program and the X server use. Then
# does the same for bare_poller.c, which makes the same reading (one xcb_query_keymap round trip
# every 100 ms) and nothing else: the floor the note is compared with.
#
# Usage: bench/idle_cpu.sh [seconds]    seconds of each measurement, default 60
# The program is $STIQLET_BIN, or build/stiqlet in the project. Needs Xvfb, openbox, xprop, a C
# compiler and the xcb headers.
#
# CPU time is read from /proc/<pid>/stat (utime + stime of all threads, in clock ticks of
# 1/CLK_TCK s) and, finer, from the scheduler's run time of every thread
# (/proc/<pid>/task/*/schedstat, in ns) where the kernel provides it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
program=${STIQLET_BIN:-$here/../build/stiqlet}
settle=3 # seconds a client gets to finish starting before it is measured

if [[ ! -x $program ]]; then
    echo "idle_cpu: no program at $program (build it, or set STIQLET_BIN)" >&2
    exit 1
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -Wall -o "$work/bare_poller" "$here/bare_poller.c" -lxcb

# A private display, numbered by the server itself.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" \
    2>"$work/xvfb.log" &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || { echo "idle_cpu: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY SESSION_MANAGER
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

clk=$(getconf CLK_TCK)

# utime + stime of a process, all threads, in clock ticks.
stat_ticks() {
    local s
    s=$(<"/proc/$1/stat")
    s=${s##*) } # the fields after the command name; utime and stime are the 12th and 13th
    read -r -a f <<<"$s"
    echo $((f[11] + f[12]))
}

# Run time of all the threads of a process in ns, or -1 without scheduler statistics.
sched_ns() {
    local total=0 ns file
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns _ <"$file" 2>/dev/null || { echo -1; return; }
        total=$((total + ns))
    done
    echo "$total"
}

# Measures a running client and the X server for $seconds; prints
# "client_ticks client_ns server_ticks server_ns elapsed_ns".
measure() {
    local pid=$1
    sleep "$settle"
    kill -0 "$pid" 2>/dev/null || { echo "idle_cpu: the client ended early" >&2; exit 1; }
    local a0 b0 c0 d0 t0 a1 b1 c1 d1 t1
    a0=$(stat_ticks "$pid") b0=$(sched_ns "$pid") c0=$(stat_ticks "$xvfb") d0=$(sched_ns "$xvfb")
    t0=$(date +%s%N)
    sleep "$seconds"
    a1=$(stat_ticks "$pid") b1=$(sched_ns "$pid") c1=$(stat_ticks "$xvfb") d1=$(sched_ns "$xvfb")
    t1=$(date +%s%N)
    local bn=-1 dn=-1
    ((b0 >= 0 && b1 >= 0)) && bn=$((b1 - b0))
    ((d0 >= 0 && d1 >= 0)) && dn=$((d1 - d0))
    echo "$((a1 - a0)) $bn $((c1 - c0)) $dn $((t1 - t0))"
}

stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

"$program" >"$work/program.log" 2>&1 &
note=$!
pids+=("$note")
note_figures=$(measure "$note")
stop "$note"

"$work/bare_poller" &
poller=$!
pids+=("$poller")
poller_figures=$(measure "$poller")
stop "$poller"

awk -v clk="$clk" -v secs="$seconds" -v n="$note_figures" -v p="$poller_figures" '
function perMinute(ms, elapsedNs) { return ms * 60e9 / elapsedNs }
# CPU ms per minute: the scheduler figure where there is one, else the clock-tick figure.
function best(ticks, ns, elapsedNs) {
    return ns >= 0 ? perMinute(ns / 1e6, elapsedNs) : perMinute(ticks * 1000 / clk, elapsedNs)
}
function row(name, f,    v) {
    split(f, v, " ")
    printf "%-22s %10.1f %10.1f %14.1f %10.1f\n", name,
        perMinute(v[1] * 1000 / clk, v[5]), (v[2] >= 0 ? perMinute(v[2] / 1e6, v[5]) : -1),
        perMinute(v[3] * 1000 / clk, v[5]), (v[4] >= 0 ? perMinute(v[4] / 1e6, v[5]) : -1)
}
BEGIN {
    printf "Idle CPU, ms of CPU time per minute, each measured over %s s (-1: not available)\n", secs
    printf "%-22s %10s %10s %14s %10s\n", "", "client", "", "X server", ""
    printf "%-22s %10s %10s %14s %10s\n", "", "stat", "sched", "stat", "sched"
    row("stiqlet, watch on", n)
    row("bare poller (floor)", p)
    split(n, a, " "); split(p, b, " ")
    c1 = best(a[1], a[2], a[5]); c2 = best(b[1], b[2], b[5])
    s1 = best(a[3], a[4], a[5]); s2 = best(b[3], b[4], b[5])
    printf "ratio stiqlet / floor: client %s, X server %s\n",
        (c2 > 0 ? sprintf("%.2f", c1 / c2) : "n/a"), (s2 > 0 ? sprintf("%.2f", s1 / s2) : "n/a")
    printf "CPU share of one core: stiqlet %.3f %%, floor %.3f %%\n", c1 / 600, c2 / 600
}'
