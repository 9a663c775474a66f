"""The About window as the desktop sees it: opened from the note's menu, its title, size, place
and stacking, no task-bar entry, closing that only hides it, and the end of the program while
it is open. Everything is read back from the X server."""

import time
import unittest

from PIL import ImageChops

from harness import Rect, X11TestCase, holds_for, wait_for, wait_until

NOTE_TITLE = "^Form1$"
ABOUT_TITLE = r"^Stiqlet V1\.4$"
ABOUT_SIZE = (648, 678)
NOTE_SIZE = 200
# The text box of the About window, in its client area.
MEMO = Rect(9, 65, 631, 598)
# Keys that choose a popup menu item: the menu opens with no item active; Down goes to the
# first item, Up to the last ("Stiqletの終了"). "About" is the eighth item.
CHOOSE_ABOUT = ["Down"] * 8 + ["Return"]
CHOOSE_QUIT = ["Up", "Return"]

MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE = 0x08, 0x10
MWM_DECOR_TITLE, MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 0x08, 0x20, 0x40


def centre_of(rect):
    return rect.x + rect.width // 2, rect.y + rect.height // 2


def inset(rect, by):
    return Rect(rect.x + by, rect.y + by, rect.width - 2 * by, rect.height - 2 * by)


def differing_pixels(a, b, tolerance=40):
    diff = ImageChops.difference(a.convert("RGB"), b.convert("RGB")).convert("L")
    return sum(diff.point(lambda v: 1 if v > tolerance else 0).getdata())


class AboutSteps:
    """Steps shared by the About window's tests."""

    def start_note(self):
        program = self.launch()
        note = program.window(NOTE_TITLE)
        wait_until(lambda: note.geometry().width == NOTE_SIZE, timeout=3,
                   message="the note at its size")
        return program, note

    def choose_from_menu(self, program, note, keys):
        """Right-clicks the middle of the note and picks a menu item with the keyboard."""
        self.x.mouse_move(*centre_of(note.geometry()))
        self.x.click(3)

        def menus():
            return [w for w in program.windows(visible_only=True)
                    if w != note and w.override_redirect()]
        wait_until(lambda: len(menus()) == 1, timeout=5, message="the popup menu opening")
        self.x.key(*keys)
        wait_until(lambda: not menus(), timeout=5, message="the popup menu closing")

    def open_about(self, program, note):
        self.choose_from_menu(program, note, CHOOSE_ABOUT)
        about = program.window(ABOUT_TITLE)
        wait_until(lambda: about.geometry().width == ABOUT_SIZE[0], timeout=3,
                   message="the About window at its size")
        return about

    def about_windows(self, program):
        return program.windows(ABOUT_TITLE, visible_only=False)

    @staticmethod
    def hidden(window):
        """True when the window is not on screen: unmapped, or its X window destroyed."""
        return not window.exists() or not window.is_viewable()

    def move(self, window, x, y):
        """Moves a window as the user would, through the window manager."""
        before = window.geometry()
        self.x.run("wmctrl", "-i", "-r", hex(window.id), "-e", f"0,{x},{y},-1,-1")
        return wait_for(window.geometry, lambda g: g != before, timeout=3)

    def move_clear_of_note(self, about, note):
        """Moves the About window off the note, which it covers when centred."""
        n = note.geometry()
        self.move(about, n.right + 20, 10)
        return wait_for(about.geometry, lambda g: g.x > n.right, timeout=3)

    def memo_shot(self, about):
        g = about.geometry()
        # Inside the text box's frame, which shows whether the box has the focus.
        return self.x.screenshot(inset(Rect(g.x + MEMO.x, g.y + MEMO.y, MEMO.width,
                                            MEMO.height), 4))

    def hide_note_with_hotkey(self, note):
        """Holds Ctrl+Alt+A for less than one 100 ms tick of the keyboard watch, which toggles the
        note at most once, until the note is hidden."""
        # Each tap is seen only when a reading falls inside it, later on a loaded machine.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            self.x.key_down("ctrl+alt+a")
            time.sleep(0.06)
            self.x.key_up("ctrl+alt+a")
            if wait_for(note.is_viewable, lambda v: not v, timeout=0.3) is False:
                return
        self.fail("Ctrl+Alt+A did not hide the note")



