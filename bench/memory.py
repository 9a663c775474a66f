"""Memory: the note's resident set size idle, after pasting each picture (smallest first), and
after the largest has been replaced by a small one. Each run starts a fresh note; the figures are
medians over the runs."""

import argparse
import time

import common
from common import log, summary
from paste import Note

SMALL = (64, 64)


def run(x, dpy, binary, cache, runs, sizes=common.SIZES):
    pictures = [(kind, w, h, common.picture(cache, kind, w, h))
                for (w, h) in sizes for kind in common.KINDS]
    small = common.picture(cache, "screenshot", *SMALL)
    rows = {"idle": []}
    for _ in range(runs):
        note = Note(x, dpy, binary, cache)
        try:
            time.sleep(1.0)
            rows["idle"].append(common.rss_kib(note.pid))
            for kind, w, h, png in pictures:
                note.paste(png, timed=False)  # returns once the frame has settled
                rows.setdefault(f"{kind} {w}x{h}", []).append(common.rss_kib(note.pid))
            note.paste(small, timed=False)
            time.sleep(0.5)
            rows.setdefault("largest replaced by 64x64", []).append(common.rss_kib(note.pid))
        finally:
            note.stop()
    result = {"rss_kib": {name: summary(values) for name, values in rows.items()}}
    idle = result["rss_kib"]["idle"]["median"]
    w, h = sizes[-1]
    picture_kib = w * h * 4 / 1024
    for kind in common.KINDS:
        after = result["rss_kib"][f"{kind} {w}x{h}"]["median"]
        result[f"{kind}_factor"] = (after - idle) / picture_kib
    result["replaced_over_idle_mib"] = (
        result["rss_kib"]["largest replaced by 64x64"]["median"] - idle) / 1024
    for name, s in result["rss_kib"].items():
        log(f"memory {name:28} {s['median'] / 1024:8.1f} MiB "
            f"({s['min'] / 1024:.1f}–{s['max'] / 1024:.1f})")
    log(f"memory after the {w}x{h} paste: idle + "
        + ", ".join(f"{result[k + '_factor']:.2f} x picture ({k})" for k in common.KINDS)
        + " (goal <= 1.05)")
    log(f"memory after replacing it by a small one: idle + "
        f"{result['replaced_over_idle_mib']:.1f} MiB (goal <= 5)")
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--out", default=".")
    parser.add_argument("--cache", required=True)
    args = parser.parse_args()
    common.run_standalone(args.out, "memory",
                          lambda x, dpy, binary: run(x, dpy, binary, args.cache, args.runs))


if __name__ == "__main__":
    main()
