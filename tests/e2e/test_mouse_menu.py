"""The note's mouse gestures, display settings and popup menu commands, driven with xdotool on a
private X server: left-drag resizing, middle-drag moving, the info bar, the menu's placement,
the margin, the monochrome blink, minimising, the inert "----------" item and quitting.

Pixels are read straight from the X server with XGetImage: the blink checks sample the screen
many times a second, which a screenshot tool started per sample cannot do."""

import time
import unittest

from PIL import Image, ImageChops

from harness import (Rect, ScreenReader, X11TestCase, holds_for, parse_colour, wait_for,
                     wait_until)

NOTE_TITLE = "^Form1$"
NOTE_SIZE = 200
MIN_SIZE = 50
MARGIN = 5
# The part of the info bar inside a 200 × 200 note with the margin off: the bar is 200 × 25 from
# the image area's top-left corner, which then lies 5 units up and left of the window.
BAR_BOX = (0, 0, NOTE_SIZE - MARGIN, 25 - MARGIN)
WHITE = (255, 255, 255)

# The popup menu from the top, and the two items of each on/off submenu.
MENU = ("キー入力監視", "フォーム表示On/Offキー文字", "貼り付け", "画面クリア", "余白",
        "モノクロ点滅", "最小化", "About", "----------", "Stiqletの終了")
ON, OFF = "有り", "無し"
ON_OFF = (ON, OFF)


def menu_keys(caption, sub=None):
    """The keys that choose `caption` (and its submenu item `sub`) in the open popup menu."""
    keys = ["Down"] * (MENU.index(caption) + 1)
    if sub is not None:
        keys += ["Right"] + ["Down"] * ON_OFF.index(sub)
    return keys + ["Return"]


# --- reading pixels --------------------------------------------------------------------------

def saturation_histogram(image):
    """Histogram of max(R, G, B) − min(R, G, B) over the image: 0 for every grey pixel."""
    r, g, b = image.convert("RGB").split()
    high = ImageChops.lighter(ImageChops.lighter(r, g), b)
    low = ImageChops.darker(ImageChops.darker(r, g), b)
    return ImageChops.subtract(high, low).histogram()


def tone(image):
    """'grey' when no pixel is tinted, 'colour' when many are strongly coloured, else 'mixed'."""
    histogram = saturation_histogram(image)
    total = image.width * image.height
    if sum(histogram[13:]) <= total // 1000:
        return "grey"
    if sum(histogram[61:]) > total // 20:
        return "colour"
    return "mixed"


def mask_of(image, colour, tolerance):
    """Mode 'L' image: 255 where a pixel is within `tolerance` of `colour` on every channel."""
    diff = ImageChops.difference(image.convert("RGB"), Image.new("RGB", image.size, colour))
    r, g, b = diff.split()
    largest = ImageChops.lighter(ImageChops.lighter(r, g), b)
    return largest.point(lambda v: 255 if v <= tolerance else 0)


def contains(rect, point):
    return rect.x <= point[0] < rect.right and rect.y <= point[1] < rect.bottom


def count_set(mask):
    return mask.histogram()[255]


def changed_mask(before, after, tolerance=24):
    """Mode 'L' image: 255 where the two images differ by more than `tolerance`."""
    r, g, b = ImageChops.difference(before, after).split()
    largest = ImageChops.lighter(ImageChops.lighter(r, g), b)
    return largest.point(lambda v: 255 if v > tolerance else 0)


