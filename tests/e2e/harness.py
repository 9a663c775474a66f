"""End-to-end test harness: the real program on a private X server.

Each test class gets its own `Xvfb -noreset` display with openbox managing it (see X11TestCase).
The program runs there on Qt's xcb platform, and everything a test checks is read back from the
X server with the standard tools: window geometry through xwininfo, properties through xprop,
pixels through ImageMagick's import, input through xdotool and the clipboard through xclip.

Every wait polls with a timeout, and every process started here is killed on teardown, so a
broken program makes a test fail instead of hanging the run.
"""

import collections
import ctypes
import ctypes.util
import io
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from PIL import Image, ImageChops

PROJECT_ROOT = Path(__file__).resolve().parents[2]

# Default for every wait. Generous, since a loaded machine can be slow to start a Qt program;
# a passing test never waits this long.
TIMEOUT = 10.0
# Time allowed for one X tool run.
TOOL_TIMEOUT = 10.0


class HarnessError(RuntimeError):
    """A tool or process of the harness failed."""


def program_path():
    """The binary under test: $STIQLET_BIN, or build/stiqlet in the project root."""
    path = os.environ.get("STIQLET_BIN") or str(PROJECT_ROOT / "build" / "stiqlet")
    return str(Path(path).resolve())


# --- waiting -------------------------------------------------------------------------------

def wait_for(probe, accept=bool, timeout=TIMEOUT, interval=0.05):
    """Calls probe() until accept(value) holds or the timeout passes; returns the last value.

    Meant for assertions: poll for the expected state, then assert on what was last seen, so a
    failure shows the actual value. A HarnessError raised by probe() (a window that is not there
    yet, a tool that failed) counts as not accepted; it is raised again if it was the last result.
    """
    deadline = time.monotonic() + timeout
    while True:
        error = None
        try:
            value = probe()
            if accept(value):
                return value
        except HarnessError as exc:
            error = exc
        if time.monotonic() >= deadline:
            if error is not None:
                raise error
            return value
        time.sleep(interval)


def wait_settled(grab, accept, timeout=TIMEOUT):
    """Polls grab() until accept(image) holds for an image equal to the one grabbed before it
    (the screen has stopped changing); returns the last (image, settled) pair seen."""
    previous = [None]

    def probe():
        image = grab()
        settled = previous[0] is not None and image.tobytes() == previous[0].tobytes()
        previous[0] = image
        return image, settled

    return wait_for(probe, lambda seen: seen[1] and accept(seen[0]), timeout=timeout)


def wait_until(predicate, timeout=TIMEOUT, interval=0.05, message=None):
    """Polls predicate() until it returns a true value, which is returned; raises TimeoutError."""
    sentinel = object()
    value = sentinel
    try:
        value = wait_for(predicate, bool, timeout, interval)
    except HarnessError as exc:
        raise TimeoutError(f"{message or 'condition'} not met within {timeout} s: {exc}") from exc
    if not value:
        raise TimeoutError(f"{message or 'condition'} not met within {timeout} s")
    return value


def holds_for(predicate, duration, interval=0.05):
    """True when predicate() stays true for `duration` seconds; False as soon as it is not."""
    deadline = time.monotonic() + duration
    while True:
        if not predicate():
            return False
        if time.monotonic() >= deadline:
            return True
        time.sleep(interval)


# --- processes -----------------------------------------------------------------------------

def _stop_process(proc, grace=2.0):
    """Ends a process started in its own session: SIGTERM, then SIGKILL to its whole group."""
    if proc is None:
        return
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        pass


class Rect:
    """A rectangle in root (screen) pixels."""

    def __init__(self, x, y, width, height):
        self.x, self.y, self.width, self.height = x, y, width, height

    @property
    def right(self):
        return self.x + self.width

    @property
    def bottom(self):
        return self.y + self.height

    def box(self):
        """The rectangle as a PIL box (left, top, right, bottom)."""
        return (self.x, self.y, self.right, self.bottom)

    def __eq__(self, other):
        return isinstance(other, Rect) and self.box() == other.box()

    def __repr__(self):
        return f"Rect(x={self.x}, y={self.y}, width={self.width}, height={self.height})"


# --- property parsing ----------------------------------------------------------------------

_STRING_RE = re.compile(r'"((?:[^"\\]|\\.)*)"')
_ESCAPE_RE = re.compile(r"\\([0-7]{1,3}|.)")


def _unescape(text):
    def one(match):
        code = match.group(1)
        if code[0] in "01234567":
            return chr(int(code, 8))
        return {"n": "\n", "t": "\t"}.get(code, code)
    return _ESCAPE_RE.sub(one, text)


def parse_xprop(output, name):
    """Parses one property of `xprop` output into a list of values.

    Returns None when the property is not set. Strings come back unquoted, atoms as names,
    numbers (CARDINAL, INTEGER, hexadecimal hints) and windows as ints.
    """
    for line in output.splitlines():
        if not line.startswith(name) or line[len(name):len(name) + 1] not in ("(", ":"):
            continue
        if line[len(name)] == ":":  # "NAME:  not found." or "NAME:  no such atom ..."
            return None
        type_end = line.find(")")
        kind = line[len(name) + 1:type_end] if line[len(name)] == "(" else ""
        rest = line[type_end + 1:] if type_end >= 0 else line[len(name):]
        rest = rest.lstrip()
        if rest.startswith(":"):
            rest = rest[1:]
            if "window id #" in rest:
                rest = rest.split("#", 1)[1]
        elif rest.startswith("="):
            rest = rest[1:]
        rest = rest.strip()
        if "STRING" in kind or "COMPOUND_TEXT" in kind or rest.startswith('"'):
            return [_unescape(s) for s in _STRING_RE.findall(rest)]
        values = [v.strip() for v in rest.split(",") if v.strip()]
        if kind == "ATOM":
            return values
        parsed = []
        for v in values:
            try:
                parsed.append(int(v, 0))
            except ValueError:
                parsed.append(v)
        return parsed
    return None


