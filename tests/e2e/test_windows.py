"""The Windows program under Wine: the portable package unpacked into a scratch folder and
started in a fresh Wine prefix, on the class's own Xvfb with openbox (see WineTestCase).

Wine turns the program's windows into X windows, so the note is read back as on Linux: its
geometry, its window manager hints and its name through xwininfo and xprop, its pixels through
screenshots. Wine hands the X clipboard's `image/bmp` to the program as CF_DIB, `image/png` as
the registered format "PNG" and text as CF_UNICODETEXT, and turns an XDND drop into an OLE
drop. Wine's GetAsyncKeyState sees only keys that reach Wine's own windows, so the hotkeys are
typed into Wine's notepad.
"""

import io
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

from PIL import Image, ImageDraw

from harness import (TIMEOUT, HarnessError, Rect, WineTestCase, Window, colour_distance,
                     difference_mask, holds_for, pixels, wait_for, wait_settled, wait_until)
from test_hostile import DragSource, source_path
from test_paste import (BLUE, GREEN, RED, YELLOW, bands, blend, bmp32_bytes, box_near,
                        coloured_box, fitted_box, is_coloured, mean_colour, png_bytes, quadrants)

NOTE_TITLE = "^Form1$"
BOX_TITLE = "^情報$"
ABOUT_TITLE = r"^Stiqlet V1\.4$"
NOTE_SIZE = 200
ABOUT_CLIENT = (648, 678)
# Wine's desktop window with its own task bar.
SHELL_SIZE = (1024, 768)
# The first start in a fresh prefix loads every DLL from disk.
START_TIMEOUT = 30
COLOUR_TOLERANCE = 8

# The popup menu from the top: "キー入力監視", "フォーム表示On/Offキー文字", "貼り付け", "画面クリア",
# "余白", "モノクロ点滅", "最小化", "About", "----------", "Stiqletの終了".
MENU_ITEMS = 10
CHOOSE_ABOUT = ["Down"] * 8 + ["Return"]
ABOUT_ROW = 7
# Submenus with check marks at start: (parent's caption, its row in the menu, items, checked row).
CHECKED_AT_START = (
    ("キー入力監視", 0, 2, 0),
    ("フォーム表示On/Offキー文字", 1, 5, 0),
    ("余白", 4, 2, 1),
    ("モノクロ点滅", 5, 2, 1),
)
MARGIN_ROW = 4

# A hold shorter than one 100 ms reading of the hotkey watch flips the note once at most, so
# short holds are repeated until the note changes.
SHORT_HOLD = 0.06
# How long a reading's effect may take to reach the X server through Wine.
SETTLE = 0.5
ATTEMPTS = 40
# How long the program must go on after a close asked for while a box is open: several
# readings of the watch.
WAITS = 1.0

# How long the note waits for a clipboard owner's answer before giving the owner up.
OWNER_BOUND = 10.0


def delayed_owner_path():
    """The Windows clipboard owner that never renders (tests/e2e/delayed_owner.c)."""
    return os.environ.get("STIQLET_DELAYED_OWNER", "")


# --- pictures ------------------------------------------------------------------------------

def alpha_quarters():
    """40 × 80 (fitted into columns 50..149 of the note): opaque red and blue on top, green at
    alpha 128 bottom left, yellow at alpha 0 bottom right."""
    picture = Image.new("RGBA", (40, 80))
    draw = ImageDraw.Draw(picture)
    draw.rectangle((0, 0, 19, 39), fill=RED + (255,))
    draw.rectangle((20, 0, 39, 39), fill=BLUE + (255,))
    draw.rectangle((0, 40, 19, 79), fill=GREEN + (128,))
    draw.rectangle((20, 40, 39, 79), fill=YELLOW + (0,))
    return picture


def bmp_v5_bytes(image):
    """A BMP file with a 124-byte V5 header: 32 bits, BI_BITFIELDS with an alpha mask, sRGB,
    rows bottom-up, each pixel blue, green, red, alpha (not premultiplied)."""
    rgba = image.convert("RGBA")
    width, height = rgba.size
    data = b"".join(
        bytes(channel for x in range(width) for channel in
              (lambda r, g, b, a: (b, g, r, a))(*rgba.getpixel((x, y))))
        for y in range(height - 1, -1, -1))
    header = struct.pack("<IiiHHIIiiII", 124, width, height, 1, 32, 3, len(data), 2835, 2835,
                         0, 0)
    header += struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    header += b"BGRs" + bytes(36 + 12)  # LCS_sRGB; end points and gamma unused
    header += struct.pack("<IIII", 4, 0, 0, 0)  # LCS_GM_IMAGES, no profile
    offset = 14 + len(header)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + header + data


def bmp24_bytes(image):
    buffer = io.BytesIO()
    image.convert("RGB").save(buffer, "BMP")
    return buffer.getvalue()


# Bitmaps offered as image/bmp: (what, encoder, whether the picture keeps the alpha).
BITMAPS = (
    ("32 bits, V5 header with an alpha mask", bmp_v5_bytes, True),
    ("32 bits, 40-byte header", bmp32_bytes, True),
    ("24 bits", bmp24_bytes, False),
)

def encoded(image, file_format, **options):
    buffer = io.BytesIO()
    image.save(buffer, file_format, **options)
    return buffer.getvalue()


def tall(*colours):
    """200 × 400 in four quarters (fitted into columns 50..149 of the note)."""
    return quadrants(200, 400, colours)


