"""Resize: the time per step of a 100-step left-button resize drag (200 x 200 to 400 x 400, two
units a step), with a 7680 x 4320 picture in the note against a 64 x 64 one.

Each step moves the pointer through XTest and waits until the window's new bottom-right corner
is painted, so a step is the whole round trip: the move reaches the note, the note asks for the
new size, the window manager grants it, and the note repaints."""

import argparse
import time

import common
from common import Rect, fmt, log, summary
from harness import wait_until
from paste import Note

STEPS = 100
STEP = 2


def _drag(note, dpy, g, timed):
    """One drag from the note's size g to g + STEPS * STEP; returns the per-step times (s)."""
    start = (g.right - 3, g.bottom - 3)
    dpy.move(*start)
    time.sleep(0.3)
    dpy.button(1, True)
    dpy.sync()
    time.sleep(0.05)
    steps = []
    try:
        for k in range(1, STEPS + 1):
            corner = Rect(g.right - 2 + k * STEP, g.bottom - 2 + k * STEP, 2, 2)
            t0 = time.monotonic()
            dpy.move(start[0] + k * STEP, start[1] + k * STEP)
            steps.append(common.wait_equal(dpy, corner, note.corner, t0, timeout=10,
                                           pause=0.0002))
    finally:
        dpy.button(1, False)
        dpy.sync()
    return steps


def _shrink_back(note, dpy, g):
    """Drags the note back to its first size in one move."""
    for attempt in range(3):
        now = note.window.geometry()
        if now == g:
            break
        dpy.move(now.right - 3, now.bottom - 3)
        time.sleep(0.3)
        dpy.button(1, True)
        dpy.sync()
        time.sleep(0.05)
        dpy.move(g.right - 3, g.bottom - 3)
        time.sleep(0.3)
        dpy.button(1, False)
        dpy.sync()
        try:
            wait_until(lambda: note.window.geometry() == g, timeout=5)
            break
        except TimeoutError:
            if attempt == 2:
                raise
    time.sleep(0.3)


def measure(x, dpy, binary, cache, png, runs):
    note = Note(x, dpy, binary, cache)
    try:
        note.paste(png, timed=False)
        g = note.window.geometry()
        # What the corner looks like once painted, learned from the settled window at its
        # largest size after a warm-up drag.
        note.corner = None
        big = STEPS * STEP
        for attempt in range(3):
            # A press now and then does not reach the note (as with the paste's double-click):
            # the window then keeps its size, and the drag is made again.
            dpy.move(g.right - 3, g.bottom - 3)
            time.sleep(0.3)
            dpy.button(1, True)
            dpy.sync()
            time.sleep(0.05)
            # Slowly enough for the note to follow: a pointer that gets ahead of the window ends
            # the drag, as leaving the note does.
            for k in range(1, STEPS + 1):
                dpy.move(g.right - 3 + k * STEP, g.bottom - 3 + k * STEP)
                common.harness.wait_for(note.window.geometry,
                                        lambda now, k=k: now.width >= g.width + k * STEP,
                                        timeout=0.5, interval=0.002)
            dpy.button(1, False)
            dpy.sync()
            try:
                wait_until(lambda: note.window.geometry().width == g.width + big, timeout=5)
                break
            except TimeoutError:
                note.retries += 1
                if note.window.geometry() != g:
                    _shrink_back(note, dpy, g)
                if attempt == 2:
                    raise
        time.sleep(0.3)
        note.corner = dpy.grab(Rect(g.right - 2 + big, g.bottom - 2 + big, 2, 2))
        _shrink_back(note, dpy, g)
        per_step = []
        while len(per_step) < runs:
            try:
                steps = _drag(note, dpy, g, True)
                per_step.append(sum(steps) / len(steps) * 1000)
            except TimeoutError:
                note.retries += 1
                if note.retries > 5:
                    raise
            _shrink_back(note, dpy, g)
        result = summary(per_step)
        result["retries"] = note.retries
        return result
    finally:
        note.stop()


def run(x, dpy, binary, cache, runs):
    small = common.picture(cache, "screenshot", 64, 64)
    large = common.picture(cache, "photo", 7680, 4320)
    result = {"64x64": measure(x, dpy, binary, cache, small, runs),
              "7680x4320": measure(x, dpy, binary, cache, large, runs)}
    result["ratio"] = result["7680x4320"]["median"] / result["64x64"]["median"]
    log(f"resize step: 7680x4320 {fmt(result['7680x4320'], digits=2)}, "
        f"64x64 {fmt(result['64x64'], digits=2)}, ratio {result['ratio']:.2f} (goal <= 1.0)")
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--out", default=".")
    parser.add_argument("--cache", required=True)
    args = parser.parse_args()
    common.run_standalone(args.out, "resize",
                          lambda x, dpy, binary: run(x, dpy, binary, args.cache, args.runs))


if __name__ == "__main__":
    main()