# --- X server with window manager ----------------------------------------------------------

# Openbox's own placement puts a new window in the middle of the free space, which would hide
# whether a program centres itself. Here windows that give no position go to the top-left.
OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <placement><policy>Smart</policy><center>no</center></placement>
  <desktops><number>1</number></desktops>
</openbox_config>
"""


class XServer:
    """A private Xvfb display managed by openbox, with helpers to query and drive it."""

    def __init__(self, width=1280, height=1024, depth=24):
        self.size = (width, height)
        self.depth = depth
        self.display = None
        self.tmpdir = None
        self.env = None
        self._xvfb = None
        self._wm = None
        self._owned = []  # helper processes (clipboard owners, extra clients) to stop with us
        self._xlib = None
        self._held_keys = []
        self._held_buttons = []
        # The last screenshots taken, kept for a failing test to save (see WineTestCase).
        self.recent_screenshots = collections.deque(maxlen=8)

    # life cycle

    def start(self, timeout=TIMEOUT):
        self.tmpdir = tempfile.mkdtemp(prefix="stiqlet-e2e-")
        read_end, write_end = os.pipe()
        try:
            with self._log("xvfb") as log:
                self._xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                     "-screen", "0", f"{self.size[0]}x{self.size[1]}x{self.depth}",
                     "-dpi", "96", "-s", "0"],
                    pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=log, start_new_session=True)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + timeout
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self._xvfb.poll() is not None:
                    raise HarnessError("Xvfb did not report a display: " + self._read_log("xvfb"))
                ready, _, _ = select.select([read_end], [], [], left)
                if ready:
                    chunk = os.read(read_end, 64)
                    if not chunk:
                        raise HarnessError("Xvfb closed its display pipe: "
                                           + self._read_log("xvfb"))
                    number += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.display = ":" + number.decode().strip()

        config = Path(self.tmpdir, "config")
        runtime = Path(self.tmpdir, "runtime")
        config.mkdir()
        runtime.mkdir(mode=0o700)
        env = dict(os.environ)
        for var in ("WAYLAND_DISPLAY", "XAUTHORITY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                    "QT_ENABLE_HIGHDPI_SCALING", "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_FONT_DPI",
                    "QT_STYLE_OVERRIDE", "QT_QPA_PLATFORMTHEME", "SESSION_MANAGER"):
            env.pop(var, None)
        env.update({
            "DISPLAY": self.display,
            # Keep the user's own openbox and Qt settings out of the tests.
            "XDG_CONFIG_HOME": str(config),
            "XDG_RUNTIME_DIR": str(runtime),
            # xprop prints UTF-8 titles as they are only in a UTF-8 locale.
            "LC_ALL": "C.UTF-8",
        })
        self.env = env

        rc = Path(self.tmpdir, "openbox-rc.xml")
        rc.write_text(OPENBOX_RC)
        with self._log("openbox") as log:
            self._wm = subprocess.Popen(["openbox", "--sm-disable", "--config-file", str(rc)],
                                        env=env,
                                        stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        wait_until(self._wm_ready, timeout, message="openbox managing the display")
        return self

    def _wm_ready(self):
        if self._wm.poll() is not None:
            raise HarnessError("openbox exited: " + self._read_log("openbox"))
        check = self.root_prop("_NET_SUPPORTING_WM_CHECK")
        return bool(check) and self.root_prop("_NET_CLIENT_LIST") is not None

    def stop(self):
        for proc in reversed(self._owned):
            _stop_process(proc)
        self._owned.clear()
        _stop_process(self._wm)
        _stop_process(self._xvfb)
        self._wm = self._xvfb = None
        if self.tmpdir:
            shutil.rmtree(self.tmpdir, ignore_errors=True)
            self.tmpdir = None

    def _log(self, name):
        return open(Path(self.tmpdir, name + ".log"), "ab")

    def _read_log(self, name):
        try:
            return Path(self.tmpdir, name + ".log").read_text(errors="replace")[-2000:]
        except OSError:
            return ""

    # running tools

    def run(self, *args, timeout=TOOL_TIMEOUT, check=True, text=True, input=None):
        """Runs an X tool on this display; returns its stdout. Raises HarnessError on failure."""
        try:
            done = subprocess.run(list(args), env=self.env, input=input, capture_output=True,
                                  text=text, timeout=timeout)
        except subprocess.TimeoutExpired as exc:
            raise HarnessError(f"{args[0]} did not finish within {timeout} s") from exc
        if check and done.returncode != 0:
            raise HarnessError(f"{' '.join(map(str, args))} failed ({done.returncode}): "
                               f"{done.stderr.strip() if text else done.stderr[-500:]}")
        return done.stdout

    def spawn(self, *args, env=None):
        """Starts a helper client (stopped with the server); returns its Popen."""
        proc = subprocess.Popen(list(args), env=env or self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self._owned.append(proc)
        return proc

    def stop_spawned(self, proc):
        _stop_process(proc)
        if proc in self._owned:
            self._owned.remove(proc)

    # root window

    def root_prop(self, name):
        return parse_xprop(self.run("xprop", "-root", name), name)

    def client_list(self, stacking=False):
        """Windows the window manager manages, oldest first, or bottom to top with stacking."""
        name = "_NET_CLIENT_LIST_STACKING" if stacking else "_NET_CLIENT_LIST"
        return [Window(self, wid) for wid in (self.root_prop(name) or [])]

    def work_area(self):
        """The current desktop's work area (what Qt reports as the available geometry)."""
        values = self.root_prop("_NET_WORKAREA")
        desktop = (self.root_prop("_NET_CURRENT_DESKTOP") or [0])[0]
        if not values:
            return Rect(0, 0, *self.size)
        return Rect(*values[4 * desktop:4 * desktop + 4])

    def set_root_colour(self, colour):
        """Paints the desktop background a solid colour ('#rrggbb')."""
        self.run("xsetroot", "-solid", colour)

    # windows

    def find_windows(self, name=None, pid=None, visible_only=True):
        """Windows whose title matches the regular expression `name` and/or that belong to `pid`."""
        args = ["xdotool", "search"]
        if visible_only:
            args.append("--onlyvisible")
        if pid is not None:
            args += ["--pid", str(pid)]
        if name is not None:
            args += ["--name", name]
        if name is not None and pid is not None:
            args.insert(2, "--all")
        out = self.run(*args, check=False)
        return [Window(self, int(line)) for line in out.split()]

    def wait_window(self, name, pid=None, timeout=TIMEOUT):
        """Waits until exactly one visible window matches and returns it."""
        found = wait_for(lambda: self.find_windows(name, pid), lambda ws: len(ws) == 1, timeout)
        if len(found) != 1:
            raise TimeoutError(f"expected one visible window named {name!r} within {timeout} s, "
                               f"found {found}")
        return found[0]

    def taskbar_entries(self, pid=None):
        """Managed windows that a task bar lists, as task bars such as tint2 decide it.

        Listed: windows in _NET_CLIENT_LIST without _NET_WM_STATE_SKIP_TASKBAR, with no window
        type of dock, desktop, toolbar, menu or splash, and not transient for a listed window.
        Utility windows are listed: only their state keeps them off.
        """
        unlisted_types = {"_NET_WM_WINDOW_TYPE_" + kind
                          for kind in ("DOCK", "DESKTOP", "TOOLBAR", "MENU", "SPLASH")}
        listed = []
        for win in self.client_list():
            if "_NET_WM_STATE_SKIP_TASKBAR" in win.state():
                continue
            if unlisted_types.intersection(win.atoms("_NET_WM_WINDOW_TYPE")):
                continue
            listed.append(win)
        # A window transient for one with its own entry goes with that entry.
        entries = [win for win in listed if win.transient_for() not in listed]
        return [win for win in entries if pid is None or win.pid() == pid]

    # pixels

    def screenshot(self, region=None):
        """The screen as an RGB image, or the part of it inside `region` (a Rect)."""
        data = self.run("import", "-silent", "-window", "root", "-depth", "8", "ppm:-", text=False)
        image = Image.open(io.BytesIO(data)).convert("RGB")
        if region is not None:
            image = image.crop(region.box())
        self.recent_screenshots.append(image)
        return image

    # input (no --clearmodifiers: keys held by a test stay held)

    def mouse_move(self, x, y):
        # Not `mousemove --sync`: it waits forever when the pointer is already there.
        target = (int(x), int(y))
        self.run("xdotool", "mousemove", str(target[0]), str(target[1]))
        wait_until(lambda: self.pointer() == target, timeout=3,
                   message=f"pointer reaching {target}")

    def mouse_down(self, button=1):
        self.run("xdotool", "mousedown", str(button))
        self._held_buttons.append(str(button))

    def mouse_up(self, button=1):
        self.run("xdotool", "mouseup", str(button))
        if str(button) in self._held_buttons:
            self._held_buttons.remove(str(button))

    def click(self, button=1, repeat=1, delay_ms=50):
        self.run("xdotool", "click", "--repeat", str(repeat), "--delay", str(delay_ms),
                 str(button))

    def key(self, *keys, delay_ms=20):
        """Presses and releases each key combination in turn, e.g. key('ctrl+alt+a')."""
        self.run("xdotool", "key", "--delay", str(delay_ms), *keys)

    def key_down(self, *keys):
        self.run("xdotool", "keydown", *keys)
        self._held_keys.extend(keys)

    def key_up(self, *keys):
        self.run("xdotool", "keyup", *keys)
        for key in keys:
            if key in self._held_keys:
                self._held_keys.remove(key)

    def release_held(self):
        """Releases every key and button a test pressed and did not release."""
        for key in reversed(self._held_keys):
            self.run("xdotool", "keyup", key, check=False)
        for button in reversed(self._held_buttons):
            self.run("xdotool", "mouseup", button, check=False)
        self._held_keys.clear()
        self._held_buttons.clear()

    def pointer(self):
        """The pointer's root position (x, y)."""
        out = self.run("xdotool", "getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    # clipboard

    def own_clipboard(self, data, target="image/png", timeout=TIMEOUT):
        """Makes an xclip process own the CLIPBOARD selection, offering `data` as `target`.

        `data` is bytes or a path. The owner runs until stop_clipboard() or the server stops.
        """
        if isinstance(data, (bytes, bytearray)):
            fd, name = tempfile.mkstemp(dir=self.tmpdir, prefix="clip-")
            with os.fdopen(fd, "wb") as file:
                file.write(data)
            path = Path(name)
        else:
            path = Path(data)
        self.stop_clipboard()
        self._clipboard = self.spawn("xclip", "-quiet", "-selection", "clipboard",
                                     "-t", target, "-i", str(path))
        wait_until(lambda: target in self.clipboard_targets(), timeout,
                   message=f"xclip offering {target}")
        return self._clipboard

    def stop_clipboard(self):
        proc = getattr(self, "_clipboard", None)
        if proc is not None:
            self.stop_spawned(proc)
            self._clipboard = None

    def clipboard_targets(self):
        out = self.run("xclip", "-selection", "clipboard", "-o", "-t", "TARGETS", check=False,
                       timeout=3)
        return out.split()

    # Xlib, for requests no command-line tool makes

    def _x11(self):
        if self._xlib is None:
            lib = ctypes.util.find_library("X11")
            if not lib:
                raise HarnessError("libX11 not found")
            x = ctypes.CDLL(lib)
            x.XOpenDisplay.restype = ctypes.c_void_p
            x.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x.XInternAtom.restype = ctypes.c_ulong
            x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
            x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                     ctypes.c_void_p]
            x.XFlush.argtypes = [ctypes.c_void_p]
            x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            x.XCloseDisplay.argtypes = [ctypes.c_void_p]
            # Xlib's default error handler ends the process, e.g. on a BadWindow when the
            # window went away: ignore errors instead, the test checks the outcome.
            handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
            self._x_error_handler = handler_type(lambda display, event: 0)
            x.XSetErrorHandler.argtypes = [handler_type]
            x.XSetErrorHandler(self._x_error_handler)
            self._xlib = x
        return self._xlib

    def send_delete_window(self, wid):
        """Sends WM_DELETE_WINDOW straight to a window, as a window manager's close does.

        Unlike `wmctrl -c` this reaches windows the window manager does not manage (unmapped).
        """
        x = self._x11()
        dpy = x.XOpenDisplay(self.display.encode())
        if not dpy:
            raise HarnessError(f"cannot open display {self.display}")
        try:
            class ClientMessage(ctypes.Structure):
                _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                            ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                            ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                            ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

            class XEvent(ctypes.Union):
                _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

            event = XEvent()
            event.xclient.type = 33  # ClientMessage
            event.xclient.window = wid
            event.xclient.message_type = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
            event.xclient.format = 32
            event.xclient.data[0] = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            event.xclient.data[1] = 0  # CurrentTime
            x.XSendEvent(dpy, wid, 0, 0, ctypes.byref(event))
            x.XSync(dpy, 0)
        finally:
            x.XCloseDisplay(dpy)

    def cardinals(self, wid, name):
        """A window's property of 32-bit items, whole, as a list of ints; None when unset.

        Read through Xlib: xprop cuts long properties short and draws _NET_WM_ICON as text.
        """
        x = self._x11()
        x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        dpy = x.XOpenDisplay(self.display.encode())
        if not dpy:
            raise HarnessError(f"cannot open display {self.display}")
        try:
            kind, fmt = ctypes.c_ulong(), ctypes.c_int()
            count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
            status = x.XGetWindowProperty(
                dpy, wid, x.XInternAtom(dpy, name.encode(), 0), 0, 1 << 28, 0,
                0,  # AnyPropertyType
                ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(count),
                ctypes.byref(after), ctypes.byref(data))
            if status != 0:
                raise HarnessError(f"cannot read {name} of window 0x{wid:x}")
            try:
                if not data.value or fmt.value != 32:
                    return None
                # Xlib hands 32-bit items over as C longs.
                items = ctypes.cast(data, ctypes.POINTER(ctypes.c_ulong))
                return [items[i] & 0xFFFFFFFF for i in range(count.value)]
            finally:
                if data.value:
                    x.XFree(data)
        finally:
            x.XCloseDisplay(dpy)

    def start_taskbar(self):
        """Starts tint2, a real task bar, along the bottom of the screen; returns a TaskBar.

        Stopped with the server, or with TaskBar.stop()."""
        return TaskBar(self).start()


