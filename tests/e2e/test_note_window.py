"""The note window as the desktop sees it: size, place, stacking, frame, task bar, first picture,
popup menu and closing. Everything is read back from the X server."""

import unittest

from PIL import Image

from harness import (PROJECT_ROOT, Rect, X11TestCase, bbox_differing, bbox_matching,
                     colour_at, holds_for, pixels, wait_for, wait_settled, wait_until)

NOTE_TITLE = "^Form1$"
ABOUT_TITLE = r"^Stiqlet V1\.4$"
NOTE_SIZE = 200
FIRST_PICTURE = PROJECT_ROOT / "resources" / "art" / "stiqlet-64.png"
ART = PROJECT_ROOT / "resources" / "art"
# The icon artwork at each of its sizes.
ICON_FILES = {size: ART / "hicolor" / str(size) / "stiqlet.png" for size in (32, 48, 64, 128, 256)}
ICON_FILES[45] = ART / "stiqlet-45.png"
HINT_LINES = 5
TOOLTIP_ATTEMPTS = 3


def centred(area, width, height):
    return Rect(area.x + (area.width - width) // 2, area.y + (area.height - height) // 2,
                width, height)


def saturation(colour):
    return max(colour) - min(colour)


class NoteWindowTest(X11TestCase):

    def start_note(self):
        program = self.launch()
        return program, program.window(NOTE_TITLE)

    def assertRectNear(self, actual, expected, tolerance=1):
        near = all(abs(a - e) <= tolerance for a, e in zip(actual.box(), expected.box()))
        self.assertTrue(near, f"{actual} is not within {tolerance} px of {expected}")

    def test_note_is_200_by_200_and_centred_on_the_screen(self):
        _, note = self.start_note()
        expected = centred(self.x.work_area(), NOTE_SIZE, NOTE_SIZE)
        seen = wait_for(note.geometry, lambda g: g == expected, timeout=3)
        self.assertRectNear(seen, expected)
        self.assertEqual((seen.width, seen.height), (NOTE_SIZE, NOTE_SIZE))

    def test_note_stays_above_a_window_activated_after_it(self):
        _, note = self.start_note()
        self.assertIn("_NET_WM_STATE_ABOVE", note.state())

        g = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        self.spawn("xmessage", "-name", "cover", "-geometry",
                   f"{g.width + 100}x{g.height + 100}+{g.x - 50}+{g.y - 50}", "cover")
        cover = self.x.wait_window("^cover$")
        cover.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [cover.id], timeout=3,
                   message="the covering window becoming active")

        stacking = wait_for(lambda: self.x.client_list(stacking=True),
                            lambda s: note in s and cover in s and s.index(note) > s.index(cover),
                            timeout=3)
        self.assertIn(note, stacking)
        self.assertIn(cover, stacking)
        self.assertGreater(stacking.index(note), stacking.index(cover),
                           "the note must stay above the active window")

    def test_note_has_no_frame(self):
        _, note = self.start_note()
        extents = wait_for(note.frame_extents, lambda e: e is not None, timeout=3)
        self.assertEqual(extents, (0, 0, 0, 0), "_NET_FRAME_EXTENTS (left, right, top, bottom)")
        hints = note.motif_hints()
        self.assertIsNotNone(hints, "no _MOTIF_WM_HINTS: the window manager may decorate it")
        self.assertTrue(hints["flags"] & 0x2, f"decorations not given in {hints}")
        self.assertEqual(hints["decorations"], 0, f"_MOTIF_WM_HINTS {hints}")
        self.assertEqual(note.outer_geometry(), note.geometry())

    def test_one_task_bar_entry_named_Form1_and_about_window_unmapped(self):
        program, note = self.start_note()
        # Leave the program time to map anything else it (wrongly) shows at start.
        self.assertTrue(holds_for(program.running, 0.5), program.output())

        entries = self.x.taskbar_entries(pid=program.pid)
        self.assertEqual(entries, [note])
        self.assertEqual(note.title(), "Form1")
        self.assertEqual(note.prop("WM_NAME"), ["Form1"])

        for about in program.windows(ABOUT_TITLE):
            self.assertNotEqual(about.map_state(), "IsViewable", f"About window {about} shows")
        listed = [w for w in self.x.client_list() if w.pid() == program.pid]
        self.assertEqual(listed, [note], "windows of the program the desktop manages")

    def test_first_picture_fills_window_in_colour(self):
        _, note = self.start_note()
        area = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        painted = lambda screen: bbox_matching(screen.crop(area.box()), self.root_colour, 8)
        # A settled screen: the first frame drawn is not yet the note's last word.
        screen = wait_settled(self.x.screenshot, lambda img: painted(img) is None, timeout=5)[0]
        inside = screen.crop(area.box())

        # The window paints all of its area, and nothing around it.
        self.assertIsNone(bbox_matching(inside, self.root_colour, 8),
                          "the desktop shows through the note")
        around = screen.copy()
        around.paste(self.root_colour, area.box())
        ring = (max(area.x - 3, 0), max(area.y - 3, 0), area.right + 3, area.bottom + 3)
        self.assertIsNone(bbox_differing(around.crop(ring), self.root_colour, 8),
                          "the note draws outside its client area")

        # In colour: a good share of strongly coloured pixels.
        coloured = sum(1 for p in pixels(inside) if saturation(p) > 60)
        self.assertGreater(coloured, 0.05 * area.width * area.height,
                           f"only {coloured} coloured pixels: the picture shows grey or not at all")

        # The picture's transparent corner shows the image area's own fill; everything else
        # is the picture, scaled by 200/64 from the window's edges (margin off).
        background = colour_at(inside, 0, 0)
        seen = bbox_differing(inside, background, 24)
        self.assertIsNotNone(seen, "nothing drawn over the image area's fill")
        expected = self.expected_picture_box(NOTE_SIZE, NOTE_SIZE)
        tolerance = 3  # smooth-scaling blur; a 5-unit margin would shift each side by about 4
        for side, got, want in zip(("left", "top", "right", "bottom"), seen, expected):
            self.assertLessEqual(abs(got - want), tolerance,
                                 f"picture {side} edge at {got}, expected {want:.1f} "
                                 f"(seen box {seen}, expected {expected})")

    @staticmethod
    def expected_picture_box(width, height):
        """Where the first picture's visible pixels land when it is fitted into width × height."""
        art = Image.open(FIRST_PICTURE)
        left, top, right, bottom = art.getchannel("A").point(lambda a: 255 if a > 64 else 0) \
            .getbbox()
        scale = min(width / art.width, height / art.height)
        dx = (width - art.width * scale) / 2
        dy = (height - art.height * scale) / 2
        return (dx + left * scale, dy + top * scale, dx + right * scale, dy + bottom * scale)

    def test_right_press_opens_popup_menu_at_pointer(self):
        program, note = self.start_note()
        menu = self.open_menu(program, note).geometry()
        pointer = self.x.pointer()
        self.assertRectNear(Rect(menu.x, menu.y, 0, 0), Rect(*pointer, 0, 0), tolerance=2)
        shot = self.x.screenshot(menu)
        self.assertGreater(len(set(pixels(shot))), 1, "the menu is blank")

        self.x.key("Escape")
        self.assertEqual(wait_for(lambda: self.popups(program, note), lambda ms: not ms,
                                  timeout=5), [], "menu still open")
        self.assertTrue(program.running())
        self.assertTrue(note.is_viewable())

    def test_desktop_close_ends_program_with_exit_code_0(self):
        for how in ("shown", "minimised"):
            with self.subTest(how):
                program, note = self.start_note()
                if how == "minimised":
                    note.minimize()
                    wait_until(lambda: note.wm_state() == "Iconic", timeout=3,
                               message="the note being minimised")
                    self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note],
                                     "task-bar entry while minimised")
                note.close()
                code = program.wait_exit(timeout=5)
                self.assertEqual(code, 0, f"exit code after close; output:\n{program.output()}")

    def open_menu(self, program, note):
        """Right-clicks the middle of the note and waits for the popup menu; returns it."""
        g = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        self.x.mouse_move(g.x + g.width // 2, g.y + g.height // 2)
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1, timeout=5)
        self.assertEqual(len(menus), 1, "one popup menu shown")
        return menus[0]

    def popups(self, program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

    def other_windows(self, program, note, visible_only=True):
        """The program's windows besides the note and its popups: the About window."""
        return [w for w in program.windows(visible_only=visible_only)
                if w != note and not w.override_redirect()]

    def open_about(self, program, note, first=True):
        self.open_menu(program, note)
        self.x.mouse_move(0, 0)
        # From the bottom of the menu: the program's end, "----------", About.
        self.x.key("Up", "Up", "Up", "Return")
        shown = wait_for(lambda: self.other_windows(program, note), lambda ws: len(ws) == 1,
                         timeout=5)
        if not shown and first:
            self.skipTest("the menu does not open the About window")
        self.assertEqual(len(shown), 1, f"About windows: {shown}")
        return shown[0]

    def test_closing_about_window_keeps_note(self):
        program, note = self.start_note()
        for attempt in ("first", "second"):
            about = self.open_about(program, note, first=attempt == "first")
            about.close()
            self.assertEqual(wait_for(lambda: self.other_windows(program, note),
                                      lambda ws: not ws, timeout=5), [],
                             f"About window still shown after the {attempt} close")
            # A close sent to the hidden window (if it still has one) changes nothing.
            for hidden in self.other_windows(program, note, visible_only=False):
                hidden.send_delete()
            self.assertTrue(holds_for(program.running, 1.0),
                            f"program ended after the {attempt} close; output:\n"
                            f"{program.output()}")
            self.assertTrue(note.is_viewable())
            self.assertEqual(self.other_windows(program, note), [])
            self.assertEqual(self.x.taskbar_entries(pid=program.pid), [note])

    def assertIconIsTheArtwork(self, window, what):
        expected = {(size, size) for size in ICON_FILES}
        icons = wait_for(window.icons, lambda i: set(i) == expected, timeout=5)
        self.assertEqual(sorted(icons), sorted(expected), f"{what}: sizes in _NET_WM_ICON")
        for size, path in sorted(ICON_FILES.items()):
            with self.subTest(what=what, size=size):
                art = Image.open(path).convert("RGBA")
                worst = premultiplied_difference(icons[(size, size)], art)
                # The toolkit keeps icons premultiplied: a channel may be off by one.
                self.assertLessEqual(worst, 1, f"{what}: {size} x {size} differs from {path}")

    def test_window_icons_are_the_artwork_at_each_size(self):
        program, note = self.start_note()
        self.assertIconIsTheArtwork(note, "the note")
        about = self.open_about(program, note)
        self.assertIconIsTheArtwork(about, "the About window")

    def test_tooltip_shows_while_another_window_is_active(self):
        program, note = self.start_note()
        g = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=3)
        self.spawn("xmessage", "-name", "other", "-geometry", "200x80+10+10", "other")
        other = self.x.wait_window("^other$")
        other.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [other.id], timeout=3,
                   message="the other window becoming active")

        def tooltips():
            return [w for w in program.windows(visible_only=True) if w.override_redirect()
                    and "_NET_WM_WINDOW_TYPE_TOOLTIP" in w.atoms("_NET_WM_WINDOW_TYPE")]
        # The pointer comes to rest over the note, as a user's would. A rest in the moment
        # right after the switch of the active window may bring no tooltip (seen about once in
        # five runs, never after a second's wait): a user who sees none moves a little.
        centre = (g.x + g.width // 2, g.y + g.height // 2)
        shown = []
        for step in range(TOOLTIP_ATTEMPTS):
            self.x.mouse_move(centre[0] - 10 + 3 * step, centre[1] - 10)
            self.x.mouse_move(centre[0] + 3 * step, centre[1])
            shown = wait_for(tooltips, lambda ws: len(ws) == 1, timeout=2)
            if shown:
                break
        self.assertEqual(len(shown), 1, "one tooltip shown over the note")
        self.assertEqual(self.x.root_prop("_NET_ACTIVE_WINDOW"), [other.id],
                         "the other window must stay active")
        tip = shown[0].geometry()
        pointer = self.x.pointer()
        # The hint's five lines, each at least as tall as the smallest legible text.
        self.assertGreaterEqual(tip.height, HINT_LINES * 10, f"tooltip {tip}")
        self.assertTrue(abs(tip.x - pointer[0]) < 100 and 0 <= tip.y - pointer[1] < 100,
                        f"tooltip {tip} is not beside the pointer at {pointer}")
        text = [p for p in pixels(self.x.screenshot(tip)) if max(p) < 80]
        self.assertGreater(len(text), 100, "no dark text in the tooltip")


def premultiplied_difference(a, b):
    """The largest difference between two RGBA images of one size in any channel, colours
    weighted by their alpha."""
    worst = 0
    for (r1, g1, b1, a1), (r2, g2, b2, a2) in zip(a.getdata(), b.getdata()):
        worst = max(worst, abs(a1 - a2),
                    *(abs(c1 * a1 - c2 * a2) // 255 for c1, c2 in ((r1, r2), (g1, g2), (b1, b2))))
    return worst


if __name__ == "__main__":
    unittest.main()