class AboutWindowTest(AboutSteps, X11TestCase):

    def test_about_item_opens_version_window_kept_above_without_task_bar_entry(self):
        program, note = self.start_note()
        about = self.open_about(program, note)

        self.assertEqual(about.title(), "Stiqlet V1.4")
        self.assertEqual(about.prop("WM_NAME"), ["Stiqlet V1.4"])
        g = about.geometry()
        self.assertEqual((g.width, g.height), ABOUT_SIZE)
        self.assertIn("_NET_WM_STATE_ABOVE", about.state())
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [about.id], timeout=3,
                   message="the About window becoming active")
        self.assertTrue(note.is_viewable(), "the note must stay as it was")

        # No task-bar entry: the program keeps exactly the note's.
        self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note])
        types = about.atoms("_NET_WM_WINDOW_TYPE")
        self.assertTrue("_NET_WM_STATE_SKIP_TASKBAR" in about.state()
                        or types[:1] == ["_NET_WM_WINDOW_TYPE_UTILITY"],
                        f"state {about.state()}, types {types}")

        # A title bar with a close box only.
        extents = wait_for(about.frame_extents, lambda e: e is not None, timeout=3)
        self.assertGreater(extents[2], 0, "no title bar")
        hints = about.motif_hints()
        self.assertIsNotNone(hints)
        if hints["flags"] & 0x2:
            self.assertTrue(hints["decorations"] & MWM_DECOR_TITLE, hints)
            self.assertFalse(hints["decorations"] & (MWM_DECOR_MINIMIZE | MWM_DECOR_MAXIMIZE),
                             hints)
        if hints["flags"] & 0x1:
            self.assertFalse(hints["functions"] & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE),
                             hints)

        # Centred on the screen at its first show (the client area; the frame may add a title
        # bar above it).
        area = self.x.work_area()
        cx, cy = centre_of(g)
        ax, ay = centre_of(area)
        self.assertLessEqual(abs(cx - ax), max(extents[0], extents[1], 1), f"{g} in {area}")
        self.assertLessEqual(abs(cy - ay), max(extents[2], extents[3], 1), f"{g} in {area}")

        # Fixed size: the window manager keeps it whatever is asked.
        self.x.run("xdotool", "windowsize", str(about.id), "800", "800")
        self.assertTrue(holds_for(lambda: (about.geometry().width, about.geometry().height)
                                  == ABOUT_SIZE, 0.5), f"resized to {about.geometry()}")

        # Kept above a window activated after it.
        self.spawn("xmessage", "-name", "cover", "-geometry",
                   f"{g.width}x{g.height}+{g.x + 40}+{g.y + 40}", "cover")
        cover = self.x.wait_window("^cover$")
        cover.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [cover.id], timeout=3,
                   message="the covering window becoming active")
        stacking = wait_for(lambda: self.x.client_list(stacking=True),
                            lambda s: about in s and cover in s
                            and s.index(about) > s.index(cover), timeout=3)
        self.assertGreater(stacking.index(about), stacking.index(cover),
                           "the About window must stay above the active window")

    def test_about_item_while_open_brings_the_one_window_to_front(self):
        program, note = self.start_note()
        about = self.open_about(program, note)
        place = self.move_clear_of_note(about, note)
        note.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [note.id], timeout=3,
                   message="the note becoming active")

        self.choose_from_menu(program, note, CHOOSE_ABOUT)
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [about.id], timeout=3,
                   message="the About window becoming active again")
        self.assertEqual(self.about_windows(program), [about])
        self.assertTrue(about.is_viewable())
        self.assertEqual(about.geometry(), place)
        self.assertTrue(note.is_viewable())

    def test_close_hides_it_and_it_reopens_where_and_as_it_was_left(self):
        program, note = self.start_note()
        about = self.open_about(program, note)
        place = self.move(about, 60, 40)
        self.assertLess(place.x, 200, "the window manager did not move the About window")

        # Scroll the help text down and to the right with the wheel.
        memo_point = (place.x + MEMO.x + MEMO.width // 2, place.y + MEMO.y + MEMO.height // 3)
        self.x.mouse_move(*memo_point)
        top = self.memo_shot(about)
        self.x.click(5, repeat=4)
        self.x.click(7, repeat=4)
        # The wheel notches arrive one by one: wait for the text to have scrolled and to hold
        # still, not for the first notch.
        def scrolled_and_still(shot):
            return differing_pixels(shot, top) > 1000 and holds_for(
                lambda: differing_pixels(self.memo_shot(about), shot) < 60, 0.3)

        scrolled = wait_for(lambda: self.memo_shot(about), scrolled_and_still, timeout=5)
        self.assertGreater(differing_pixels(scrolled, top), 1000, "the help text did not scroll")
        self.assertTrue(holds_for(lambda: differing_pixels(self.memo_shot(about), scrolled) < 60,
                                  0.3), "the help text does not hold still")

        about.close()
        wait_until(lambda: self.hidden(about), timeout=5,
                   message="the About window hiding on close")
        self.assertTrue(holds_for(program.running, 1.0),
                        f"the program ended; output:\n{program.output()}")
        self.assertTrue(note.is_viewable())
        self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note])

        again = self.open_about(program, note)
        self.assertEqual(self.about_windows(program), [again])
        seen = wait_for(again.geometry, lambda g: g == place, timeout=3)
        self.assertEqual(seen, place, "the About window came back elsewhere")
        self.x.mouse_move(*memo_point)
        shot = wait_for(lambda: self.memo_shot(again),
                        lambda s: differing_pixels(s, scrolled) < 60, timeout=3)
        # A blinking text cursor may differ; a scroll by one line would change thousands.
        self.assertLess(differing_pixels(shot, scrolled), 60,
                        "the help text is not scrolled as it was left")

    def test_close_while_note_hidden_keeps_program_running(self):
        program, note = self.start_note()
        about = self.open_about(program, note)
        self.hide_note_with_hotkey(note)
        self.assertTrue(about.is_viewable(), "hiding the note hid the About window")

        about.close()
        wait_until(lambda: self.hidden(about), timeout=5,
                   message="the About window hiding on close")
        self.assertTrue(holds_for(program.running, 1.0),
                        f"the program ended; output:\n{program.output()}")
        self.assertFalse(note.is_viewable())

        # The note is still there to close: its close ends the program.
        note.send_delete()
        self.assertEqual(program.wait_exit(timeout=5), 0, program.output())

    def test_quitting_the_note_while_about_is_open_ends_with_code_0(self):
        for how in ("menu", "desktop close of the note"):
            with self.subTest(how):
                program, note = self.start_note()
                about = self.open_about(program, note)
                if how == "menu":
                    self.move_clear_of_note(about, note)
                    self.choose_from_menu(program, note, CHOOSE_QUIT)
                else:
                    note.close()
                code = program.wait_exit(timeout=5)
                self.assertEqual(code, 0, f"exit code; output:\n{program.output()}")

    def assertCloseBoxOnlyAndNoTaskBarEntry(self, program, note, about, when):
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", about.state(), when)
        self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note], when)
        # What openbox offers in the title bar and the window menu.
        actions = wait_for(lambda: about.atoms("_NET_WM_ALLOWED_ACTIONS"),
                           lambda a: "_NET_WM_ACTION_CLOSE" in a, timeout=3)
        self.assertIn("_NET_WM_ACTION_CLOSE", actions, when)
        offered = [a for a in actions if a in ("_NET_WM_ACTION_MINIMIZE",
                                               "_NET_WM_ACTION_MAXIMIZE_HORZ",
                                               "_NET_WM_ACTION_MAXIMIZE_VERT")]
        self.assertEqual(offered, [], f"{when}: allowed actions {actions}")
        self.assertGreater(about.frame_extents()[2], 0, f"{when}: no title bar")

    def test_no_task_bar_entry_and_close_box_only_at_every_show(self):
        program, note = self.start_note()
        about = self.open_about(program, note)
        self.assertCloseBoxOnlyAndNoTaskBarEntry(program, note, about, "first show")

        # The window manager forgets a window's state when it is hidden.
        about.close()
        wait_until(lambda: self.hidden(about), timeout=5,
                   message="the About window hiding on close")
        again = self.open_about(program, note)
        self.assertCloseBoxOnlyAndNoTaskBarEntry(program, note, again, "shown again")

    def test_escape_hides_it_and_it_reopens_where_it_was_left(self):
        program, note = self.start_note()
        about = self.open_about(program, note)
        place = self.move(about, 60, 40)
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [about.id], timeout=3,
                   message="the About window being active")

        self.x.key("Escape")
        wait_until(lambda: self.hidden(about), timeout=5,
                   message="the About window hiding on Escape")
        self.assertTrue(holds_for(program.running, 1.0),
                        f"the program ended; output:\n{program.output()}")
        self.assertTrue(note.is_viewable())

        again = self.open_about(program, note)
        self.assertEqual(self.about_windows(program), [again])
        seen = wait_for(again.geometry, lambda g: g == place, timeout=3)
        self.assertEqual(seen, place, "the About window came back elsewhere")