# --- a real task bar -------------------------------------------------------------------------

# tint2 drawing each task button as a block in a colour that says the window's state, its icon
# and title kept 6 pixels below the button's top, so that a screenshot of a row just below the
# tops of the buttons shows how many buttons the bar holds.
TINT2_RC = """
# 1: the panel
rounded = 0
border_width = 0
background_color = #000000 100
border_color = #000000 100
# 2: a task
rounded = 0
border_width = 0
background_color = #00ff00 100
border_color = #000000 100
# 3: the active task
rounded = 0
border_width = 0
background_color = #0000ff 100
border_color = #000000 100
# 4: a minimised task
rounded = 0
border_width = 0
background_color = #ffff00 100
border_color = #000000 100

panel_items = T
panel_monitor = all
panel_position = bottom center horizontal
panel_size = 100% 30
panel_margin = 0 0
panel_padding = 4 2 4
panel_background_id = 1
panel_dock = 0
panel_layer = top
wm_menu = 0
strut_policy = follow_size
autohide = 0
disable_transparency = 1

taskbar_mode = single_desktop
taskbar_hide_if_empty = 0
taskbar_padding = 0 0 6
taskbar_background_id = 0
taskbar_active_background_id = 0
taskbar_name = 0
taskbar_hide_inactive_tasks = 0
taskbar_distribute_size = 0
taskbar_sort_order = none

task_text = 0
task_icon = 0
task_tooltip = 0
task_centered = 1
task_maximum_size = 40 26
task_padding = 2 6 2
task_background_id = 2
task_active_background_id = 3
task_iconified_background_id = 4
task_urgent_background_id = 2
urgent_nb_of_blink = 0
"""

