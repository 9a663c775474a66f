"""The hotkeys, typed while another application has the focus: Ctrl+Alt+letter shows and hides
the note, Ctrl+Alt+X ends the program; the menu chooses the letter and switches the watch off
and on. Keys go in through XTEST (xdotool), so the program sees them only by reading the
keyboard state, never as key events of its own."""

import ctypes
import ctypes.util
import re
import subprocess
import tempfile
import time
import unittest

from harness import HarnessError, X11TestCase, holds_for, wait_for, wait_settled, wait_until

NOTE_TITLE = "^Form1$"
NOTE_SIZE = 200
OTHER_TITLE = "^other application$"
TYPING_TITLE = "^typing application$"

# The watch reads the keyboard every 100 ms. A hold this short spans at most one reading, so it
# flips the note once or not at all: short holds are repeated until the note changes.
SHORT_HOLD = 0.04
# How long a reading's effect may take to reach the X server.
SETTLE = 0.3
# Long enough for several readings.
LONG_HOLD = 0.6
# Short holds tried before giving up: each one misses a reading with a chance of about 1/2.
ATTEMPTS = 40


def viewable(window):
    try:
        return window.map_state() == "IsViewable"
    except HarnessError:  # the window is gone: the program ended
        return False


class TypingWindow:
    """An application the user types into: xev, whose window takes the keyboard and which
    writes every key press it receives to a log."""

    KEY_PRESS = re.compile(r"^KeyPress event,.*?\(keysym 0x[0-9a-f]+, (\w+)\)", re.M | re.S)

    def __init__(self, test, geometry):
        x = test.x
        log = tempfile.NamedTemporaryFile(dir=x.tmpdir, prefix="typed-", suffix=".log",
                                          delete=False)
        self.log_path = log.name
        self.proc = subprocess.Popen(
            ["xev", "-name", "typing application", "-geometry", geometry, "-event", "keyboard"],
            env=x.env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True)
        log.close()
        test.addCleanup(x.stop_spawned, self.proc)
        self.window = x.wait_window(TYPING_TITLE)

    def keys_pressed(self):
        with open(self.log_path, errors="replace") as log:
            return self.KEY_PRESS.findall(log.read())


