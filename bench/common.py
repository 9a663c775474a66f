"""Shared pieces of the benchmarks: the private X server of the end-to-end harness, fast screen
reads and synthetic input over one Xlib connection, test pictures, process figures and the
statistics every benchmark prints (median and range of repeated runs)."""

import ctypes
import ctypes.util
import json
import os
import random
import statistics
import sys
import time
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

import harness  # noqa: E402  (the end-to-end harness: Xvfb + openbox, programs, clipboard)
from harness import HarnessError, Program, Rect, XServer  # noqa: E402,F401

ROOT_COLOUR = "#ff00ff"
NOTE_TITLE = "^Form1$"
# The sizes of the paste benchmark, smallest first.
SIZES = [(64, 64), (1920, 1080), (3840, 2160), (7680, 4320)]
KINDS = ["screenshot", "photo"]
# The benchmarks' screen, and the commonest desktop's, on which the paste runs again.
SCREEN = (1280, 1024)
FULL_HD = (1920, 1080)


# --- statistics ------------------------------------------------------------------------------

def summary(values):
    """{'median', 'min', 'max', 'n', 'values'} of a list of numbers."""
    values = list(values)
    return {"median": statistics.median(values), "min": min(values), "max": max(values),
            "n": len(values), "values": values}


def fmt(s, unit="ms", digits=1):
    """'12.3 ms (11.9–13.0)'."""
    return (f"{s['median']:.{digits}f} {unit} "
            f"({s['min']:.{digits}f}–{s['max']:.{digits}f})")


def save(out_dir, name, data):
    path = Path(out_dir, name + ".json")
    path.write_text(json.dumps(data, indent=1))
    return path


# --- the X server ------------------------------------------------------------------------------