TASK_COLOURS = ((0, 255, 0), (0, 0, 255), (255, 255, 0))


class TaskBar:
    """tint2 on an XServer: what a user of a desktop with a task bar sees listed there."""

    def __init__(self, x):
        self.x = x
        self.proc = None
        self.panel = None

    def start(self, timeout=TIMEOUT):
        rc = Path(self.x.tmpdir, "tint2rc")
        rc.write_text(TINT2_RC)
        self.proc = self.x.spawn("tint2", "-c", str(rc))

        def panel():
            if self.proc.poll() is not None:
                raise HarnessError("tint2 exited")
            out = self.x.run("xdotool", "search", "--onlyvisible", "--classname", "tint2",
                             check=False)
            found = [Window(self.x, int(line)) for line in out.split()]
            return found[0] if len(found) == 1 else None
        self.panel = wait_until(panel, timeout, message="tint2 showing its panel")
        return self

    def stop(self):
        if self.proc is not None:
            self.x.stop_spawned(self.proc)
            self.proc = None

    def buttons(self):
        """The task buttons drawn, left to right, as (x, width, colour) in panel pixels."""
        g = self.panel.geometry()
        # Below the panel's padding of 2, above the button's content.
        row = self.x.screenshot(Rect(g.x, g.y + 4, g.width, 1))
        found, start, colour = [], None, None
        for x in range(row.width + 1):
            pixel = row.getpixel((x, 0)) if x < row.width else None
            if start is not None and pixel != colour:
                if x - start >= 10:
                    found.append((start, x - start, colour))
                start = None
            if start is None and pixel in TASK_COLOURS:
                start, colour = x, pixel
        return found