# Files dragged onto the note: (what, file name, content, the picture's top-left colour, or None
# when the drag is refused). Each picture starts with another colour than the one before, and the
# JPEG and GIF rows need the image format plugins of the package.
DRAGGED_FILES = (
    ("PNG", "dropped.png", lambda: png_bytes(tall(BLUE, YELLOW, RED, GREEN)), BLUE),
    ("PNG named in capitals", "DROPPED.PNG", lambda: png_bytes(tall(GREEN, RED, YELLOW, BLUE)),
     GREEN),
    ("JPEG", "dropped.jpg",
     lambda: encoded(tall(RED, GREEN, BLUE, YELLOW), "JPEG", quality=95, subsampling=0), RED),
    ("GIF", "dropped.gif", lambda: encoded(tall(YELLOW, BLUE, GREEN, RED), "GIF"), YELLOW),
    ("BMP", "dropped.bmp", lambda: bmp24_bytes(tall(BLUE, RED, GREEN, YELLOW)), BLUE),
    ("text file", "dropped.txt", lambda: b"no picture here\n", None),
)
# Where a dropped tall picture lands in the note, and a point inside its top-left quarter.
DROPPED_BOX = (50, 0, 150, 200)
TOP_LEFT_QUARTER = (70, 50)


def ink(image):
    """The menu's pixels that differ clearly from its background (its commonest colour):
    captions, arrows and marks; the 3-pixel frame at the edges is left out."""
    rgb = image.convert("RGB")
    background = max(rgb.getcolors(rgb.width * rgb.height))[1]
    mask = difference_mask(rgb, background, tolerance=40)
    return mask.crop((3, 3, rgb.width - 3, rgb.height - 3)).load(), rgb.width - 6, rgb.height - 6


def menu_rows(image):
    """The rows of a menu's items, top to bottom, as [first, last] bands of rows with ink."""
    data, width, height = ink(image)
    inked = (y for y in range(height) if any(data[x, y] for x in range(width)))
    return [[first + 3, last + 3] for first, last in bands(inked, gap=4)]


def leftmost_ink(image, row):
    """The leftmost column with ink within the band `row`."""
    data, width, _ = ink(image)
    for x in range(width):
        if any(data[x, y - 3] for y in range(row[0], row[1] + 1)):
            return x + 3
    return None


