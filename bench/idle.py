"""Idle: CPU time per minute of the untouched note with its keyboard watch on, blinking off and
then on, and the X server's share, against bare_poller.c, which only reads the X keyboard state
every 100 ms: the floor of polling. CPU time is the scheduler's run time of all threads
(/proc/PID/task/*/schedstat), as bench/idle_cpu.sh reads it.

Each subject is measured in several windows of equal length after a settling time; the figures
are the median and range over the windows, in ms of CPU time per minute."""

import argparse
import subprocess
import tempfile
import time
from pathlib import Path

import common
from common import Rect, fmt, log, summary

SETTLE = 3.0
# The popup menu from the top, as the keyboard walks it.
MENU = ("キー入力監視", "フォーム表示On/Offキー文字", "貼り付け", "画面クリア", "余白",
        "モノクロ点滅", "最小化", "About", "----------", "Stiqletの終了")


def _windows(x, pid, count, seconds):
    """Per-minute CPU ms of pid and of the X server in `count` windows of `seconds`."""
    server = x._xvfb.pid
    client_rates, server_rates = [], []
    time.sleep(SETTLE)
    for _ in range(count):
        c0, s0, t0 = common.cpu_ns(pid), common.cpu_ns(server), time.monotonic_ns()
        time.sleep(seconds)
        c1, s1, t1 = common.cpu_ns(pid), common.cpu_ns(server), time.monotonic_ns()
        client_rates.append((c1 - c0) / 1e6 * 60e9 / (t1 - t0))
        server_rates.append((s1 - s0) / 1e6 * 60e9 / (t1 - t0))
    return {"client": summary(client_rates), "server": summary(server_rates)}


def _blink_on(x, dpy, note):
    g = note.window.geometry()
    x.mouse_move(g.x + g.width // 2, g.y + g.height // 2)
    x.click(3)
    time.sleep(0.5)
    x.key(*(["Down"] * (MENU.index("モノクロ点滅") + 1) + ["Right", "Return"]))
    x.mouse_move(0, 0)
    centre = Rect(g.x + g.width // 2 - 10, g.y + g.height // 2 - 10, 20, 20)
    seen = set()
    for _ in range(8):
        seen.add(dpy.grab(centre))
        time.sleep(0.3)
    if len(seen) < 2:
        raise common.HarnessError("the note does not blink after choosing it in the menu")


def run(x, dpy, binary, cache, count, seconds):
    result = {}
    note = common.launch_note(x, binary)
    try:
        note.window(common.NOTE_TITLE)
        result["stiqlet, watch on, blink off"] = _windows(x, note.pid, count, seconds)
        from paste import Note  # for its window handle only
        handle = Note.__new__(Note)
        handle.window = note.window(common.NOTE_TITLE)
        _blink_on(x, dpy, handle)
        result["stiqlet, watch on, blink on"] = _windows(x, note.pid, count, seconds)
    finally:
        note.stop()
    with tempfile.TemporaryDirectory() as tmp:
        poller = Path(tmp, "bare_poller")
        subprocess.run(["cc", "-O2", "-Wall", "-o", str(poller),
                        str(common.BENCH_DIR / "bare_poller.c"), "-lxcb"], check=True)
        proc = x.spawn(str(poller))
        try:
            result["bare poller (floor)"] = _windows(x, proc.pid, count, seconds)
        finally:
            x.stop_spawned(proc)
    floor = result["bare poller (floor)"]
    for name in ("stiqlet, watch on, blink off", "stiqlet, watch on, blink on"):
        r = result[name]
        r["ratio_client"] = r["client"]["median"] / floor["client"]["median"]
        r["ratio_server"] = r["server"]["median"] / floor["server"]["median"]
    for name, r in result.items():
        line = (f"idle {name:30} client {fmt(r['client'], 'ms/min')}, "
                f"X server {fmt(r['server'], 'ms/min')}")
        if "ratio_client" in r:
            line += f"; / floor: client {r['ratio_client']:.2f}, X {r['ratio_server']:.2f}"
        log(line)
    result["window_seconds"] = seconds
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--windows", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=12)
    parser.add_argument("--out", default=".")
    parser.add_argument("--cache", required=True)
    args = parser.parse_args()
    common.run_standalone(args.out, "idle", lambda x, dpy, binary: run(
        x, dpy, binary, args.cache, args.windows, args.seconds))


if __name__ == "__main__":
    main()