# --- windows -------------------------------------------------------------------------------

class Window:
    """One X window, read back through xwininfo and xprop."""

    def __init__(self, x, wid):
        self.x = x
        self.id = int(wid)

    def __eq__(self, other):
        return isinstance(other, Window) and other.id == self.id

    def __hash__(self):
        return self.id

    def __repr__(self):
        return f"Window(0x{self.id:x})"

    def _info(self, *extra):
        return self.x.run("xwininfo", "-id", hex(self.id), *extra)

    def exists(self):
        return self.x.run("xwininfo", "-id", hex(self.id), check=False).strip() != ""

    def geometry(self):
        """Root-relative position and size of the client area."""
        info = self._info()

        def field(label):
            match = re.search(rf"^\s*{label}:\s*(-?\d+)", info, re.M)
            if not match:
                raise HarnessError(f"xwininfo gave no {label} for {self}")
            return int(match.group(1))

        return Rect(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                    field("Width"), field("Height"))

    def map_state(self):
        """'IsViewable', 'IsUnMapped' or 'IsUnviewable'."""
        match = re.search(r"Map State:\s*(\w+)", self._info())
        return match.group(1) if match else None

    def is_viewable(self):
        return self.map_state() == "IsViewable"

    def override_redirect(self):
        """True for windows the window manager never sees: popup menus, tooltips."""
        return re.search(r"Override Redirect State:\s*yes", self._info()) is not None

    def parent(self):
        match = re.search(r"Parent window id:\s*(0x[0-9a-f]+)", self._info("-tree"))
        return Window(self.x, int(match.group(1), 16)) if match else None

    def toplevel(self):
        """The window's ancestor that is a child of the root: the frame a window manager added."""
        root = int(re.search(r"Root window id:\s*(0x[0-9a-f]+)",
                             self._info("-tree")).group(1), 16)
        win = self
        while True:
            parent = win.parent()
            if parent is None or parent.id == root:
                return win
            win = parent

    def outer_geometry(self):
        """Root-relative geometry of the window including everything the window manager added."""
        top = self.toplevel()
        info = top._info()
        width = int(re.search(r"^\s*Width:\s*(\d+)", info, re.M).group(1))
        height = int(re.search(r"^\s*Height:\s*(\d+)", info, re.M).group(1))
        border = int(re.search(r"Border width:\s*(\d+)", info).group(1))
        g = top.geometry()
        return Rect(g.x - border, g.y - border, width + 2 * border, height + 2 * border)

    # properties

    def props(self, *names):
        """Several properties at once: {name: parsed value or None}."""
        out = self.x.run("xprop", "-id", hex(self.id), *names)
        return {name: parse_xprop(out, name) for name in names}

    def prop(self, name):
        return self.props(name)[name]

    def atoms(self, name):
        return self.prop(name) or []

    def state(self):
        """Atoms of _NET_WM_STATE."""
        return self.atoms("_NET_WM_STATE")

    def title(self):
        values = self.props("_NET_WM_NAME", "WM_NAME")
        for name in ("_NET_WM_NAME", "WM_NAME"):
            if values[name]:
                return values[name][0]
        return None

    def pid(self):
        value = self.prop("_NET_WM_PID")
        return value[0] if value else None

    def frame_extents(self):
        """(left, right, top, bottom) of _NET_FRAME_EXTENTS, or None."""
        value = self.prop("_NET_FRAME_EXTENTS")
        return tuple(value) if value else None

    def motif_hints(self):
        """_MOTIF_WM_HINTS as {'flags', 'functions', 'decorations', ...}, or None."""
        value = self.prop("_MOTIF_WM_HINTS")
        if not value:
            return None
        keys = ("flags", "functions", "decorations", "input_mode", "status")
        return dict(zip(keys, value))

    def transient_for(self):
        value = self.prop("WM_TRANSIENT_FOR")
        return Window(self.x, value[0]) if value and value[0] else None

    def icons(self):
        """_NET_WM_ICON as {(width, height): RGBA image}; empty when the window has none."""
        values = self.x.cardinals(self.id, "_NET_WM_ICON") or []
        icons, at = {}, 0
        while at + 2 <= len(values):
            width, height = values[at], values[at + 1]
            pixels_argb = values[at + 2:at + 2 + width * height]
            at += 2 + width * height
            if width == 0 or height == 0 or len(pixels_argb) < width * height:
                break
            # Each item is 0xAARRGGBB, not premultiplied: B, G, R, A as little-endian bytes.
            data = struct.pack(f"<{width * height}I", *pixels_argb)
            icons[(width, height)] = Image.frombytes("RGBA", (width, height), data, "raw",
                                                     "BGRA")
        return icons

    def wm_state(self):
        """ICCCM WM_STATE: 'Normal', 'Iconic', 'Withdrawn' or None."""
        out = self.x.run("xprop", "-id", hex(self.id), "WM_STATE")
        match = re.search(r"window state:\s*(\w+)", out)
        return match.group(1) if match else None

    # actions

    def screenshot(self):
        return self.x.screenshot(self.geometry())

    def close(self):
        """The desktop's close command on this window (_NET_CLOSE_WINDOW to the window manager)."""
        self.x.run("wmctrl", "-i", "-c", hex(self.id))

    def activate(self):
        self.x.run("wmctrl", "-i", "-a", hex(self.id))

    def minimize(self):
        self.x.run("xdotool", "windowminimize", str(self.id))

    def send_delete(self):
        self.x.send_delete_window(self.id)


