"""Soak run of the note on a private X server (see bench/soak.sh for the figures it prints).

One note blinks and polls the keyboard while pastes of flat-coloured PNG pictures from 16 x 16
to 3840 x 2160, Ctrl+Alt+A toggles and resize drags are driven through X, spread over the run.
Every action is checked: a paste must show its colour (or its grey while the note blinks), a
toggle must hide or show the note, a drag must give the note the size it asked for. The note's
resident memory is sampled every 10 s; at the end Ctrl+Alt+X must end it with code 0.
"""

import argparse
import io
import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from PIL import Image  # noqa: E402

from harness import Program, XServer, wait_for  # noqa: E402

SIZES = ((16, 16), (64, 48), (640, 480), (1280, 720), (1920, 1080), (2560, 1440), (3840, 2160))
HOLD = 0.12  # longer than one 100 ms reading of the keyboard


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def png(size, colour):
    out = io.BytesIO()
    Image.new("RGB", size, colour).save(out, "PNG", compress_level=1)
    return out.getvalue()


def luma(colour):
    r, g, b = colour
    return round(0.2126 * r + 0.7152 * g + 0.0722 * b)


class Soak:
    def __init__(self, x, program, note, log):
        self.x, self.program, self.note, self.log = x, program, note, log
        self.rng = random.Random(1)
        self.failures = {"paste": 0, "toggle": 0, "drag": 0}
        self.done = {"paste": 0, "toggle": 0, "drag": 0}
        self.grow = True

    def pixel(self, px, py):
        data = self.x.run("import", "-silent", "-window", "root", "-crop", f"1x1+{px}+{py}",
                          "+repage", "-depth", "8", "rgb:-", text=False)
        return tuple(data[:3])

    def centre(self):
        g = self.note.geometry()
        return g.x + g.width // 2, g.y + g.height // 2

    def paste(self):
        size = self.rng.choice(SIZES)
        colour = (self.rng.randrange(40, 216), self.rng.randrange(40, 216),
                  self.rng.randrange(40, 216))
        colour = colour[:2] + (255 - colour[0],)
        self.x.own_clipboard(png(size, colour), "image/png")
        cx, cy = self.centre()
        self.x.mouse_move(cx, cy)
        self.x.click(1, repeat=2, delay_ms=40)
        grey = luma(colour)

        def shows(p):
            return (max(abs(a - b) for a, b in zip(p, colour)) <= 8
                    or max(abs(a - grey) for a in p) <= 8)
        seen = wait_for(lambda: self.pixel(cx, cy), shows, timeout=10, interval=0.05)
        return shows(seen)

    def toggle(self):
        before = self.note.is_viewable()
        self.x.run("xdotool", "keydown", "ctrl+alt+a")
        try:
            changed = wait_for(self.note.is_viewable, lambda v: v != before, timeout=3,
                               interval=0.02) != before
        finally:
            self.x.run("xdotool", "keyup", "ctrl+alt+a")
        time.sleep(HOLD)  # the watch sees the keys go up before the next press
        return changed

    def drag(self):
        g = self.note.geometry()
        step = 40 if self.grow else -40
        self.grow = not self.grow
        self.x.mouse_move(g.right - 10, g.bottom - 10)
        self.x.mouse_down(1)
        for i in range(1, 5):
            self.x.mouse_move(g.right - 10 + step * i // 4, g.bottom - 10 + step * i // 4)
        self.x.mouse_up(1)
        want = (g.width + step, g.height + step)
        seen = wait_for(self.note.geometry, lambda n: (n.width, n.height) == want, timeout=3)
        return (seen.width, seen.height) == want

    def reference(self):
        """Pastes the same small picture and lets it settle: memory is compared in this state."""
        self.x.own_clipboard(png((16, 16), (200, 60, 60)), "image/png")
        cx, cy = self.centre()
        self.x.mouse_move(cx, cy)
        self.x.click(1, repeat=2, delay_ms=40)
        time.sleep(2)
        return rss_kib(self.program.pid)

    def run(self, actions, seconds):
        start = time.monotonic()
        samples = []
        next_sample = start
        baseline = None
        for n, action in enumerate(actions):
            due = start + seconds * n / len(actions)
            while True:
                now = time.monotonic()
                if now >= next_sample:
                    kib = rss_kib(self.program.pid)
                    samples.append((now - start, kib))
                    self.log.write(f"{now - start:.0f}\t{kib}\n")
                    self.log.flush()
                    next_sample += 10
                    if baseline is None and now - start >= 60:
                        baseline = self.reference()
                if now >= due:
                    break
                time.sleep(min(due, next_sample) - now)
            if not self.program.running():
                raise RuntimeError(f"the program ended during the run: {self.program.output()}")
            if action == "toggle" and not self.note.is_viewable():
                action = "toggle"  # the second half of a hide/show pair
            ok = getattr(self, action)()
            self.done[action] += 1
            if not ok:
                self.failures[action] += 1
                print(f"  {action} {self.done[action]} not answered", flush=True)
            if not self.note.is_viewable() and action != "toggle":
                self.toggle()
        elapsed = time.monotonic() - start
        return elapsed, samples, baseline


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--pastes", type=int)
    parser.add_argument("--toggles", type=int)
    parser.add_argument("--drags", type=int)
    parser.add_argument("--binary")
    parser.add_argument("--log", default="soak-rss.tsv")
    args = parser.parse_args()
    scale = args.minutes / 60
    pastes = args.pastes if args.pastes is not None else round(1000 * scale)
    toggles = args.toggles if args.toggles is not None else round(10000 * scale)
    toggles += toggles % 2  # hide/show pairs: the note ends shown
    drags = args.drags if args.drags is not None else round(1000 * scale)

    x = XServer().start()
    try:
        program = Program(x, binary=args.binary)
        note = program.window("^Form1$")
        wait_for(note.geometry, lambda g: g.width == 200, timeout=5)
        # Blink on: the menu's "モノクロ点滅" > "有り" (sixth item).
        g = note.geometry()
        x.mouse_move(g.x + 100, g.y + 100)
        x.click(3)
        time.sleep(0.5)
        x.key(*(["Down"] * 6 + ["Right", "Return"]))
        time.sleep(0.5)

        rng = random.Random(2)
        actions = ["paste"] * pastes + ["drag"] * drags + ["pair"] * (toggles // 2)
        rng.shuffle(actions)
        flat = []
        for a in actions:
            flat += ["toggle", "toggle"] if a == "pair" else [a]
        print(f"soak: {args.minutes:g} min, {pastes} pastes, {toggles} toggles, {drags} drags",
              flush=True)
        with open(args.log, "w") as log:
            log.write("seconds\trss_kib\n")
            soak = Soak(x, program, note, log)
            elapsed, samples, baseline = soak.run(flat, args.minutes * 60)
            end_kib = soak.reference()
            log.write(f"{elapsed:.0f}\t{end_kib}\n")

        # Ctrl+Alt+X, held until the program ends.
        x.run("xdotool", "keydown", "ctrl+alt+x")
        code = program.wait_exit(timeout=10)
        x.run("xdotool", "keyup", "ctrl+alt+x")
        peak = max(k for _, k in samples + [(0, end_kib)])
        if baseline is None:  # a run shorter than a minute
            baseline = samples[0][1]
        print(f"elapsed: {elapsed:.0f} s")
        for kind in ("paste", "toggle", "drag"):
            print(f"{kind}s: {soak.done[kind]} done, {soak.failures[kind]} not answered")
        print(f"rss (16 x 16 picture shown) after first minute: {baseline / 1024:.1f} MiB; at end: {end_kib / 1024:.1f} "
              f"MiB; difference {(end_kib - baseline) / 1024:+.1f} MiB (limit 5); "
              f"peak {peak / 1024:.1f} MiB")
        print(f"exit code on Ctrl+Alt+X: {code}")
        ok = (code == 0 and not any(soak.failures.values())
              and end_kib - baseline <= 5 * 1024)
        print("soak: " + ("PASS" if ok else "FAIL"))
        return 0 if ok else 1
    finally:
        x.stop()


if __name__ == "__main__":
    sys.exit(main())