class Display(harness.ScreenReader):
    """One Xlib connection: reads rectangles of the screen in about a millisecond and sends
    pointer input through XTest, so that a benchmark's clock is not spent starting tools."""

    def __init__(self, name):
        super().__init__(name)
        x = self._x
        xt = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        xt.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                            ctypes.c_int, ctypes.c_ulong]
        xt.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                            ctypes.c_ulong]
        self._xt = xt

    def grab(self, rect):
        """The pixels (BGRX rows, padding byte zeroed) of `rect` on the screen, as bytes."""
        image = self._x.XGetImage(self._dpy, self._root, rect.x, rect.y, rect.width,
                                  rect.height, 0xFFFFFFFF, 2)
        if not image:
            raise HarnessError(f"XGetImage of {rect} failed")
        try:
            info = image.contents
            raw = bytearray(ctypes.string_at(info.data, info.bytes_per_line * info.height))
            # The fourth byte of a pixel is padding, left as it happens to be: ignore it.
            raw[3::4] = bytes(len(raw) // 4)
            return bytes(raw)
        finally:
            self._x.XDestroyImage(image)

    def grab_image(self, rect):
        return harness.ScreenReader.grab(self, rect)

    def move(self, x, y):
        self._xt.XTestFakeMotionEvent(self._dpy, -1, int(x), int(y), 0)
        self._x.XFlush(self._dpy)

    def button(self, number, press):
        self._xt.XTestFakeButtonEvent(self._dpy, number, 1 if press else 0, 0)
        self._x.XFlush(self._dpy)

    def sync(self):
        self._x.XSync(self._dpy, 0)


def start_x(width=SCREEN[0], height=SCREEN[1]):
    x = XServer(width, height).start()
    x.set_root_colour(ROOT_COLOUR)
    x.mouse_move(0, 0)
    return x, Display(x.display)


def wait_equal(dpy, rect, reference, t0, timeout=30.0, pause=0.0005):
    """Polls `rect` until its pixels equal `reference`; seconds from t0 to the first equal read."""
    deadline = t0 + timeout
    while True:
        pixels = dpy.grab(rect)
        if pixels == reference:
            return time.monotonic() - t0
        now = time.monotonic()
        if now > deadline:
            dump = os.environ.get("STIQLET_BENCH_DUMP")
            if dump:  # what was expected and what was there, to see why
                for name, raw in (("expected", reference), ("found", pixels)):
                    Image.frombuffer("RGB", (rect.width, rect.height), raw, "raw", "BGRX", 0,
                                     1).save(Path(dump, f"{name}.png"))
            raise TimeoutError(f"the screen did not show the expected frame in {rect} "
                               f"within {timeout} s")
        time.sleep(pause)


def wait_settled(dpy, rect, unlike=None, quiet=0.4, timeout=60.0):
    """Waits until `rect` differs from `unlike` and then stays unchanged for `quiet` seconds;
    returns its pixels then. Used in warm-up runs to learn what the finished frame looks like."""
    deadline = time.monotonic() + timeout
    last, since = None, time.monotonic()
    while time.monotonic() < deadline:
        now_pixels = dpy.grab(rect)
        now = time.monotonic()
        if now_pixels != last or (unlike is not None and now_pixels == unlike):
            last, since = now_pixels, now
        elif now - since >= quiet:
            return now_pixels
        time.sleep(0.02)
    raise TimeoutError(f"{rect} did not settle within {timeout} s")


def changed_box(dpy, screen_rect, empty):
    """The bounding Rect of the pixels of the whole screen that differ from `empty` (the bare
    desktop), or None."""
    now = dpy.grab_image(screen_rect)
    before = Image.frombuffer("RGB", now.size, empty, "raw", "BGRX", 0, 1)
    from PIL import ImageChops
    box = ImageChops.difference(now, before).getbbox()
    return Rect(box[0], box[1], box[2] - box[0], box[3] - box[1]) if box else None


# --- processes ---------------------------------------------------------------------------------

def rss_kib(pid):
    """Resident set size of a process in KiB."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise HarnessError(f"no VmRSS for {pid}")


def cpu_ns(pid):
    """Run time of all the threads of a process in ns (scheduler statistics), or, where the
    kernel has none, utime + stime converted from clock ticks."""
    total = 0
    try:
        for task in Path(f"/proc/{pid}/task").iterdir():
            total += int((task / "schedstat").read_text().split()[0])
        return total
    except (OSError, ValueError, IndexError):
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1e9 / os.sysconf("SC_CLK_TCK")


def spawn(x, args, env=None):
    """Starts a peer program on the display as a process group of its own; stop it with
    x.stop_spawned."""
    return x.spawn(*args, env=env)


# --- pictures ----------------------------------------------------------------------------------

def _screenshot_like(width, height, seed):
    """Flat panels, title bars and lines of text: what a desktop screenshot looks like, and
    compresses as well."""
    rnd = random.Random(seed)
    image = Image.new("RGB", (width, height), (236, 236, 236))
    draw = ImageDraw.Draw(image)
    font = ImageFont.load_default()
    palette = [(255, 255, 255), (250, 250, 245), (40, 44, 52), (225, 235, 250), (245, 245, 255)]
    words = ("stiqlet note paste image clipboard window resize memory idle picture frame "
             "desktop screen text file edit view help settings").split()
    y = 0
    while y < height:
        panel_h = min(height - y, rnd.randint(height // 6 + 8, height // 2 + 16))
        x = 0
        while x < width:
            panel_w = min(width - x, rnd.randint(width // 5 + 8, width // 2 + 16))
            bg = rnd.choice(palette)
            fg = (220, 220, 220) if bg == (40, 44, 52) else (30, 30, 30)
            draw.rectangle([x, y, x + panel_w - 1, y + panel_h - 1], fill=bg)
            draw.rectangle([x, y, x + panel_w - 1, y + min(22, panel_h) - 1],
                           fill=(60, 110, 190))
            line_y = y + 28
            while line_y + 12 < y + panel_h:
                text = " ".join(rnd.choice(words) for _ in range(max(1, panel_w // 60)))
                draw.text((x + 6, line_y), text, fill=fg, font=font)
                line_y += 14
            x += panel_w
        y += panel_h
    return image


def _photo_like(width, height, seed):
    """Smooth colour gradients under fine noise: what a photograph looks like to a PNG encoder,
    which compresses it poorly."""
    small = Image.new("RGB", (16, 9))
    rnd = random.Random(seed)
    small.putdata([(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256))
                   for _ in range(16 * 9)])
    base = small.resize((width, height), Image.BICUBIC)
    noise = Image.effect_noise((width, height), 24).convert("L")
    grain = Image.merge("RGB", (noise, noise, noise))
    from PIL import ImageChops
    return ImageChops.add(ImageChops.subtract(base, Image.new("RGB", base.size, (48,) * 3)),
                          grain, 1.0, -80)


def picture(cache_dir, kind, width, height):
    """Path of a PNG test picture, made once and kept in cache_dir."""
    cache_dir = Path(cache_dir)
    cache_dir.mkdir(parents=True, exist_ok=True)
    path = cache_dir / f"{kind}-{width}x{height}.png"
    if not path.exists():
        maker = _screenshot_like if kind == "screenshot" else _photo_like
        image = maker(width, height, seed=width * 7 + height)
        tmp = path.with_suffix(".tmp")
        image.save(tmp, "PNG", compress_level=3)
        tmp.replace(path)
    return path


def solid_png(cache_dir, colour, size=(16, 16)):
    path = Path(cache_dir, f"solid-{colour.lstrip('#')}-{size[0]}x{size[1]}.png")
    if not path.exists():
        Image.new("RGB", size, harness.parse_colour(colour)).save(path)
    return path


# --- the note ----------------------------------------------------------------------------------

def launch_note(x, binary, env=None):
    return Program(x, binary=binary, env=env)


def log(*args):
    print(*args, flush=True)


def run_standalone(out, name, measure):
    """Runs one benchmark on its own: starts a private X server, calls
    measure(x, display, program) and saves what it returns as `name` in `out`."""
    x, dpy = start_x()
    try:
        save(out, name, measure(x, dpy, harness.program_path()))
    finally:
        dpy.close()
        x.stop()