# --- the program under test ----------------------------------------------------------------

class Program:
    """The program under test running on an XServer, its output kept in a log file."""

    def __init__(self, x, binary=None, args=(), env=None):
        self.x = x
        self.binary = binary or program_path()
        self._check_binary()
        run_env = self._environment()
        run_env.update(env or {})
        fd, name = tempfile.mkstemp(dir=x.tmpdir, prefix="program-", suffix=".log")
        self.log_path = Path(name)
        with os.fdopen(fd, "wb") as log:
            self.proc = subprocess.Popen(self._command(args), env=run_env,
                                         stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=subprocess.STDOUT, start_new_session=True)

    def _check_binary(self):
        if not os.access(self.binary, os.X_OK):
            raise HarnessError(f"program not found or not executable: {self.binary}")

    def _environment(self):
        env = dict(self.x.env)
        env["QT_QPA_PLATFORM"] = "xcb"
        return env

    def _command(self, args):
        return [self.binary, *args]

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=TIMEOUT):
        """The exit code, or None if the program still runs after `timeout` seconds."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        _stop_process(self.proc)

    def output(self):
        try:
            return self.log_path.read_text(errors="replace")
        except OSError:
            return ""

    def window(self, name, timeout=TIMEOUT):
        """Waits for the program's one visible window titled `name` (a regular expression)."""
        def probe():
            if not self.running():
                raise HarnessError(f"program exited with {self.proc.returncode}:\n{self.output()}")
            return self.x.find_windows(name, pid=self.pid)
        found = wait_for(probe, lambda ws: len(ws) == 1, timeout)
        if len(found) != 1:
            raise TimeoutError(f"expected one visible window {name!r} within {timeout} s, "
                               f"found {found}; output:\n{self.output()}")
        return found[0]

    def windows(self, name=None, visible_only=False):
        return self.x.find_windows(name, pid=self.pid, visible_only=visible_only)


# --- pixels --------------------------------------------------------------------------------

def parse_colour(colour):
    """'#rrggbb' or an (r, g, b) tuple -> (r, g, b)."""
    if isinstance(colour, str):
        colour = colour.lstrip("#")
        return tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
    return tuple(colour[:3])


def colour_at(image, x, y):
    return image.getpixel((x, y))[:3]


def colour_distance(a, b):
    """Largest difference of one channel."""
    return max(abs(p - q) for p, q in zip(parse_colour(a), parse_colour(b)))


def is_grey(colour, tolerance=12):
    """True when the channels differ by at most `tolerance` (grey, black or white)."""
    r, g, b = parse_colour(colour)
    return max(r, g, b) - min(r, g, b) <= tolerance


def pixels(image):
    return list(image.convert("RGB").getdata())


