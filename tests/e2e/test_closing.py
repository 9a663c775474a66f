"""Ending the program: a close asked for while the 情報 box or the popup menu is open waits until
the box is answered or the menu has closed, whichever route asked for it; the signals a session
or a terminal sends to end a program end it with code 0, as an ordinary close."""

import os
import shutil
import signal
import unittest

from harness import HarnessError, Program, X11TestCase, holds_for, program_path, wait_for

NOTE_TITLE = "^Form1$"
BOX_TITLE = "^情報$"
NOTE_SIZE = 200
# Long enough for several readings of the 100 ms hotkey watch.
LONG_HOLD = 0.6
# How long the program must go on after a close asked for while a box or the menu is open.
WAITS = 1.0

END_SIGNALS = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT)


def viewable(window):
    try:
        return window.is_viewable()
    except HarnessError:  # the window is gone: the program ended
        return False


class ClosingTest(X11TestCase):

    def start_note(self, program=None):
        program = program or self.launch()
        note = program.window(NOTE_TITLE)
        wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        return program, note

    # --- what is open ----------------------------------------------------------------------

    def open_box(self, program, note):
        """Pastes text, which brings up the paste-error box; returns the box."""
        self.x.own_clipboard("no picture".encode(), "UTF8_STRING")
        g = note.geometry()
        self.x.mouse_move(g.x + g.width // 2, g.y + g.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        boxes = wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                         lambda ws: len(ws) == 1, timeout=5)
        self.assertEqual(len(boxes), 1, "the paste-error box did not open")
        box = boxes[0]
        wait_for(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW"), lambda a: a == [box.id],
                 timeout=3)
        return box

    def answer_box(self, box):
        self.x.key("Return")

    def open_menu(self, program, note):
        g = note.geometry()
        self.x.mouse_move(g.x + g.width // 2, g.y + g.height // 2)
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1, timeout=5)
        self.assertEqual(len(menus), 1, "the popup menu did not open")
        return menus[0]

    def close_menu(self, menu):
        self.x.key("Escape")

    def popups(self, program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

    # --- ways of asking for the close ------------------------------------------------------

    def ctrl_alt_x(self, program):
        self.x.key_down("ctrl+alt+x")
        try:
            # Held over several readings of the watch, each of which asks for the close.
            self.assertTrue(holds_for(program.running, LONG_HOLD),
                            f"Ctrl+Alt+X ended the program at once; output:\n{program.output()}")
        finally:
            self.x.key_up("ctrl+alt+x")

    ROUTES = (
        ("Ctrl+Alt+X", "ctrl_alt_x"),
        ("WM_DELETE_WINDOW", "send_delete"),
        ("the close command of the window manager and task bars", "close"),
    )

    def ask_close(self, route, program, note):
        if route == "ctrl_alt_x":
            self.ctrl_alt_x(program)
        else:
            getattr(note, route)()

    # --- tests ---------------------------------------------------------------------------

    def assertWaitsThenEnds(self, program, note, opened, close_it, what):
        self.assertTrue(holds_for(lambda: program.running() and viewable(opened), WAITS),
                        f"{what}: the program ended or the window closed at once; "
                        f"output:\n{program.output()}")
        self.assertTrue(viewable(note), f"{what}: the note went away")
        close_it(opened)
        code = program.wait_exit(timeout=5)
        self.assertEqual(code, 0, f"{what}: exit code once it closed; output:\n{program.output()}")

    def test_a_close_waits_until_the_box_is_answered(self):
        for what, route in self.ROUTES:
            with self.subTest(what):
                program, note = self.start_note()
                box = self.open_box(program, note)
                self.ask_close(route, program, note)
                self.assertWaitsThenEnds(program, note, box, self.answer_box, what)

    def test_a_close_waits_until_the_menu_has_closed(self):
        # Not Ctrl+Alt+X: the menu holds the keyboard, and Alt going down closes it, as on
        # Windows, so the close asked for by the keys that follow no longer waits for anything.
        for what, route in self.ROUTES[1:]:
            with self.subTest(what):
                program, note = self.start_note()
                menu = self.open_menu(program, note)
                self.ask_close(route, program, note)
                self.assertWaitsThenEnds(program, note, menu, self.close_menu, what)

    def test_end_signals_end_the_program_with_code_0(self):
        for sig in END_SIGNALS:
            for box in (False, True):
                with self.subTest(signal=sig.name, box_open=box):
                    program, note = self.start_note()
                    if box:
                        # The session ends: it does not wait for the box to be answered.
                        self.open_box(program, note)
                    os.kill(program.pid, sig)
                    code = program.wait_exit(timeout=5)
                    self.assertEqual(code, 0, f"exit code after {sig.name}; "
                                              f"output:\n{program.output()}")

    def test_a_hangup_ignored_at_start_stays_ignored(self):
        if not shutil.which("nohup"):
            self.skipTest("nohup not found")
        # nohup sets SIGHUP to be ignored and starts the program in its place.
        program = Program(self.x, binary=shutil.which("nohup"), args=(program_path(),))
        self.addCleanup(self._stop_program, program)
        program, note = self.start_note(program)
        os.kill(program.pid, signal.SIGHUP)
        self.assertTrue(holds_for(program.running, WAITS),
                        f"SIGHUP ended a program started with nohup; output:\n{program.output()}")
        os.kill(program.pid, signal.SIGTERM)
        self.assertEqual(program.wait_exit(timeout=5), 0, program.output())


if __name__ == "__main__":
    unittest.main()