class MouseMenuTest(X11TestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.screen = ScreenReader(cls.x.display)
        cls.addClassCleanup(cls.screen.close)

    # --- steps -------------------------------------------------------------------------------

    def start_note(self):
        """Starts the program; returns it, its note window and the note's rectangle once the
        note shows its first picture at 200 × 200."""
        program = self.launch()
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry,
                        lambda g: (g.width, g.height) == (NOTE_SIZE, NOTE_SIZE), timeout=5)
        self.assertEqual((area.width, area.height), (NOTE_SIZE, NOTE_SIZE), "size at start")
        wait_until(lambda: tone(self.grab(area)) == "colour", timeout=5,
                   message="the note showing its first picture")
        return program, note, area

    def stop_note(self, program):
        program.stop()
        wait_until(lambda: not program.windows(), timeout=3, message="the note going away")

    def grab(self, rect):
        return self.screen.grab(rect)

    def grab_note(self, note):
        return self.grab(note.geometry())

    def pointer_at(self, note, x, y):
        """Moves the pointer to (x, y) in the note's client coordinates."""
        g = note.geometry()
        self.x.mouse_move(g.x + x, g.y + y)

    def pointer_away(self):
        self.x.mouse_move(0, 0)

    def move_by(self, dx, dy):
        """One relative pointer move, waited for."""
        start = self.x.pointer()
        self.x.run("xdotool", "mousemove_relative", "--", str(dx), str(dy))
        target = (start[0] + dx, start[1] + dy)
        wait_until(lambda: self.x.pointer() == target, timeout=3,
                   message=f"pointer reaching {target}")

    def drag(self, button, steps):
        """Presses `button` where the pointer is, moves it by each step in turn and releases."""
        self.x.mouse_down(button)
        for dx, dy in steps:
            self.move_by(dx, dy)
        self.x.mouse_up(button)

    def popups(self, program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

    def open_menu(self, program, note, at=None):
        """Right-clicks the note at `at` (client coordinates; the middle by default) and
        returns the popup menu's window."""
        self.pointer_at(note, *(at or (NOTE_SIZE // 2, NOTE_SIZE // 2)))
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1, timeout=5)
        self.assertEqual(len(menus), 1, "one popup menu shown")
        return menus[0]

    def wait_menu_closed(self, program, note):
        self.assertEqual(wait_for(lambda: self.popups(program, note), lambda ms: not ms,
                                  timeout=5), [], "popup menu still open")

    def choose(self, program, note, caption, sub=None, at=None):
        """Chooses a menu item with the keyboard, the pointer resting where the menu opened;
        returns the time the choice was made."""
        self.open_menu(program, note, at)
        self.x.key(*menu_keys(caption, sub))
        chosen = time.monotonic()
        if caption != "Stiqletの終了":
            self.wait_menu_closed(program, note)
        return chosen

    def wait_geometry(self, note, expected, timeout=3):
        return wait_for(note.geometry, lambda g: g == expected, timeout=timeout)

    def assertGeometryStays(self, note, expected, what, duration=0.6):
        seen = self.wait_geometry(note, expected)
        self.assertEqual(seen, expected, what)
        self.assertTrue(holds_for(lambda: note.geometry() == expected, duration),
                        f"{what}: the note left {expected} afterwards, now {note.geometry()}")

    def wait_tone(self, rect, wanted, timeout):
        """Samples the screen inside `rect` until it shows `wanted`; returns the time it was
        first seen, or None."""
        deadline = time.monotonic() + timeout
        while True:
            now = time.monotonic()
            if tone(self.grab(rect)) == wanted:
                return now
            if now >= deadline:
                return None
            time.sleep(0.02)

    # --- resizing and moving -----------------------------------------------------------------

    # (what, press point in the note, pointer steps, size after the drag)
    RESIZE_DRAGS = (
        ("right 100 and up 50", (100, 100), [(10, -5)] * 10, (300, 150)),
        ("up and left past both limits", (190, 190), [(-15, -15)] * 12, (MIN_SIZE, MIN_SIZE)),
        ("up past the height limit only", (100, 190), [(5, -15)] * 12, (260, MIN_SIZE)),
    )

    def test_left_drag_resizes_from_the_bottom_right_corner(self):
        for what, press, steps, size in self.RESIZE_DRAGS:
            with self.subTest(what):
                program, note, start = self.start_note()
                try:
                    self.pointer_at(note, *press)
                    self.drag(1, steps)
                    expected = Rect(start.x, start.y, *size)
                    self.assertGeometryStays(note, expected, f"after the drag {what}")
                finally:
                    self.x.release_held()
                    self.stop_note(program)

    def test_middle_drag_moves_the_note_by_the_pointer_displacement(self):
        _, note, start = self.start_note()
        self.pointer_at(note, 100, 100)
        self.drag(2, [(7, 4)] * 10)
        moved = Rect(start.x + 70, start.y + 40, NOTE_SIZE, NOTE_SIZE)
        self.assertGeometryStays(note, moved, "after a middle drag of (+70, +40)")
        # The move ends with the release: the pointer going on alone leaves the note in place.
        self.move_by(30, 30)
        self.move_by(-60, 20)
        self.assertGeometryStays(note, moved, "pointer moving after the middle release")

    def test_resize_ends_when_the_pointer_outruns_the_window(self):
        _, note, start = self.start_note()
        self.pointer_at(note, 100, 100)
        self.x.mouse_down(1)
        self.move_by(10, 0)
        grown = Rect(start.x, start.y, NOTE_SIZE + 10, NOTE_SIZE)
        self.assertEqual(self.wait_geometry(note, grown), grown, "a first step of the drag")

        # One jump takes the pointer past the right edge, then it comes back over the note
        # with the button still down: neither move resizes.
        self.move_by(150, 0)
        self.assertGeometryStays(note, grown, "pointer beyond the right edge", duration=0.4)
        self.move_by(-110, 0)
        self.move_by(0, 10)
        self.assertGeometryStays(note, grown, "pointer back over the note, button held",
                                 duration=0.4)
        self.x.mouse_up(1)
        self.assertGeometryStays(note, grown, "after the release", duration=0.3)

        # A new press starts a new resize.
        self.drag(1, [(10, 0), (10, 0)])
        self.assertGeometryStays(note, Rect(start.x, start.y, NOTE_SIZE + 30, NOTE_SIZE),
                                 "a new drag after the outrun one", duration=0.3)

    # --- info bar ----------------------------------------------------------------------------

    def bar_change(self, note, plain):
        """Where and how much the note's top band differs from `plain` (the note without the
        bar): (bounding box of the changes, number of changed pixels)."""
        changed = changed_mask(plain, self.grab_note(note))
        return changed.getbbox(), count_set(changed)

    def assertBarShown(self, note, plain, what):
        box, count = wait_for(lambda: self.bar_change(note, plain),
                              lambda change: change[1] > 300, timeout=3)
        self.assertGreater(count, 300, f"{what}: the info bar does not show")
        self.assertIsNotNone(box)
        for side, got, want in zip(("left", "top", "right", "bottom"), box, BAR_BOX):
            self.assertLessEqual(abs(got - want), 2,
                                 f"{what}: the note changed inside {box}, the info bar's "
                                 f"visible part is {BAR_BOX}")

    def assertBarHidden(self, note, plain, what):
        box, count = wait_for(lambda: self.bar_change(note, plain),
                              lambda change: change[1] == 0, timeout=2)
        self.assertEqual(count, 0, f"{what}: the info bar still shows ({count} pixels differ "
                                   f"from the note without it, inside {box})")

    def test_info_bar_shows_while_the_pointer_is_over_the_note(self):
        # How the pointer gets off the note again; a menu item chosen outside the note is
        # the usual case after a command.
        ways_out = ("straight off the note", "off the note while the menu is open",
                    "choosing a menu item that lies outside the note")
        program, note, _ = self.start_note()
        plain = self.grab_note(note)  # pointer away since start-up: no bar
        for way in ways_out:
            with self.subTest(way):
                # The bottom-right corner of the note: the tooltip then opens off the note.
                self.pointer_at(note, 190, 190)
                self.assertBarShown(note, plain, "pointer entering the note")
                if way == "straight off the note":
                    self.pointer_away()
                elif way == "off the note while the menu is open":
                    self.open_menu(program, note, at=(190, 190))
                    self.pointer_away()
                    self.x.key("Escape")
                    self.wait_menu_closed(program, note)
                else:
                    menu = self.open_menu(program, note, at=(150, 150)).geometry()
                    item = MENU.index("----------")
                    target = (menu.x + 40,
                              menu.y + int(menu.height * (item + 0.5) / len(MENU)))
                    self.assertFalse(contains(note.geometry(), target),
                                     f"the item at {target} lies over the note")
                    self.x.mouse_move(*target)
                    self.x.click(1)
                    self.wait_menu_closed(program, note)
                    self.assertEqual(program.windows(visible_only=True), [note],
                                     "windows shown after choosing the item")
                self.assertBarHidden(note, plain, f"pointer leaving {way}")

    # --- popup menu --------------------------------------------------------------------------

    def test_menu_opens_at_the_pointer(self):
        program, note, _ = self.start_note()
        menu = self.open_menu(program, note).geometry()
        pointer = self.x.pointer()
        self.assertEqual((menu.x, menu.y), pointer, f"menu at {menu}")
        self.x.key("Escape")
        self.wait_menu_closed(program, note)

    def test_menu_item_is_chosen_as_the_button_goes_down(self):
        # Pressing on "画面クリア" with either button clears the picture while the button is
        # still held; the menu is gone before the release.
        for button in (1, 3):
            with self.subTest(button=button):
                program, note, area = self.start_note()
                menu = self.open_menu(program, note).geometry()
                row = menu.height / len(MENU)
                item_y = menu.y + int(row * (MENU.index("画面クリア") + 0.5))
                self.x.mouse_move(menu.x + menu.width // 2, item_y)
                self.x.mouse_down(button)
                try:
                    self.wait_menu_closed(program, note)
                    everything = area.width * area.height
                    wait_until(lambda: count_set(mask_of(self.grab(area), WHITE, 3)) == everything,
                               timeout=5, message="the picture cleared while the button is held")
                finally:
                    self.x.mouse_up(button)
                self.stop_note(program)

    def test_menu_near_the_bottom_right_corner_is_shifted_just_inside_the_work_area(self):
        program, note, _ = self.start_note()
        area = self.x.work_area()
        # The note in the bottom-right corner of the work area, one unit from its edges.
        corner = (area.right - NOTE_SIZE - 1, area.bottom - NOTE_SIZE - 1)
        self.x.run("xdotool", "windowmove", str(note.id), str(corner[0]), str(corner[1]))
        placed = self.wait_geometry(note, Rect(*corner, NOTE_SIZE, NOTE_SIZE))
        self.assertEqual((placed.x, placed.y), corner, "note moved to the corner")
        # Pointer positions in the note, as distances from the work area's bottom-right.
        for from_corner in ((6, 6), (80, 120)):
            with self.subTest(from_corner=from_corner):
                at = (area.right - from_corner[0] - placed.x,
                      area.bottom - from_corner[1] - placed.y)
                menu = self.open_menu(program, note, at=at).geometry()
                pointer = self.x.pointer()
                self.x.key("Escape")
                self.wait_menu_closed(program, note)
                self.assertTrue(area.x <= menu.x and area.y <= menu.y
                                and menu.right <= area.right and menu.bottom <= area.bottom,
                                f"menu {menu} reaches out of the work area {area}")
                # Top-left at the pointer, moved up and left only as far as it takes to fit.
                expected = Rect(min(pointer[0], area.right - menu.width),
                                min(pointer[1], area.bottom - menu.height),
                                menu.width, menu.height)
                self.assertEqual(menu, expected, f"menu opened with the pointer at {pointer} "
                                                 f"in the work area {area}")

    def test_dashes_item_is_chosen_and_changes_nothing(self):
        program, note, area = self.start_note()
        before = self.grab(area)
        self.choose(program, note, "----------")
        self.pointer_away()
        self.assertTrue(holds_for(program.running, 0.5),
                        f"the program ended; output:\n{program.output()}")
        self.assertEqual(note.geometry(), area)
        self.assertEqual(note.wm_state(), "Normal")
        self.assertEqual(program.windows(visible_only=True), [note], "windows shown")
        changed = wait_for(lambda: count_set(changed_mask(before, self.grab(area), 8)),
                           lambda n: n == 0, timeout=2)
        self.assertEqual(changed, 0, "pixels of the note changed")

    # --- margin ------------------------------------------------------------------------------

    def assertPictureBox(self, note, box, what):
        """The white picture covers exactly `box` of the note; the rest shows no white and
        none of the desktop."""
        desktop = parse_colour(self.root_colour)

        def seen():
            image = self.grab_note(note)
            white = mask_of(image, WHITE, 3)
            return white.getbbox(), count_set(white), count_set(mask_of(image, desktop, 8))

        left, top, right, bottom = box
        expected = (box, (right - left) * (bottom - top), 0)
        got = wait_for(seen, lambda s: s == expected, timeout=3)
        self.assertEqual(got[2], 0, f"{what}: the desktop shows through the note")
        self.assertEqual(got[0], box, f"{what}: white picture's box")
        self.assertEqual(got[1], expected[1],
                         f"{what}: white pixels besides a full {box} rectangle")

    def test_margin_insets_the_picture_five_units_from_every_edge(self):
        program, note, start = self.start_note()
        # A white picture of the first picture's square shape.
        self.choose(program, note, "画面クリア")
        # (what, margin item chosen first or None, note size, white box in the note)
        steps = (
            ("margin off from the start", None, (200, 200), (0, 0, 200, 200)),
            ("margin on", ON, (200, 200), (5, 5, 195, 195)),
            ("margin off again", OFF, (200, 200), (0, 0, 200, 200)),
            ("margin on, then the note resized", ON, (300, 150), (80, 5, 220, 145)),
            ("margin off at the new size", OFF, (300, 150), (75, 0, 225, 150)),
        )
        for what, item, size, box in steps:
            with self.subTest(what):
                if item is not None:
                    self.choose(program, note, "余白", item)
                g = note.geometry()
                if (g.width, g.height) != size:
                    self.x.run("xdotool", "windowsize", str(note.id), str(size[0]),
                               str(size[1]))
                    self.wait_geometry(note, Rect(start.x, start.y, *size))
                self.pointer_away()
                self.assertPictureBox(note, box, what)

    # --- blinking ----------------------------------------------------------------------------

    def test_blink_turns_grey_and_back_every_second_and_off_shows_colour_at_once(self):
        program, note, area = self.start_note()
        chosen = self.choose(program, note, "モノクロ点滅", ON)
        self.pointer_away()

        grey = self.wait_tone(area, "grey", timeout=3)
        self.assertIsNotNone(grey, "the note never turned grey after blinking was turned on")
        self.assertTrue(0.8 <= grey - chosen <= 1.6,
                        f"grey {grey - chosen:.2f} s after blinking was turned on")
        colour = self.wait_tone(area, "colour", timeout=3)
        self.assertIsNotNone(colour, "the note stayed grey")
        self.assertTrue(0.6 <= colour - grey <= 1.4, f"colour again {colour - grey:.2f} s later")

        # With "無し" highlighted in the open menu, the blinking goes on; it is chosen right
        # after the note turns grey, so the next tick is still most of a second away.
        corner = (NOTE_SIZE - 10, NOTE_SIZE - 10)
        self.open_menu(program, note, at=corner)
        self.x.key(*menu_keys("モノクロ点滅", OFF)[:-1])
        visible = Rect(area.x, area.y, corner[0] - 5, corner[1] - 5)
        self.assertIsNotNone(self.wait_tone(visible, "colour", timeout=2.5),
                             "the note stayed grey while the menu was open")
        grey = self.wait_tone(visible, "grey", timeout=2.5)
        self.assertIsNotNone(grey, "no blinking while the menu was open")
        self.x.key("Return")
        self.wait_menu_closed(program, note)
        colour = self.wait_tone(visible, "colour", timeout=2)
        self.assertIsNotNone(colour, "the note stayed grey after blinking was turned off")
        self.assertLessEqual(colour - grey, 0.6,
                             f"colour {colour - grey:.2f} s after the note turned grey: "
                             f"blinking off must show the colours at once")
        self.pointer_away()
        self.assertTrue(holds_for(lambda: tone(self.grab(area)) == "colour", 2.3),
                        "the note turned grey again after blinking was turned off")

    # --- window commands ---------------------------------------------------------------------

    def test_minimise_makes_the_note_iconic(self):
        program, note, _ = self.start_note()
        self.choose(program, note, "最小化")
        state = wait_for(lambda: (note.wm_state(), note.state()),
                         lambda s: s[0] == "Iconic" or "_NET_WM_STATE_HIDDEN" in s[1],
                         timeout=3)
        self.assertTrue(state[0] == "Iconic" or "_NET_WM_STATE_HIDDEN" in state[1],
                        f"WM_STATE {state[0]}, _NET_WM_STATE {state[1]}")
        self.assertTrue(holds_for(program.running, 0.3), program.output())
        self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note])

    def test_quit_item_ends_the_program_with_code_0(self):
        program, note, _ = self.start_note()
        self.choose(program, note, "Stiqletの終了")
        code = program.wait_exit(timeout=5)
        self.assertEqual(code, 0, f"exit code; output:\n{program.output()}")


if __name__ == "__main__":
    unittest.main()