class WindowsNoteTest(WineTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        print(f"\n  Wine prefix made in {cls.prefix_seconds:.1f} s", file=sys.stderr)

    # --- steps -------------------------------------------------------------------------

    def start_note(self):
        """Starts the packaged program; returns it, its note and the note's rectangle once the
        note shows its first picture, settled."""
        program = self.launch()
        note = program.window(NOTE_TITLE, timeout=START_TIMEOUT)
        area = wait_for(note.geometry, lambda g: (g.width, g.height) == (NOTE_SIZE, NOTE_SIZE))
        self.assertEqual((area.width, area.height), (NOTE_SIZE, NOTE_SIZE), "size at start")
        shot, settled = wait_settled(lambda: self.x.screenshot(area), self.painted)
        self.assertTrue(settled and self.painted(shot), "the note never showed its picture")
        return program, note, area

    def painted(self, image):
        """In colour, and no pixel of the desktop showing through."""
        return coloured_box(image) is not None and all(
            colour_distance(p, self.root_colour) > 8 for p in pixels(image))

    def centre_of(self, area):
        return area.x + area.width // 2, area.y + area.height // 2

    def double_click(self, area):
        self.x.mouse_move(*self.centre_of(area))
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)

    @staticmethod
    def info_bar_hidden(image):
        """No caption of the info bar in the note's top rows: no black or dark grey pixel there
        (the test pictures have none). Wine tells the program late that the pointer left, so
        the bar may still show for a while after the pointer has gone."""
        top = image.crop((0, 0, image.width, 25))
        return all(max(p) >= 100 for p in pixels(top))

    def paste(self, area, data, target, accept):
        """Offers `data` as `target` and double-clicks the note; returns the settled screenshot
        that `accept` takes, with the info bar gone."""
        self.x.own_clipboard(data, target)
        self.double_click(area)
        shot, settled = wait_settled(lambda: self.x.screenshot(area),
                                     lambda img: self.info_bar_hidden(img) and accept(img))
        self.assertTrue(settled and accept(shot),
                        f"the note after pasting {target}: picture at {coloured_box(shot)}")
        return shot

    def colour_near(self, image, point, colour):
        return colour_distance(image.getpixel(point), colour) <= COLOUR_TOLERANCE

    def assertColourNear(self, seen, expected, where):
        self.assertLessEqual(colour_distance(seen, expected), COLOUR_TOLERANCE,
                             f"{where}: saw {seen}, expected {expected}")

    def popups(self, program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

    def open_menu(self, program, note, area):
        self.x.mouse_move(*self.centre_of(area))
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1)
        self.assertEqual(len(menus), 1, "one popup menu shown")
        return menus[0]

    def wait_menus_closed(self, program, note):
        self.assertEqual(wait_for(lambda: self.popups(program, note), lambda ms: not ms), [],
                         "popup menu still open")

    def choose_with_keys(self, program, note, area, keys):
        self.open_menu(program, note, area)
        self.x.mouse_move(0, 0)
        self.x.key(*keys)
        self.wait_menus_closed(program, note)

    def open_submenu(self, program, note, menu, menu_shot, row):
        """Rests the pointer on the menu's item `row`, so that its submenu opens with no item
        of its own highlighted; returns the submenu's window and its settled screenshot."""
        rows = menu_rows(menu_shot)
        self.assertEqual(len(rows), MENU_ITEMS, f"item rows of the menu: {rows}")
        g = menu.geometry()
        self.x.mouse_move(g.x + g.width // 2, g.y + (rows[row][0] + rows[row][1]) // 2)

        def submenu():
            """The one other popup, level with the item (a submenu opens beside its item)."""
            others = [w for w in self.popups(program, note) if w != menu]
            if len(others) != 1:
                return None
            return others[0] if abs(others[0].geometry().y - g.y - rows[row][0]) <= 12 else None
        sub = wait_until(submenu, message=f"the submenu of row {row} opening")
        shot, _ = wait_settled(lambda: self.x.screenshot(sub.geometry()),
                               lambda image: len(menu_rows(image)) >= 2)
        return sub, shot

    def assertChecked(self, shot, items, checked, what):
        """The submenu shows `items` rows with a mark left of the caption in row `checked` only.
        Captions start in one column; a mark lies left of it."""
        rows = menu_rows(shot)
        self.assertEqual(len(rows), items, f"{what}: item rows {rows}")
        starts = [leftmost_ink(shot, row) for row in rows]
        caption_column = max(starts)
        marked = [i for i, start in enumerate(starts) if start < caption_column - 4]
        self.assertEqual(marked, [checked],
                         f"{what}: rows with a mark left of the captions (leftmost inked columns "
                         f"{starts})")

    # --- the package and the window ----------------------------------------------------

    def test_unpacked_package_starts_in_a_fresh_prefix(self):
        for variable in ("WINEPATH", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH"):
            self.assertNotIn(variable, self.prefix.env, "the program must find its DLLs itself")
        drive = Path(self.prefix.env["WINEPREFIX"], "drive_c")
        strays = [p for p in drive.rglob("*") if p.name.lower().startswith(("qt6", "libstdc++"))]
        self.assertEqual(strays, [], "Qt or MinGW DLLs inside the prefix")
        self.assertTrue(self.program_exe.is_relative_to(self.x.tmpdir),
                        f"{self.program_exe} is not the unpacked package")
        program, note, area = self.start_note()
        self.assertTrue(program.running(), program.output())

    def test_a_run_leaves_nothing_in_the_registry_or_on_drive_c(self):
        program, note, area = self.start_note()
        note.close()
        self.assertEqual(program.wait_exit(timeout=10), 0, program.output())
        export = Path(self.x.tmpdir, "registry.reg")
        regedit = self.launch_windows_program("regedit", "/e", "Z:" + str(export))
        self.assertEqual(regedit.wait_exit(timeout=60), 0, "regedit could not export")
        registry = export.read_bytes().decode("utf-16")
        self.assertTrue("[HKEY_USERS\\" in registry, "the export misses the users' keys")
        lines = [line for line in registry.splitlines() if "stiqlet" in line.lower()]
        self.assertEqual(lines, [], "registry entries naming the program")
        drive = Path(self.prefix.env["WINEPREFIX"], "drive_c")
        files = [p for p in drive.rglob("*") if "stiqlet" in p.name.lower()]
        self.assertEqual(files, [], "files of the program on drive C:")

    def test_note_window_as_the_desktop_sees_it(self):
        program, note, area = self.start_note()
        work = self.x.work_area()
        centred = Rect(work.x + (work.width - NOTE_SIZE) // 2,
                       work.y + (work.height - NOTE_SIZE) // 2, NOTE_SIZE, NOTE_SIZE)
        hints = note.motif_hints() or {}
        for what, seen, expected in (
                ("200 × 200, centred on the screen", note.geometry(), centred),
                ("kept above", "_NET_WM_STATE_ABOVE" in note.state(), True),
                ("no frame: _NET_FRAME_EXTENTS", note.frame_extents(), (0, 0, 0, 0)),
                ("no frame: decorations given", bool(hints.get("flags", 0) & 0x2), True),
                ("no frame: no decorations", hints.get("decorations"), 0),
                ("outer geometry", note.outer_geometry(), note.geometry()),
                ("WM_NAME", note.prop("WM_NAME"), ["Form1"]),
                ("_NET_WM_NAME", note.prop("_NET_WM_NAME"), ["Form1"])):
            with self.subTest(what):
                self.assertEqual(seen, expected)

    def test_note_stays_above_a_wine_window_activated_after_it(self):
        program, note, area = self.start_note()
        notepad = self.focus_notepad()
        stacking = wait_for(lambda: self.x.client_list(stacking=True),
                            lambda s: note in s and notepad in s
                            and s.index(note) > s.index(notepad))
        self.assertIn(note, stacking)
        self.assertIn(notepad, stacking)
        self.assertGreater(stacking.index(note), stacking.index(notepad),
                           "the note must stay above the active window")
        self.assertTrue(note.is_viewable())

    # --- the clipboard ------------------------------------------------------------------

    def test_bitmap_offered_as_image_bmp_pastes(self):
        program, note, area = self.start_note()
        picture = alpha_quarters()
        for what, encode, alpha_kept in BITMAPS:
            with self.subTest(what):
                # A wide picture first, so that the note shows each row's paste afresh.
                self.paste(area, bmp24_bytes(quadrants(300, 100)), "image/bmp",
                           lambda img: box_near(coloured_box(img), fitted_box(300, 100)))
                shot = self.paste(area, encode(picture), "image/bmp",
                                  lambda img: self.colour_near(img, (75, 50), RED)
                                  and self.colour_near(img, (125, 50), BLUE))
                self.assertTrue(box_near(coloured_box(shot.crop((0, 0, NOTE_SIZE, 100))),
                                         (50, 0, 150, 100)), "the opaque top half")
                fill = mean_colour(shot, (5, 105, 45, 195))
                self.assertFalse(is_coloured(fill), f"the note's own fill is {fill}")
                bottom_left = blend(GREEN, 128, fill) if alpha_kept else GREEN
                bottom_right = fill if alpha_kept else YELLOW
                self.assertColourNear(mean_colour(shot, (55, 105, 95, 195)), bottom_left,
                                      "bottom-left quarter (alpha 128)")
                self.assertColourNear(mean_colour(shot, (105, 105, 145, 195)), bottom_right,
                                      "bottom-right quarter (alpha 0)")
                self.assertFalse(program.windows(BOX_TITLE, visible_only=True), "a message box")
        self.assertTrue(program.running(), program.output())

    def test_text_brings_up_the_message_box_and_keeps_the_picture(self):
        program, note, area = self.start_note()
        before = self.paste(area, bmp24_bytes(quadrants(300, 200)), "image/bmp",
                            lambda img: box_near(coloured_box(img), fitted_box(300, 200)))
        for target, text in (("UTF8_STRING", "貼り付けるテキスト"), ("STRING", "plain text")):
            with self.subTest(target=target):
                self.x.own_clipboard(text.encode(), target)
                self.double_click(area)
                boxes = wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                                 lambda ws: len(ws) == 1)
                self.assertEqual(len(boxes), 1, f"message boxes titled 情報: {boxes}; windows "
                                 f"of the program: {program.windows(visible_only=True)}")
                box = boxes[0]
                self.assertEqual(box.title(), "情報")
                self.assertEqual(box.transient_for(), note, "the box belongs to the note")
                active = wait_for(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW"),
                                  lambda a: a == [box.id])
                self.assertEqual(active, [box.id], "the box does not have the keyboard")

                self.x.key("Return")
                self.assertEqual(wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                                          lambda ws: not ws), [],
                                 "the box is still open after Return")
                after, settled = wait_settled(lambda: self.x.screenshot(area),
                                              lambda img: img.tobytes() == before.tobytes())
                self.assertEqual(after.tobytes(), before.tobytes(),
                                 "the note's picture changed with the failed paste")
                self.assertTrue(program.running(), program.output())

    def test_png_offered_only_as_image_png_pastes(self):
        # Wine offers it to the program only as the registered clipboard format "PNG".
        program, note, area = self.start_note()
        self.paste(area, png_bytes(quadrants(300, 200)), "image/png",
                   lambda img: box_near(coloured_box(img), fitted_box(300, 200))
                   and self.colour_near(img, (50, 75), RED))

    # --- a clipboard owner that never renders ------------------------------------------

    def offer_without_rendering(self, mode):
        """Starts delayed_owner in `mode`; returns it once it offers CF_DIB without data."""
        owner = self.launch_windows_program(delayed_owner_path(), mode)
        wait_until(lambda: "ready" in owner.output().split() or not owner.running(),
                   timeout=START_TIMEOUT, message="delayed_owner taking the clipboard")
        self.assertIn("ready", owner.output().split(), f"delayed_owner: {owner.output()}")
        return owner

    @staticmethod
    def asked(owner):
        return "asked" in owner.output().split()

    def answer_paste_error(self, program, note, timeout=TIMEOUT, activate=False):
        """Waits for the paste-error box over the note, answers it with Return and waits until
        it has gone. With `activate`, the box is first activated from the desktop, as a user
        clicks it: a box that opens while another program has the keyboard does not take it."""
        boxes = wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                         lambda ws: len(ws) == 1, timeout=timeout)
        self.assertEqual(len(boxes), 1, f"message boxes titled 情報: {boxes}; windows of the "
                         f"program: {program.windows(visible_only=True)}")
        self.assertEqual(boxes[0].title(), "情報")
        self.assertEqual(boxes[0].transient_for(), note, "the box belongs to the note")
        if activate:
            boxes[0].activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [boxes[0].id],
                   message="the box taking the keyboard")
        self.x.key("Return")
        self.assertEqual(wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                                  lambda ws: not ws), [], "the box is still open after Return")

    def assertPictureKept(self, area, before, what):
        after, _ = wait_settled(lambda: self.x.screenshot(area),
                                lambda img: img.tobytes() == before.tobytes())
        self.assertEqual(after.tobytes(), before.tobytes(), f"the note's picture changed {what}")

    def end_owner(self, owner):
        """Stops delayed_owner and waits until the clipboard is free again: a read the note gave
        up closes it once the owner has gone."""
        owner.stop()
        probe = self.launch_windows_program(delayed_owner_path(), "probe")
        self.assertEqual(probe.wait_exit(timeout=30), 0,
                         f"the clipboard stayed held after the owner ended: {probe.output()}")

    @unittest.skipUnless(os.access(delayed_owner_path(), os.R_OK), "delayed_owner not built")
    def test_owner_that_never_renders_is_given_up_with_the_message_box(self):
        program, note, area = self.start_note()
        before = self.paste(area, bmp24_bytes(quadrants(300, 200)), "image/bmp",
                            lambda img: box_near(coloured_box(img), fitted_box(300, 200)))
        self.focus_notepad()
        owner = self.offer_without_rendering("block")
        started = time.monotonic()
        self.double_click(area)
        wait_until(lambda: self.asked(owner), message="the note asking the owner to render")

        # The read waits beside the event loop: the hotkey watch goes on meanwhile.
        self.tap_until("ctrl+alt+a", note, shown=False)
        self.tap_until("ctrl+alt+a", note, shown=True)
        toggled = time.monotonic() - started
        self.assertFalse(program.windows(BOX_TITLE, visible_only=True),
                         f"the owner was given up before the hotkey had hidden and shown the "
                         f"note ({toggled:.1f} s after the double-click)")

        # The hotkey brought the note back without the keyboard, which notepad kept: the box
        # opens over the note without taking it, and the user clicks it to answer.
        self.answer_paste_error(program, note, timeout=OWNER_BOUND + 20, activate=True)
        gave_up = time.monotonic() - started
        print(f"\n  hotkey hid and showed the note {toggled:.1f} s after the double-click; "
              f"the owner was given up after {gave_up:.1f} s", file=sys.stderr)
        self.assertGreaterEqual(gave_up, OWNER_BOUND - 1, "the owner was given up too early")
        self.assertPictureKept(area, before, "when the owner was given up")

        # The given-up read still holds the clipboard until the owner answers: another paste
        # fails at once and keeps the picture too.
        self.double_click(area)
        self.answer_paste_error(program, note)
        self.assertPictureKept(area, before, "with the second paste")

        # Once the owner has gone, the note pastes as before.
        self.end_owner(owner)
        self.paste(area, bmp24_bytes(quadrants(100, 300)), "image/bmp",
                   lambda img: box_near(coloured_box(img), fitted_box(100, 300)))
        self.tap_until("ctrl+alt+a", note, shown=False)
        self.tap_until("ctrl+alt+a", note, shown=True)
        self.assertTrue(program.running(), program.output())

    @unittest.skipUnless(os.access(delayed_owner_path(), os.R_OK), "delayed_owner not built")
    def test_owner_that_refuses_to_render_brings_up_the_message_box(self):
        program, note, area = self.start_note()
        before = self.paste(area, bmp24_bytes(quadrants(300, 200)), "image/bmp",
                            lambda img: box_near(coloured_box(img), fitted_box(300, 200)))
        owner = self.offer_without_rendering("refuse")
        self.double_click(area)
        self.answer_paste_error(program, note)
        self.assertTrue(self.asked(owner), "the owner was never asked to render")
        self.assertPictureKept(area, before, "when the owner rendered nothing")
        self.assertTrue(program.running(), program.output())

    @unittest.skipUnless(os.access(delayed_owner_path(), os.R_OK), "delayed_owner not built")
    def test_ctrl_alt_x_ends_the_program_while_an_owner_never_renders(self):
        for when in ("while the read waits", "after the owner was given up"):
            with self.subTest(when):
                program, note, area = self.start_note()
                self.focus_notepad()
                owner = self.offer_without_rendering("block")
                self.double_click(area)
                wait_until(lambda: self.asked(owner), message="the note asking the owner")
                if when == "after the owner was given up":
                    self.answer_paste_error(program, note, timeout=OWNER_BOUND + 20)
                self.hold_until_exit(program, "ctrl+alt+x")
                owner.stop()

    # --- the menu and the About window --------------------------------------------------

    def test_right_click_opens_the_menu_at_the_pointer_with_its_check_marks(self):
        program, note, area = self.start_note()
        menu = self.open_menu(program, note, area)
        g = menu.geometry()
        self.assertLessEqual(max(abs(g.x - area.x - 100), abs(g.y - area.y - 100)), 2,
                             f"the menu at {g}, the pointer at {self.x.pointer()}")
        menu_shot, _ = wait_settled(lambda: self.x.screenshot(g),
                                    lambda image: len(menu_rows(image)) == MENU_ITEMS)
        for caption, row, items, checked in CHECKED_AT_START:
            with self.subTest(caption):
                _, shot = self.open_submenu(program, note, menu, menu_shot, row)
                self.assertChecked(shot, items, checked, caption)

        # Choosing "有り" under "余白" moves the mark there.
        self.x.key("Escape", "Escape")
        self.wait_menus_closed(program, note)
        self.choose_with_keys(program, note, area,
                              ["Down"] * (MARGIN_ROW + 1) + ["Right", "Return"])
        menu = self.open_menu(program, note, area)
        menu_shot, _ = wait_settled(lambda: self.x.screenshot(menu.geometry()),
                                    lambda image: len(menu_rows(image)) == MENU_ITEMS)
        _, shot = self.open_submenu(program, note, menu, menu_shot, MARGIN_ROW)
        self.assertChecked(shot, 2, 0, "余白 after choosing 有り")
        self.x.key("Escape", "Escape")
        self.wait_menus_closed(program, note)
        self.assertTrue(program.running(), program.output())

    def test_about_window_opens_from_the_menu_and_closing_only_hides_it(self):
        program, note, area = self.start_note()
        for attempt in ("first", "second"):
            with self.subTest(attempt):
                self.choose_with_keys(program, note, area, CHOOSE_ABOUT)
                about = program.window(ABOUT_TITLE)
                self.assertEqual(about.title(), "Stiqlet V1.4")
                # Wine draws the About window's frame itself, inside the X window.
                g = wait_for(about.geometry, lambda g: g.width >= ABOUT_CLIENT[0]
                             and g.height >= ABOUT_CLIENT[1])
                self.assertGreaterEqual(g.width, ABOUT_CLIENT[0], "narrower than its client area")
                self.assertGreaterEqual(g.height, ABOUT_CLIENT[1], "lower than its client area")
                self.assertIn("_NET_WM_STATE_ABOVE", about.state())
                self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", about.state())

                about.close()
                self.assertEqual(wait_for(lambda: program.windows(ABOUT_TITLE,
                                                                  visible_only=True),
                                          lambda ws: not ws), [], "About still shown")
                self.assertTrue(holds_for(program.running, 1.0), program.output())
                self.assertTrue(note.is_viewable())

    # --- Wine's own desktop with its task bar -------------------------------------------

    def start_in_shell_desktop(self, program):
        """Starts `program` (a path, or one of Wine's programs) in Wine's desktop window named
        "shell", which Wine draws with a task bar along its bottom, like Windows."""
        if isinstance(program, Path):
            program = "Z:" + str(program).replace("/", "\\")
        return self.launch_windows_program(
            "explorer", f"/desktop=shell,{SHELL_SIZE[0]}x{SHELL_SIZE[1]}", program)

    def shell_windows(self, desktop):
        """The windows shown inside Wine's desktop window, topmost first."""
        out = self.x.run("xwininfo", "-children", "-id", hex(desktop.id))
        ids = [int(found, 16) for found in re.findall(r"^\s+(0x[0-9a-f]+)", out, re.M)]
        return [w for w in (Window(self.x, wid) for wid in ids) if w.is_viewable()]

    def shell_window_at(self, desktop, point, besides):
        """The window inside Wine's desktop whose top-left corner is at `point`, if any."""
        for w in self.shell_windows(desktop):
            g = w.geometry()
            if w != besides and abs(g.x - point[0]) <= 4 and abs(g.y - point[1]) <= 4:
                return w
        return None

    def shell_task_bar(self, desktop):
        """The task bar: the window across the whole bottom of Wine's desktop."""
        d = desktop.geometry()
        for w in self.shell_windows(desktop):
            g = w.geometry()
            if g.width == d.width and g.bottom == d.bottom and 10 < g.height < 60:
                return w
        return None

    def task_bar_extent(self, bar):
        """The settled task bar's rightmost column that is not the bar's own colour: the end
        of its last button."""
        shot, _ = wait_settled(lambda: self.x.screenshot(bar.geometry()), lambda image: True)
        background = max(shot.getcolors(shot.width * shot.height))[1]
        mask = difference_mask(shot, background, tolerance=40)
        return mask.getbbox()[2]

    def test_about_gets_no_button_on_the_task_bar_of_wines_desktop(self):
        # Wine's desktop window outlives the programs in it, and while it is there every
        # program of the prefix takes its size for the screen's: end it with the test.
        self.addCleanup(self.prefix.end_processes)
        self.start_in_shell_desktop(self.program_exe)
        desktop = self.x.wait_window("^shell - Wine desktop$", timeout=START_TIMEOUT)
        note = self.x.wait_window(NOTE_TITLE, timeout=START_TIMEOUT)
        area = wait_for(note.geometry, lambda g: (g.width, g.height) == (NOTE_SIZE, NOTE_SIZE))
        shot, settled = wait_settled(lambda: self.x.screenshot(area), self.painted)
        self.assertTrue(settled and self.painted(shot), "the note never showed its picture")
        bar = wait_until(lambda: self.shell_task_bar(desktop), timeout=START_TIMEOUT,
                         message="the task bar of Wine's desktop")
        note_only = self.task_bar_extent(bar)
        # A button is wider than this; the Start button and the note's end within it.
        button = 100

        for attempt in ("first", "second"):
            with self.subTest(attempt):
                pointer = self.centre_of(area)
                self.x.mouse_move(*pointer)
                self.x.click(3)
                menu = wait_until(lambda: self.shell_window_at(desktop, pointer, note),
                                  message="the popup menu opening at the pointer")
                # The item is clicked: keys would start from whichever item the pointer marked.
                g = menu.geometry()
                shot, _ = wait_settled(lambda: self.x.screenshot(g),
                                       lambda image: len(menu_rows(image)) == MENU_ITEMS)
                rows = menu_rows(shot)
                self.assertEqual(len(rows), MENU_ITEMS, f"item rows of the menu: {rows}")
                self.x.mouse_move(g.x + g.width // 2, g.y + sum(rows[ABOUT_ROW]) // 2)
                self.x.click(1)
                about = self.x.wait_window(ABOUT_TITLE, timeout=START_TIMEOUT)
                self.assertLess(self.task_bar_extent(bar), note_only + button,
                                "the About window has a button on the task bar")
                self.assertTrue(holds_for(lambda: self.task_bar_extent(bar)
                                          < note_only + button, 1.0),
                                "the About window has a button on the task bar")
                # Wine's desktop has no window manager to ask for a close: Escape closes it.
                self.x.key("Escape")
                # Wine's desktop destroys the X window of a hidden window.
                wait_until(lambda: not about.exists() or not about.is_viewable(),
                           message="About hiding on Escape")

        # The bar does list another program's window, beside the note's button.
        self.start_in_shell_desktop("notepad")
        self.x.wait_window("Notepad$", timeout=START_TIMEOUT)
        self.assertGreaterEqual(wait_for(lambda: self.task_bar_extent(bar),
                                         lambda e: e >= note_only + button),
                                note_only + button, "notepad got no button on the task bar")

    # --- the hotkeys ---------------------------------------------------------------------

    def focus_notepad(self):
        """Gives the keyboard to Wine's notepad, started once per test; returns its window."""
        if getattr(self, "_notepad", None) is None:
            # Wine starts its own programs in a process of their own: look for the window by
            # its name only.
            self.launch_windows_program("notepad")
            self._notepad = self.x.wait_window("Notepad$", timeout=START_TIMEOUT)
            self.addCleanup(self.end_process_of, self._notepad)
            self.addCleanup(setattr, self, "_notepad", None)
        self._notepad.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [self._notepad.id],
                   message="notepad becoming the active window")
        return self._notepad

    def end_process_of(self, window):
        """Kills the process that owns `window` and waits until the window has gone."""
        try:
            os.kill(window.pid(), signal.SIGKILL)
        except (HarnessError, ProcessLookupError, TypeError):
            pass
        wait_until(lambda: not window.exists(), message=f"{window} going away")

    def tap_until(self, combo, note, shown, refocus=True):
        """Short holds of `combo` with notepad focused until the note is shown (or hidden).
        With `refocus` false the keys go to whatever window the hotkey left the keyboard to."""
        for _ in range(ATTEMPTS):
            if refocus:
                self.focus_notepad()
            self.x.run("xdotool", "keydown", combo, "sleep", str(SHORT_HOLD), "keyup", combo)
            if wait_for(lambda: self.viewable(note), lambda v: v == shown,
                        timeout=SETTLE) == shown:
                return
        self.fail(f"{combo} did not {'show' if shown else 'hide'} the note in {ATTEMPTS} tries")

    @staticmethod
    def viewable(window):
        try:
            return window.is_viewable()
        except HarnessError:  # the window is gone
            return False

    def hold_until_exit(self, program, combo):
        self.focus_notepad()
        self.x.key_down(combo)
        try:
            code = program.wait_exit(timeout=10)
        finally:
            self.x.key_up(combo)
        self.assertEqual(code, 0, f"exit code after {combo}; output:\n{program.output()}")

    def test_ctrl_alt_a_typed_into_notepad_hides_and_shows_the_note(self):
        program, note, area = self.start_note()
        self.tap_until("ctrl+alt+a", note, shown=False)
        # Off the screen, but still the program's one task-bar entry.
        self.assertIn(note, self.x.taskbar_entries(), "the hidden note left the task bar")
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", note.state())
        self.tap_until("ctrl+alt+a", note, shown=True)
        self.assertEqual(wait_for(note.geometry, lambda g: g == area), area,
                         "the note came back elsewhere")
        self.assertIn("_NET_WM_STATE_ABOVE", note.state())
        self.assertTrue(program.running(), program.output())

    def clipboard_text(self):
        return self.x.run("xclip", "-selection", "clipboard", "-o", "-t", "UTF8_STRING",
                          check=False, timeout=3)

    def test_the_hotkey_shows_the_note_above_notepad_which_keeps_the_keys(self):
        program, note, area = self.start_note()
        notepad = self.focus_notepad()
        self.tap_until("ctrl+alt+a", note, shown=False, refocus=False)
        self.tap_until("ctrl+alt+a", note, shown=True, refocus=False)

        # What the user types next reaches notepad: read back through the clipboard, copied
        # there by notepad itself.
        word = "focus"
        self.x.run("xdotool", "type", "--delay", "40", word)
        self.x.key("ctrl+a", "ctrl+c")
        text = wait_for(self.clipboard_text, lambda t: t == word, timeout=5)
        active = self.x.root_prop("_NET_ACTIVE_WINDOW")
        self.assertEqual(text, word, "the text typed after the note came back is not in notepad; "
                                     f"active window {active}, note {note}")
        self.assertEqual(active, [notepad.id], "the note took the active window")

        # Back where it was, above notepad.
        self.assertTrue(self.viewable(note))
        self.assertEqual(note.geometry(), area)
        stacking = self.x.client_list(stacking=True)
        self.assertGreater(stacking.index(note), stacking.index(notepad),
                           "the note is below notepad")
        # The desktop still activates it when the user asks for it (a window list, the task bar).
        note.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [note.id],
                   message="the note becoming active when the desktop activates it")
        self.assertTrue(program.running(), program.output())

    def test_ctrl_alt_x_typed_into_notepad_ends_the_program_with_code_0(self):
        for how in ("shown", "hidden"):
            with self.subTest(how):
                program, note, area = self.start_note()
                if how == "hidden":
                    self.tap_until("ctrl+alt+a", note, shown=False)
                self.hold_until_exit(program, "ctrl+alt+x")

    def test_desktop_close_ends_the_program_with_code_0(self):
        for what, close, hidden in (
                ("the window manager's close", lambda note: note.close(), False),
                ("WM_DELETE_WINDOW", lambda note: note.send_delete(), False),
                ("the task-bar entry's close while hidden", lambda note: note.close(), True)):
            with self.subTest(what):
                program, note, area = self.start_note()
                if hidden:
                    self.tap_until("ctrl+alt+a", note, shown=False)
                close(note)
                code = program.wait_exit(timeout=10)
                self.assertEqual(code, 0, f"exit code after {what}; output:\n{program.output()}")

    def open_paste_error_box(self, program, area):
        """Pastes text, which brings up the paste-error box; returns the box."""
        self.x.own_clipboard("no picture".encode(), "UTF8_STRING")
        self.double_click(area)
        boxes = wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                         lambda ws: len(ws) == 1)
        self.assertEqual(len(boxes), 1, "the paste-error box did not open")
        return boxes[0]

    def test_ctrl_alt_x_while_the_box_is_open_ends_the_program_once_it_is_answered(self):
        program, note, area = self.start_note()
        box = self.open_paste_error_box(program, area)
        self.focus_notepad()
        self.x.key_down("ctrl+alt+x")
        try:
            # Held over several readings of the watch, each of which asks for the close.
            waited = holds_for(lambda: program.running() and self.viewable(box), WAITS)
        finally:
            self.x.key_up("ctrl+alt+x")
        self.assertTrue(waited, f"the program ended or the box went away at once; "
                                f"output:\n{program.output()}")
        self.assertTrue(holds_for(lambda: program.running() and self.viewable(box), SETTLE),
                        "the program ended without the box being answered")
        box.activate()
        wait_until(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW") == [box.id],
                   message="the box becoming the active window")
        self.x.key("Return")
        code = program.wait_exit(timeout=10)
        self.assertEqual(code, 0, f"exit code once the box was answered; output:\n"
                                  f"{program.output()}")

    def test_the_end_of_the_session_ends_the_program_with_code_0(self):
        # wineboot sends every program WM_QUERYENDSESSION and WM_ENDSESSION, as Windows does at
        # log-off and shut-down, and then ends any that is still running.
        for box_open in (False, True):
            with self.subTest(box_open=box_open):
                program, note, area = self.start_note()
                if box_open:
                    # The session ends: it does not wait for the box to be answered.
                    self.open_paste_error_box(program, area)
                subprocess.run([self.prefix.wine, "wineboot", "--end-session"],
                               env=self.prefix.env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=60)
                code = program.wait_exit(timeout=10)
                self.assertEqual(code, 0, f"exit code at the end of the session; output:\n"
                                          f"{program.output()}")

    # --- dropped files -------------------------------------------------------------------

    def drag(self, note, area, path):
        """Drags `path` onto the middle of the note; returns the source and its first report."""
        source = DragSource(self.x.env, note, self.centre_of(area), path.as_uri())
        self.addCleanup(source.stop)
        return source, source.next_report(timeout=10)

    def drop(self, note, area, path):
        """Drags and drops `path`; asserts the note took it."""
        source, status = self.drag(note, area, path)
        self.assertEqual(status, "accepted", f"the note's answer to the drag; source said "
                         f"{source.seen} {source.errors()}")
        source.send("drop")
        self.assertEqual(source.next_report(timeout=10), "finished accepted=1",
                         f"source said {source.seen}")

    def assertDropShows(self, note, area, path, top_left):
        """Dropping `path` on the note shows a tall picture starting with `top_left`."""
        self.drop(note, area, path)
        shot, settled = wait_settled(
            lambda: self.x.screenshot(area),
            lambda img: box_near(coloured_box(img), DROPPED_BOX)
            and self.colour_near(img, TOP_LEFT_QUARTER, top_left))
        self.assertTrue(settled and box_near(coloured_box(shot), DROPPED_BOX),
                        f"the dropped picture at {coloured_box(shot)}")
        self.assertColourNear(shot.getpixel(TOP_LEFT_QUARTER), top_left,
                              "the dropped picture's top-left quarter")

    @unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
    def test_dragged_files(self):
        program, note, area = self.start_note()
        for what, name, content, top_left in DRAGGED_FILES:
            with self.subTest(what):
                before, _ = wait_settled(lambda: self.x.screenshot(area), lambda img: True)
                path = Path(self.x.tmpdir, name)
                path.write_bytes(content())
                if top_left is not None:
                    self.assertDropShows(note, area, path, top_left)
                else:
                    source, status = self.drag(note, area, path)
                    self.assertEqual(status, "refused", f"source said {source.seen}")
                    source.send("leave")
                    self.assertEqual(source.next_report(timeout=10), "left")
                    self.assertTrue(holds_for(lambda: self.x.screenshot(area).tobytes()
                                              == before.tobytes(), 0.5),
                                    "the refused drag changed the picture")
                self.assertTrue(program.running(), program.output())

    @unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
    @unittest.skipUnless(shutil.which("JxrEncApp"), "JxrEncApp (libjxr-tools) not installed")
    def test_dropped_hdp_replaces_the_picture(self):
        # Decoded by the child program stiqlet-jxr, which must lie in the package beside the note.
        program, note, area = self.start_note()
        source_bmp = Path(self.x.tmpdir, "hdp-source.bmp")
        source_bmp.write_bytes(bmp24_bytes(tall(BLUE, YELLOW, RED, GREEN)))
        encoded_file = Path(self.x.tmpdir, "encoded.jxr")
        subprocess.run(["JxrEncApp", "-i", str(source_bmp), "-o", str(encoded_file)],
                       check=True, capture_output=True, timeout=60)
        path = Path(self.x.tmpdir, "dropped.hdp")
        encoded_file.rename(path)
        self.assertDropShows(note, area, path, BLUE)

    @unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
    def test_dropped_tiff_replaces_the_picture(self):
        program, note, area = self.start_note()
        path = Path(self.x.tmpdir, "dropped.tif")
        path.write_bytes(encoded(tall(GREEN, BLUE, YELLOW, RED), "TIFF"))
        self.assertDropShows(note, area, path, GREEN)


if __name__ == "__main__":
    unittest.main()