class AboutBesideARealTaskBarTest(AboutSteps, X11TestCase):
    """tint2 along the bottom of the screen, as a user of such a desktop sees it: the program
    has one button there, the note's, whether the About window is open or not."""

    def buttons_stay(self, bar, count):
        return holds_for(lambda: len(bar.buttons()) == count, 1.0)

    def test_about_adds_no_button_to_the_task_bar(self):
        bar = self.x.start_taskbar()
        self.addCleanup(bar.stop)
        program, note = self.start_note()
        seen = wait_for(bar.buttons, lambda b: len(b) == 1, timeout=5)
        self.assertEqual(len(seen), 1, f"task buttons with the note alone: {seen}")

        for attempt in ("first", "second"):
            about = self.open_about(program, note)
            wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [about.id], timeout=3,
                       message="the About window becoming active")
            self.assertTrue(self.buttons_stay(bar, 1),
                            f"{attempt} show of About: task buttons {bar.buttons()}")
            about.close()
            wait_until(lambda: self.hidden(about), timeout=5,
                       message="the About window hiding on close")
        self.assertTrue(self.buttons_stay(bar, 1), f"task buttons {bar.buttons()}")


class AboutOnAScaledScreenTest(AboutSteps, X11TestCase):
    """At 200 % on a 1920 × 1080 screen the work area is 960 × 540 units, less than the About
    window's 648 × 678."""

    screen_size = (1920, 1080)
    SCALE = 2

    def test_about_fits_the_work_area_with_its_title_bar_on_the_screen(self):
        program = self.launch(env={"QT_SCALE_FACTOR": str(self.SCALE)})
        note = program.window(NOTE_TITLE)
        wait_until(lambda: note.geometry().width == NOTE_SIZE * self.SCALE, timeout=3,
                   message="the note at its size")
        self.choose_from_menu(program, note, CHOOSE_ABOUT)
        about = program.window(ABOUT_TITLE)
        work = self.x.work_area()

        def inside(g):
            return (g.x >= work.x and g.y >= work.y and g.right <= work.right
                    and g.bottom <= work.bottom)
        outer = wait_for(about.outer_geometry, inside, timeout=3)
        self.assertTrue(inside(outer), f"the About window with its frame, {outer}, is not "
                                       f"inside the work area {work}")
        # The title bar, with the close box, is on the screen above the client area.
        client = about.geometry()
        self.assertGreater(client.y, outer.y, "no title bar above the client area")
        # Where it fits the window keeps its width; its height shrinks to the work area.
        self.assertEqual(client.width, ABOUT_SIZE[0] * self.SCALE)
        self.assertLess(client.height, ABOUT_SIZE[1] * self.SCALE)
        self.assertTrue(holds_for(lambda: about.outer_geometry() == outer, 0.5),
                        "the About window moved after it was placed")
        self.assertTrue(program.running(), program.output())


if __name__ == "__main__":
    unittest.main()
