"""Start-up: from exec to the first frame of the note painted on screen, against feh showing the
same 64 x 64 picture in a 200 x 200 window, and against the toolkit's floor: a bare Qt 6 Widgets
window (bench/bare_window.cpp) showing it borderless and kept above.

The first run of each program is a warm-up that also learns what its finished first frame looks
like; every timed run then polls the screen (XGetImage, about a millisecond a read) until exactly
that frame is there."""

import argparse
import time

import common
from common import Rect, fmt, log, summary

PICTURE = common.ROOT / "resources" / "art" / "stiqlet-64.png"


def _feh_args(picture):
    return ["feh", "-x", "-g", "200x200", "--scale-down", str(picture)]


def _one(x, dpy, start, screen, empty, reference=None, rect=None):
    """Starts a program with start(); returns (seconds to the frame, rect, reference)."""
    t0 = time.monotonic()
    proc = start()
    try:
        if reference is None:
            full = common.wait_settled(dpy, screen, unlike=empty, quiet=0.6)
            del full
            rect = common.changed_box(dpy, screen, empty)
            reference = dpy.grab(rect)
            elapsed = None
        else:
            elapsed = common.wait_equal(dpy, rect, reference, t0)
    finally:
        stop(x, proc)
    # Back to the bare desktop before the next start.
    common.wait_equal(dpy, screen, empty, time.monotonic(), timeout=10, pause=0.01)
    return elapsed, rect, reference


def stop(x, proc):
    if isinstance(proc, common.Program):
        proc.stop()
    else:
        x.stop_spawned(proc)


def run(x, dpy, binary, runs, bare=None):
    screen = Rect(0, 0, *x.size)
    empty = dpy.grab(screen)
    programs = {
        "stiqlet": lambda: common.launch_note(x, binary),
        "feh": lambda: x.spawn(*_feh_args(PICTURE)),
    }
    if bare:
        programs["bare Qt"] = lambda: x.spawn(bare, str(PICTURE))
    refs = {}
    for name, start in programs.items():  # warm-up: learn each finished first frame
        _, rect, reference = _one(x, dpy, start, screen, empty)
        refs[name] = (rect, reference)
    times = {name: [] for name in programs}
    for _ in range(runs):  # alternate, so that a busy moment of the machine hits both
        for name, start in programs.items():
            rect, reference = refs[name]
            elapsed, _, _ = _one(x, dpy, start, screen, empty, reference, rect)
            times[name].append(elapsed * 1000)
    result = {name: summary(values) for name, values in times.items()}
    result["ratio"] = result["stiqlet"]["median"] / result["feh"]["median"]
    result["commands"] = {"stiqlet": str(binary), "feh": " ".join(_feh_args("stiqlet-64.png"))}
    if bare:
        result["ratio_bare"] = result["stiqlet"]["median"] / result["bare Qt"]["median"]
        result["commands"]["bare Qt"] = "stiqlet_bare_window stiqlet-64.png"
    log(f"start-up to first frame: stiqlet {fmt(result['stiqlet'])}, "
        f"feh {fmt(result['feh'])}, ratio {result['ratio']:.2f}"
        + (f"; bare Qt window {fmt(result['bare Qt'])}, ratio {result['ratio_bare']:.2f} "
           "(goal <= 1.1)" if bare else ""))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--out", default=".")
    parser.add_argument("--bare", help="the bare Qt window program (stiqlet_bare_window)")
    args = parser.parse_args()
    common.run_standalone(args.out, "startup",
                          lambda x, dpy, binary: run(x, dpy, binary, args.runs, args.bare))


if __name__ == "__main__":
    main()