def count_matching(image, predicate):
    return sum(1 for p in pixels(image) if predicate(p))


def difference_mask(image, colour, tolerance=0):
    """Mode '1' image: set where a pixel differs from `colour` by more than `tolerance`."""
    rgb = image.convert("RGB")
    diff = ImageChops.difference(rgb, Image.new("RGB", rgb.size, parse_colour(colour)))
    r, g, b = diff.split()
    largest = ImageChops.lighter(ImageChops.lighter(r, g), b)
    return largest.point(lambda v: 255 if v > tolerance else 0).convert("1")


def bbox_differing(image, colour, tolerance=0):
    """Bounding box (left, top, right, bottom; exclusive) of pixels not `colour`, or None."""
    return difference_mask(image, colour, tolerance).getbbox()


def bbox_matching(image, colour, tolerance=0):
    """Bounding box of pixels within `tolerance` of `colour`, or None."""
    mask = difference_mask(image, colour, tolerance)
    return ImageChops.invert(mask.convert("L")).getbbox()


# --- test base class -----------------------------------------------------------------------

class X11TestCase(unittest.TestCase):
    """Test case with one private X server and window manager for the whole class.

    setUp puts the desktop into a known state: a solid background `root_colour` and the pointer
    in the top-left corner, away from any centred window. launch() starts the program under
    test, which is stopped after the test in any case.
    """

    screen_size = (1280, 1024)
    root_colour = "#ff00ff"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.x = XServer(*cls.screen_size)
        cls.addClassCleanup(cls.x.stop)
        cls.x.start()

    def setUp(self):
        super().setUp()
        self.addCleanup(self.x.release_held)
        self.x.set_root_colour(self.root_colour)
        self.x.mouse_move(0, 0)

    def launch(self, *args, env=None):
        program = Program(self.x, args=args, env=env)
        self.addCleanup(self._stop_program, program)
        return program

    def spawn(self, *args):
        """Starts another X client for this test only (e.g. a window to cover the note)."""
        proc = self.x.spawn(*args)
        self.addCleanup(self.x.stop_spawned, proc)
        return proc

    def _stop_program(self, program):
        program.stop()
        self.x.stop_clipboard()
        # Let the window manager drop the gone windows before the next test looks.
        wait_for(lambda: not program.windows(), timeout=2)


# --- fast screen reads ------------------------------------------------------------------------

class _XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, up to the masks.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


class ScreenReader:
    """Reads rectangles of the root window over one Xlib connection, in a millisecond or so."""

    _ALL_PLANES = 0xFFFFFFFF
    _Z_PIXMAP = 2
    _LSB_FIRST = 0

    def __init__(self, display):
        name = ctypes.util.find_library("X11")
        if not name:
            raise HarnessError("libX11 not found")
        x = ctypes.CDLL(name)
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XGetImage.restype = ctypes.POINTER(_XImage)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._x = x
        self._dpy = x.XOpenDisplay(display.encode())
        if not self._dpy:
            raise HarnessError(f"cannot open display {display}")
        self._root = x.XDefaultRootWindow(self._dpy)

    def close(self):
        if self._dpy:
            self._x.XCloseDisplay(self._dpy)
            self._dpy = None

    def grab(self, rect):
        """The screen inside `rect` (a Rect on the screen) as an RGB image."""
        image = self._x.XGetImage(self._dpy, self._root, rect.x, rect.y, rect.width,
                                  rect.height, self._ALL_PLANES, self._Z_PIXMAP)
        if not image:
            raise HarnessError(f"XGetImage of {rect} failed")
        try:
            info = image.contents
            if info.bits_per_pixel != 32 or info.byte_order != self._LSB_FIRST:
                raise HarnessError(f"unexpected pixel layout: {info.bits_per_pixel} bits, "
                                   f"byte order {info.byte_order}")
            raw = ctypes.string_at(info.data, info.bytes_per_line * info.height)
            return Image.frombuffer("RGB", (info.width, info.height), raw, "raw", "BGRX",
                                    info.bytes_per_line, 1).copy()
        finally:
            self._x.XDestroyImage(image)


# --- Windows programs under Wine -----------------------------------------------------------

def wine_path():
    """Wine's loader: $STIQLET_WINE, or wine (or wine64) on PATH."""
    found = os.environ.get("STIQLET_WINE") or shutil.which("wine") or shutil.which("wine64")
    if not found:
        raise HarnessError("Wine not found: set STIQLET_WINE")
    return found


def windows_package_path():
    """The Windows package under test: $STIQLET_WINDOWS_ZIP, or the one in build-win."""
    path = os.environ.get("STIQLET_WINDOWS_ZIP")
    if path:
        return Path(path)
    found = sorted(Path(PROJECT_ROOT, "build-win").glob("stiqlet-*-windows-x64.zip"))
    if not found:
        raise HarnessError("no Windows package: build the target package_windows in build-win "
                           "or set STIQLET_WINDOWS_ZIP")
    return found[-1]


def unpack_windows_package(zip_path, into):
    """Unpacks the package into the folder `into`; returns the path of its stiqlet.exe."""
    shutil.unpack_archive(str(zip_path), str(into), "zip")
    programs = list(Path(into).glob("*/stiqlet.exe"))
    if len(programs) != 1:
        raise HarnessError(f"{zip_path} should hold one folder with stiqlet.exe, found {programs}")
    return programs[0]