class HotkeyTest(X11TestCase):

    def setUp(self):
        super().setUp()
        self._other = None

    # --- set-up helpers ------------------------------------------------------------------

    def start_note(self):
        program = self.launch()
        note = program.window(NOTE_TITLE)
        wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        return program, note

    def focus_elsewhere(self):
        """Gives the focus to a window of another application, away from the note."""
        if self._other is None:
            self.spawn("xmessage", "-name", "other application", "-geometry", "300x80+10+10",
                       "another application")
            self._other = self.x.wait_window(OTHER_TITLE)
        self._other.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [self._other.id],
                   timeout=3, message="the other application's window becoming active")

    def menu_keys(self, program, note, *keys):
        """Opens the note's popup menu with a right click and works it with the keyboard."""
        g = note.geometry()
        self.x.mouse_move(g.x + g.width // 2, g.y + g.height // 2)
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1, timeout=5)
        self.assertEqual(len(menus), 1, "one popup menu shown")
        # Keep the pointer off the menu so that only the keys choose.
        self.x.mouse_move(0, 0)
        self.x.key(*keys)
        closed = wait_for(lambda: self.popups(program, note), lambda ms: not ms, timeout=5)
        self.assertEqual(closed, [], "menu still open")

    def popups(self, program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

    # The menu from the top: "キー入力監視" (有り, 無し), "フォーム表示On/Offキー文字" (A to E), ...
    def choose_letter(self, program, note, letter):
        steps = ["Down"] * (ord(letter) - ord("A"))
        self.menu_keys(program, note, "Down", "Down", "Right", *steps, "Return")

    def switch_monitoring(self, program, note, on):
        self.menu_keys(program, note, "Down", "Right", *([] if on else ["Down"]), "Return")

    def swap_keys(self, first, second):
        """Lets the keys of two letters trade places (a keyboard mapping change, as a new
        layout makes): the server tells every client with a MappingNotify."""
        lib = ctypes.util.find_library("X11")
        if not lib:
            self.skipTest("libX11 not found")
        x = ctypes.CDLL(lib)
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        x.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                          ctypes.POINTER(ctypes.c_int)]
        x.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                             ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        x.XStringToKeysym.restype = ctypes.c_ulong
        x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x.XKeysymToKeycode.restype = ctypes.c_ubyte
        x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        dpy = x.XOpenDisplay(self.x.display.encode())
        if not dpy:
            raise HarnessError(f"cannot open display {self.x.display}")
        try:
            first, second = (x.XKeysymToKeycode(dpy, x.XStringToKeysym(name.encode()))
                             for name in (first, second))
            self.assertTrue(first and second and first != second, "letters without keys")
            rows = {}
            for code in (first, second):
                per = ctypes.c_int()
                syms = x.XGetKeyboardMapping(dpy, code, 1, ctypes.byref(per))
                rows[code] = (per.value, [syms[i] for i in range(per.value)])
                x.XFree(syms)
            for code, other in ((first, second), (second, first)):
                per, syms = rows[other]
                x.XChangeKeyboardMapping(dpy, code, per, (ctypes.c_ulong * per)(*syms), 1)
            x.XSync(dpy, 0)
        finally:
            x.XCloseDisplay(dpy)

    # --- keys ----------------------------------------------------------------------------

    def tap(self, combo):
        """Presses `combo` (e.g. 'ctrl+alt+a') for less than one reading of the watch."""
        self.x.run("xdotool", "keydown", combo, "sleep", str(SHORT_HOLD), "keyup", combo)

    def tap_until(self, combo, note, shown, refocus=True):
        """Short holds of `combo` until the note is shown (or hidden); fails if it never is.
        With `refocus` false the keys go to whatever window the hotkey left the keyboard to."""
        for _ in range(ATTEMPTS):
            if refocus:
                self.focus_elsewhere()
            self.tap(combo)
            if wait_for(lambda: viewable(note), lambda v: v == shown, timeout=SETTLE) == shown:
                return
        self.fail(f"{combo} did not {'show' if shown else 'hide'} the note in {ATTEMPTS} tries")

    def hold_and_watch(self, combo, *windows, duration=LONG_HOLD):
        """Holds `combo` for `duration` seconds; returns how often each window appeared or
        disappeared meanwhile."""
        self.focus_elsewhere()
        last = [viewable(w) for w in windows]
        changes = [0] * len(windows)
        self.x.key_down(combo)
        try:
            deadline = time.monotonic() + duration
            while time.monotonic() < deadline:
                for i, w in enumerate(windows):
                    now = viewable(w)
                    changes[i] += now != last[i]
                    last[i] = now
        finally:
            self.x.key_up(combo)
        return changes

    def hold_until_exit(self, program, combo):
        """Holds `combo` until the program ends; asserts it ended with code 0."""
        self.focus_elsewhere()
        self.x.key_down(combo)
        try:
            code = program.wait_exit(timeout=5)
        finally:
            self.x.key_up(combo)
        self.assertEqual(code, 0, f"exit code after {combo}; output:\n{program.output()}")

    def assertStaysShown(self, program, note, combo):
        """Holding `combo` over several readings neither hides the note nor ends the program."""
        changes = self.hold_and_watch(combo, note)
        self.assertEqual(changes, [0], f"{combo} showed or hid the note")
        self.assertTrue(holds_for(program.running, SETTLE), f"{combo} ended the program")
        self.assertTrue(viewable(note))

    def assertToggles(self, note, combo, place):
        """`combo` hides the note, then shows it again at `place`, the same size, still on top."""
        self.tap_until(combo, note, shown=False)
        self.tap_until(combo, note, shown=True)
        seen = wait_for(note.geometry, lambda g: g == place, timeout=3)
        self.assertEqual(seen, place, "the note came back elsewhere")
        self.assertIn("_NET_WM_STATE_ABOVE", note.state())

    def active_window(self):
        return (self.x.root_prop("_NET_ACTIVE_WINDOW") or [None])[0]

    def typing_then_note(self):
        """Starts an application the user types into, then the note over it; returns the
        program, its note and the typing application once the user has gone back to typing."""
        typing = TypingWindow(self, "600x400+340+300")
        typing.window.activate()
        wait_until(lambda: self.active_window() == typing.window.id, timeout=3,
                   message="the typing application becoming active")
        program, note = self.start_note()
        # The first show makes the note the active window.
        self.assertEqual(wait_for(self.active_window, lambda w: w == note.id, timeout=3),
                         note.id, "the note is not the active window after start-up")
        typing.window.activate()
        wait_until(lambda: self.active_window() == typing.window.id, timeout=3,
                   message="the typing application becoming active again")
        return program, note, typing

    # --- tests ---------------------------------------------------------------------------

    def test_the_hotkey_shows_the_note_above_the_typing_application_which_keeps_the_keys(self):
        program, note, typing = self.typing_then_note()
        place = note.geometry()
        before = self.x.screenshot(place)
        self.tap_until("ctrl+alt+a", note, shown=False, refocus=False)
        self.tap_until("ctrl+alt+a", note, shown=True, refocus=False)

        # What the user types next reaches the application they were typing into.
        typed = typing.keys_pressed()
        word = ["f", "o", "c", "u", "s"]
        self.x.key(*word)
        arrived = wait_for(lambda: typing.keys_pressed()[len(typed):],
                           lambda keys: keys[-len(word):] == word, timeout=3)
        self.assertEqual(arrived[-len(word):], word,
                         "keys typed after the note came back did not reach the typing "
                         f"application; active window 0x{self.active_window() or 0:x}, "
                         f"note 0x{note.id:x}")
        self.assertEqual(self.active_window(), typing.window.id,
                         "the note took the active window")

        # The note is back where it was, above the typing application and showing its picture.
        self.assertTrue(viewable(note))
        self.assertEqual(note.geometry(), place)
        stacking = self.x.client_list(stacking=True)
        self.assertGreater(stacking.index(note), stacking.index(typing.window),
                           "the note is below the typing application")
        shot, settled = wait_settled(lambda: self.x.screenshot(place),
                                     lambda image: image.tobytes() == before.tobytes())
        self.assertTrue(settled and shot.tobytes() == before.tobytes(),
                        "the note's picture is not what it showed before it was hidden")

        # The desktop can still make it the active window when the user asks for it (a window
        # list), and a restore from the task bar, the user's own click, activates it.
        note.activate()
        wait_until(lambda: self.active_window() == note.id, timeout=3,
                   message="the note becoming active when the desktop activates it")
        typing.window.activate()
        self.tap_until("ctrl+alt+a", note, shown=False, refocus=False)
        note.activate()
        wait_until(lambda: viewable(note) and self.active_window() == note.id, timeout=3,
                   message="the note restored and activated by the task bar")
        self.assertTrue(program.running())

    def test_ctrl_alt_a_hides_and_shows_the_note_at_the_same_place(self):
        program, note = self.start_note()
        place = note.geometry()
        self.assertToggles(note, "ctrl+alt+a", place)
        self.assertTrue(program.running())

    def test_after_choosing_c_only_ctrl_alt_c_toggles(self):
        program, note = self.start_note()
        place = note.geometry()
        self.choose_letter(program, note, "C")
        self.assertStaysShown(program, note, "ctrl+alt+a")
        self.assertToggles(note, "ctrl+alt+c", place)
        # Shift held as well changes nothing.
        self.assertToggles(note, "ctrl+alt+shift+c", place)

    def test_monitoring_off_stops_both_combinations_and_on_restores_them(self):
        program, note = self.start_note()
        place = note.geometry()
        self.switch_monitoring(program, note, on=False)
        self.assertStaysShown(program, note, "ctrl+alt+a")
        self.assertStaysShown(program, note, "ctrl+alt+x")

        self.switch_monitoring(program, note, on=True)
        self.assertToggles(note, "ctrl+alt+a", place)
        self.hold_until_exit(program, "ctrl+alt+x")

    def test_ctrl_or_alt_with_x_alone_does_nothing(self):
        program, note = self.start_note()
        self.assertStaysShown(program, note, "ctrl+x")
        self.assertStaysShown(program, note, "alt+x")
        # The watch was on all along.
        self.hold_until_exit(program, "ctrl+alt+x")

    def test_a_hidden_note_keeps_its_one_task_bar_entry_which_closes_the_program(self):
        for close in ("desktop", "hotkey"):
            with self.subTest(close):
                program, note = self.start_note()
                self.tap_until("ctrl+alt+a", note, shown=False)
                self.assertTrue(holds_for(lambda: not viewable(note), SETTLE),
                                "the hidden note came back on the screen")
                entries = self.x.taskbar_entries(pid=program.pid)
                self.assertEqual(entries, [note], "task-bar entries while hidden")
                self.assertEqual(note.title(), "Form1")
                self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", note.state())
                if close == "desktop":
                    # The task bar's close, given to the entry while the note is hidden.
                    note.close()
                    code = program.wait_exit(timeout=5)
                    self.assertEqual(code, 0, f"exit code; output:\n{program.output()}")
                else:
                    self.hold_until_exit(program, "ctrl+alt+x")

    def test_restoring_the_hidden_note_from_the_task_bar_shows_it_where_it_was(self):
        program, note = self.start_note()
        place = note.geometry()
        self.tap_until("ctrl+alt+a", note, shown=False)
        # A task bar's restore: _NET_ACTIVE_WINDOW for the entry.
        note.activate()
        wait_until(lambda: viewable(note), timeout=3, message="the note coming back")
        self.assertEqual(note.geometry(), place)
        self.assertNotIn("_NET_WM_STATE_HIDDEN", note.state())
        # Shown again as far as the hotkey goes: it hides and shows as before.
        self.assertToggles(note, "ctrl+alt+a", place)

    def test_after_a_restore_from_the_task_bar_hide_and_show_keep_the_note_normal(self):
        program, note = self.start_note()
        place = note.geometry()
        self.menu_keys(program, note, *["Down"] * 7, "Return")  # 最小化
        wait_until(lambda: note.wm_state() == "Iconic", timeout=3,
                   message="the note being minimised")
        note.activate()
        wait_until(lambda: viewable(note) and note.wm_state() == "Normal", timeout=3,
                   message="the note restored by the task bar")
        self.assertToggles(note, "ctrl+alt+a", place)
        self.assertTrue(holds_for(lambda: viewable(note), 1.0),
                        "the note went out of sight after it was shown again")
        self.assertEqual(note.wm_state(), "Normal")
        self.assertNotIn("_NET_WM_STATE_HIDDEN", note.state())

    def test_ctrl_alt_x_ends_the_program_with_code_0(self):
        for how in ("shown", "hidden", "minimised"):
            with self.subTest(how):
                program, note = self.start_note()
                if how == "hidden":
                    self.tap_until("ctrl+alt+a", note, shown=False)
                elif how == "minimised":
                    note.minimize()
                    wait_until(lambda: note.wm_state() == "Iconic", timeout=3,
                               message="the note being minimised")
                self.hold_until_exit(program, "ctrl+alt+x")

    def test_a_changed_keyboard_mapping_is_followed(self):
        program, note = self.start_note()
        place = note.geometry()
        # The watch has read the keyboard with the first mapping.
        self.assertToggles(note, "ctrl+alt+a", place)
        # A and Q trade keys, as between a US and a French keyboard.
        self.swap_keys("a", "q")
        self.addCleanup(self.swap_keys, "a", "q")
        self.assertToggles(note, "ctrl+alt+a", place)
        # The key that was A is Q now.
        self.assertStaysShown(program, note, "ctrl+alt+q")

    def test_two_copies_each_answer_to_their_own_letter(self):
        first, note_a = self.start_note()
        self.x.run("xdotool", "windowmove", str(note_a.id), "100", "300")
        place_a = wait_for(note_a.geometry, lambda g: (g.x, g.y) == (100, 300), timeout=3)
        self.assertEqual((place_a.x, place_a.y), (100, 300), "the first note did not move")
        second, note_b = self.start_note()
        place_b = note_b.geometry()
        self.choose_letter(second, note_b, "B")

        # A long hold flips its own note on every reading, and never the other one.
        changes = self.hold_and_watch("ctrl+alt+a", note_a, note_b)
        self.assertGreaterEqual(changes[0], 3, "holding Ctrl+Alt+A should flip the first note "
                                               "on each reading")
        self.assertEqual(changes[1], 0, "Ctrl+Alt+A flipped the second copy's note")
        if not viewable(note_a):
            self.tap_until("ctrl+alt+a", note_a, shown=True)

        changes = self.hold_and_watch("ctrl+alt+b", note_a, note_b)
        self.assertEqual(changes[0], 0, "Ctrl+Alt+B flipped the first copy's note")
        self.assertGreaterEqual(changes[1], 3, "holding Ctrl+Alt+B should flip the second note "
                                               "on each reading")
        if not viewable(note_b):
            self.tap_until("ctrl+alt+b", note_b, shown=True)

        self.assertEqual(wait_for(note_a.geometry, lambda g: g == place_a, timeout=3), place_a)
        self.assertEqual(wait_for(note_b.geometry, lambda g: g == place_b, timeout=3), place_b)
        self.assertTrue(first.running() and second.running())


if __name__ == "__main__":
    unittest.main()
