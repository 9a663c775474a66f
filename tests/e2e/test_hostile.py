"""Clipboard owners that misbehave: one announces a picture and never delivers it, one dies when
asked for it, one dies or stalls in the middle of an incremental transfer. The owner is the small
X client clipboard_owner (built with the tests, path in $STIQLET_CLIPBOARD_OWNER). The paste must
give up within a few seconds, with the picture emptied and no message, and the note must go on
answering its hotkey afterwards.
"""

import os
import select
import subprocess
import time
import unittest

from harness import X11TestCase, holds_for, wait_for
from test_paste import NOTE_SIZE, RED, coloured_box, png_bytes, quadrants

NOTE_TITLE = "^Form1$"
BOX_TITLE = "^情報$"
# Longest a paste may take to give up on an owner that does not deliver.
GIVE_UP = 8.0
# Longest the hotkey may take to hide the note when nothing holds the program up.
ANSWER = 2.0


def owner_path():
    return os.environ.get("STIQLET_CLIPBOARD_OWNER", "")


@unittest.skipUnless(os.access(owner_path(), os.X_OK), "clipboard_owner not built")
class HostileClipboardTest(X11TestCase):

    def start_note(self):
        program = self.launch()
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=5)
        return program, note, area

    def owner(self, mode):
        """Starts clipboard_owner in `mode`; returns it once it owns the clipboard."""
        proc = subprocess.Popen([owner_path(), mode], env=self.x.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self.addCleanup(self._stop, proc)
        ready, _, _ = select.select([proc.stdout], [], [], 10)
        self.assertTrue(ready and proc.stdout.readline().strip() == b"ready",
                        "clipboard_owner did not take the clipboard")
        return proc

    @staticmethod
    def _stop(proc):
        if proc.poll() is None:
            proc.kill()
        proc.wait(timeout=5)
        proc.stdout.close()

    def grab(self, area):
        return self.x.screenshot(area)

    def paste_red(self, area):
        """A readable picture first, so that giving up shows as the picture emptied."""
        self.x.own_clipboard(png_bytes(quadrants(100, 100, (RED,) * 4)), "image/png")
        self.double_click(area)
        wait_for(lambda: self.grab(area), lambda img: coloured_box(img) is not None, timeout=5)
        self.x.stop_clipboard()

    def double_click(self, area):
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)

    def tap_toggle_until_hidden(self, note, timeout):
        """Taps Ctrl+Alt+A until the note hides; the seconds it took, or None."""
        start = time.monotonic()
        while time.monotonic() - start < timeout:
            self.x.run("xdotool", "keydown", "ctrl+alt+a", "sleep", "0.15", "keyup",
                       "ctrl+alt+a")
            if not note.is_viewable():
                return time.monotonic() - start
        return None

    def check_gives_up(self, mode):
        program, note, area = self.start_note()
        self.paste_red(area)
        owner = self.owner(mode)
        clicked = time.monotonic()
        self.double_click(area)
        # The picture empties: the owner's picture never came.
        shot = wait_for(lambda: self.grab(area), lambda img: coloured_box(img) is None,
                        timeout=GIVE_UP + 5)
        took = time.monotonic() - clicked
        self.assertIsNone(coloured_box(shot), "the picture was not emptied")
        self.assertLessEqual(took, GIVE_UP, f"the paste took {took:.1f} s to give up")
        self.assertTrue(program.running(), program.output())
        self.assertTrue(holds_for(lambda: not program.windows(BOX_TITLE, visible_only=True),
                                  0.5), "a message box opened")
        # The note still answers its hotkey.
        answered = self.tap_toggle_until_hidden(note, ANSWER + 3)
        self.assertIsNotNone(answered, "the note no longer answers Ctrl+Alt+A")
        self.assertLessEqual(answered, ANSWER)
        return owner

    def test_owner_that_never_answers(self):
        self.check_gives_up("silent")

    def test_owner_that_dies_when_asked(self):
        self.check_gives_up("die")

    def test_owner_that_dies_in_an_incremental_transfer(self):
        self.check_gives_up("incr-die")

    def test_owner_that_stalls_in_an_incremental_transfer(self):
        self.check_gives_up("incr-stall")

    def test_hotkey_answers_while_an_owner_stalls(self):
        program, note, area = self.start_note()
        self.owner("silent")
        self.double_click(area)
        answered = self.tap_toggle_until_hidden(note, GIVE_UP + 3)
        self.assertIsNotNone(answered, "the note never answered Ctrl+Alt+A")
        self.assertLessEqual(answered, ANSWER,
                             f"Ctrl+Alt+A took {answered:.1f} s during a stalled paste")


if __name__ == "__main__":
    unittest.main()