class WinePrefix:
    """A Wine prefix of its own (drive C:, registry, one wineserver) in a temporary folder.

    Made fresh, with nothing of the build on Wine's search path: no WINEPATH, no QT_PLUGIN_PATH,
    so a program finds only the DLLs beside it and Windows' own. Making one takes 15 to 40 s,
    so a test class shares one; remove() ends its wineserver and every Wine process in it.
    """

    def __init__(self, x):
        self.x = x
        self.wine = wine_path()
        beside = Path(self.wine).with_name("wineserver")
        self.wineserver = str(beside) if beside.exists() else shutil.which("wineserver")
        self.folder = Path(tempfile.mkdtemp(prefix="stiqlet-wine-"))
        env = {name: value for name, value in x.env.items()
               if not name.startswith(("WINE", "QT_"))}
        env.update({
            "WINEPREFIX": str(self.folder / "prefix"),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            # No installer dialogs for Mono and Gecko.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        self.env = env

    def create(self, timeout=180):
        """Makes the prefix; returns the seconds it took."""
        started = time.monotonic()
        self._run(self.wine, "wineboot", "--init", timeout=timeout)
        self._run(self.wineserver, "-w", timeout=timeout)
        if not Path(self.env["WINEPREFIX"], "system.reg").exists():
            raise HarnessError(f"wineboot made no prefix in {self.env['WINEPREFIX']}")
        return time.monotonic() - started

    def end_processes(self):
        """Ends every Wine process of the prefix and its wineserver, which keeps state that
        outlives the programs (a desktop window Wine started for them, say); the prefix stays,
        and the next program starts a new server."""
        self._run(self.wineserver, "-k", timeout=TOOL_TIMEOUT, check=False)
        self._run(self.wineserver, "-w", timeout=TOOL_TIMEOUT, check=False)

    def remove(self):
        try:
            self._run(self.wineserver, "-k", timeout=TOOL_TIMEOUT, check=False)
            self._run(self.wineserver, "-w", timeout=TOOL_TIMEOUT, check=False)
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)

    def _run(self, *args, timeout, check=True):
        try:
            done = subprocess.run(list(args), env=self.env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired as exc:
            raise HarnessError(f"{' '.join(args)} did not finish within {timeout} s") from exc
        if check and done.returncode != 0:
            raise HarnessError(f"{' '.join(args)} failed ({done.returncode}): "
                               f"{done.stderr.decode(errors='replace')[-1000:]}")


class WineProgram(Program):
    """A Windows program run by Wine in a WinePrefix. `binary` is a path, or the name of one of
    Wine's own programs ("notepad"). Wine runs the program in the Unix process it starts, so
    `pid` is also the _NET_WM_PID of the program's X windows, and the exit code is the program's.
    """

    def __init__(self, x, prefix, binary, args=(), env=None):
        self.prefix = prefix
        super().__init__(x, str(binary), args, env)

    def _check_binary(self):
        if os.sep in self.binary and not Path(self.binary).is_file():
            raise HarnessError(f"program not found: {self.binary}")

    def _environment(self):
        return dict(self.prefix.env)

    def _command(self, args):
        return [self.prefix.wine, self.binary, *args]


ARTIFACTS = Path(__file__).resolve().parent / "artifacts"


class WineTestCase(X11TestCase):
    """Test case for the Windows program: the unpacked Windows package run by Wine in a fresh
    prefix of the class's own, on the class's X server.

    A failing test saves the last screenshots taken and one of the whole screen under
    tests/e2e/artifacts/<test>/, and prints their paths.
    """

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.package = windows_package_path()
        cls.program_exe = unpack_windows_package(cls.package, Path(cls.x.tmpdir, "unpacked"))
        cls.prefix = WinePrefix(cls.x)
        cls.addClassCleanup(cls.prefix.remove)
        cls.prefix_seconds = cls.prefix.create()

    def setUp(self):
        super().setUp()
        self.x.recent_screenshots.clear()

    def tearDown(self):
        if self._has_failed():
            self.save_artifacts()
        super().tearDown()

    def _has_failed(self):
        """Whether this test (or one of its subtests) has failed so far."""
        result = getattr(getattr(self, "_outcome", None), "result", None)
        if result is None:
            return False
        return any(test is self or getattr(test, "test_case", None) is self
                   for test, _ in result.failures + result.errors)

    def launch(self, *args, env=None):
        """Starts the packaged stiqlet.exe; it is stopped after the test in any case."""
        return self.launch_windows_program(self.program_exe, *args, env=env)

    def launch_windows_program(self, binary, *args, env=None):
        program = WineProgram(self.x, self.prefix, binary, args=args, env=env)
        self.addCleanup(self._stop_program, program)
        return program

    def save_artifacts(self):
        folder = ARTIFACTS / self.id().split(".", 1)[-1]
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True, exist_ok=True)
        saved = []
        for number, image in enumerate(list(self.x.recent_screenshots)):
            path = folder / f"shot-{number:02}.png"
            image.save(path)
            saved.append(path)
        try:
            path = folder / "screen-at-failure.png"
            self.x.screenshot().save(path)
            saved.append(path)
        except HarnessError as exc:
            print(f"\n  no screenshot at the failure: {exc}", file=sys.stderr)
        print("\n  screenshots of the failed test:\n" + "".join(f"    {p}\n" for p in saved),
              file=sys.stderr)
