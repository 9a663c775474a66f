"""Pasting through the real X clipboard, and wiping the picture.

xclip owns the CLIPBOARD selection and offers one target; a double-click on the note pastes
(the menu's "画面クリア" wipes), and screenshots of the note show what it draws. Every picture
is made here with Pillow. The note is 200 × 200 with its margin off, so a pasted picture is
fitted edge to edge into the whole window, aspect kept and centred.
"""

import io
import struct
import sys
import time
import unittest
import zlib

from PIL import Image, ImageDraw

from harness import (HarnessError, X11TestCase, colour_distance, holds_for, pixels, wait_for,
                     wait_settled, wait_until)

NOTE_TITLE = "^Form1$"
BOX_TITLE = "^情報$"
NOTE_SIZE = 200

RED = (230, 30, 30)
GREEN = (30, 170, 40)
BLUE = (30, 60, 220)
YELLOW = (240, 200, 20)
WHITE = (255, 255, 255)

# A pixel farther than this from its expected colour (largest channel difference) is wrong.
# Smooth scaling leaves flat areas exact; this allows for rounding in blending.
COLOUR_TOLERANCE = 8
# Picture edges may land a pixel off where the scaled size is fractional.
EDGE_TOLERANCE = 1


# --- pictures --------------------------------------------------------------------------------

def quadrants(width, height, colours=(RED, GREEN, BLUE, YELLOW), mode="RGB"):
    """A picture in four flat quarters: top-left, top-right, bottom-left, bottom-right."""
    image = Image.new(mode, (width, height))
    draw = ImageDraw.Draw(image)
    mid_x, mid_y = width // 2, height // 2
    boxes = ((0, 0, mid_x - 1, mid_y - 1), (mid_x, 0, width - 1, mid_y - 1),
             (0, mid_y, mid_x - 1, height - 1), (mid_x, mid_y, width - 1, height - 1))
    for box, colour in zip(boxes, colours):
        draw.rectangle(box, fill=tuple(colour) + ((255,) if mode == "RGBA" else ()))
    return image


def png_bytes(image, compress_level=6):
    buffer = io.BytesIO()
    image.save(buffer, "PNG", compress_level=compress_level)
    return buffer.getvalue()


def png_claiming(width, height):
    """A small, well-formed PNG whose header claims width × height 8-bit RGBA pixels, with one
    row of compressed data: what a reader sees first of a picture of that size."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(1 + 4 * width))) + chunk(b"IEND", b""))


def bmp32_bytes(image):
    """A BMP file of an RGBA picture: 40-byte header, BI_RGB, 32 bits, rows bottom-up.

    Each pixel is stored blue, green, red, alpha, the alpha byte as it is (not premultiplied).
    """
    rgba = image.convert("RGBA")
    width, height = rgba.size
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b, a = rgba.getpixel((x, y))
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    pixel_data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(pixel_data),
                       2835, 2835, 0, 0)
    offset = 14 + len(info)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixel_data), 0, 0, offset)
    return file_header + info + pixel_data


# --- reading the screen ----------------------------------------------------------------------

def saturation(colour):
    return max(colour[:3]) - min(colour[:3])


def is_coloured(colour):
    """Strongly coloured: a pasted picture's pixel, not the grey of the note's own drawing."""
    return saturation(colour) > 60


def coloured_box(image):
    """Bounding box (left, top, right, bottom; exclusive) of strongly coloured pixels, or None."""
    mask = Image.new("1", image.size)
    mask.putdata([1 if is_coloured(p) else 0 for p in pixels(image)])
    return mask.getbbox()


def fitted_box(picture_width, picture_height, size=NOTE_SIZE):
    """Where a picture lands when fitted into the size × size window, aspect kept, centred."""
    scale = min(size / picture_width, size / picture_height)
    width, height = picture_width * scale, picture_height * scale
    left, top = (size - width) / 2, (size - height) / 2
    return (left, top, left + width, top + height)


def box_near(seen, expected, tolerance=EDGE_TOLERANCE):
    return seen is not None and all(abs(s - e) <= tolerance for s, e in zip(seen, expected))


def mean_colour(image, box):
    """Average colour of the part of `image` inside `box` (left, top, right, bottom)."""
    part = pixels(image.crop(box))
    return tuple(round(sum(p[i] for p in part) / len(part)) for i in range(3))


# Where the rows of one line of the message box's text end on the right lie closer together than
# this, in pixels (a few characters); the ends of two lines of different lengths lie further apart.
LINE_END_GAP = 48
# Rows of ink in one line of that text, at the least.
MIN_LINE_ROWS = 5


def bands(indices, gap=2):
    """Groups increasing indices into [first, last] runs whose members are at most `gap` apart."""
    runs = []
    for i in indices:
        if runs and i - runs[-1][1] <= gap:
            runs[-1][1] = i
        else:
            runs.append([i, i])
    return runs


def blend(colour, alpha, background):
    return tuple(round(c * alpha / 255 + b * (255 - alpha) / 255)
                 for c, b in zip(colour, background))


class PasteTest(X11TestCase):

    def grab(self, rect):
        """The screen inside `rect` as an RGB image (the root window cropped by the server)."""
        # 8 bits a channel: Pillow reads ImageMagick's default 16-bit PPM many times slower.
        data = self.x.run("import", "-silent", "-window", "root", "-crop",
                          f"{rect.width}x{rect.height}+{rect.x}+{rect.y}", "+repage",
                          "-depth", "8", "ppm:-", text=False)
        image = Image.open(io.BytesIO(data)).convert("RGB")
        if image.size != (rect.width, rect.height):
            raise HarnessError(f"screenshot of {rect} came back {image.size}")
        return image

    def start_note(self):
        """Starts the program; returns it, its note window and the note's client rectangle,
        once the note shows its first picture."""
        program = self.launch()
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry, lambda g: (g.width, g.height) == (NOTE_SIZE, NOTE_SIZE),
                        timeout=5)
        self.assertEqual((area.width, area.height), (NOTE_SIZE, NOTE_SIZE))
        wait_until(lambda: self.painted(self.grab(area)), timeout=5,
                   message="the note showing its first picture")
        return program, note, area

    def painted(self, image):
        return coloured_box(image) is not None and self.root_colour_absent(image)

    def root_colour_absent(self, image):
        return all(colour_distance(p, self.root_colour) > 8 for p in pixels(image))

    def double_click(self, area):
        """Double-clicks the middle of the note with the left button."""
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)

    def pointer_away(self):
        """Moves the pointer off the note so that neither the info bar nor a tooltip shows."""
        self.x.mouse_move(0, 0)

    def paste(self, area):
        self.double_click(area)
        self.pointer_away()

    def wait_screen(self, area, accept, timeout=10):
        """Polls screenshots of `area` until accept(image) holds on a settled screen (equal to
        the one grabbed before it): a frame drawn on the way, with the info bar still shown for
        one, is never taken for the result. Returns the last screenshot seen."""
        return wait_settled(lambda: self.grab(area), accept, timeout=timeout)[0]

    wait_settled = wait_screen

    def message_boxes(self, program):
        return program.windows(BOX_TITLE, visible_only=True)

    def assertNoMessageBox(self, program, duration=0.5):
        self.assertTrue(holds_for(lambda: not self.message_boxes(program), duration),
                        f"a message box opened: {self.message_boxes(program)}")

    def assertColourNear(self, seen, expected, where, tolerance=COLOUR_TOLERANCE):
        self.assertLessEqual(colour_distance(seen, expected), tolerance,
                             f"{where}: saw {seen}, expected {expected}")

    def assertBoxNear(self, seen, expected, what):
        self.assertTrue(box_near(seen, expected),
                        f"{what} at {seen} (left, top, right, bottom), expected "
                        f"({', '.join(f'{v:.1f}' for v in expected)}) within "
                        f"{EDGE_TOLERANCE} px")

    # --- an image pasted -----------------------------------------------------------------

    def test_wide_png_is_fitted_to_the_width_and_centred_vertically(self):
        program, note, area = self.start_note()
        self.x.own_clipboard(png_bytes(quadrants(1000, 500)), "image/png")
        expected = fitted_box(1000, 500)  # (0, 50, 200, 150)
        self.paste(area)
        shot = self.wait_screen(area, lambda img: box_near(coloured_box(img), expected))

        self.assertBoxNear(coloured_box(shot), expected, "the pasted picture")
        # Rows 50..149 are the picture from edge to edge; the rows above and below hold none of
        # it, and the desktop shows nowhere.
        for y in (50, 51, 148, 149):
            row = [shot.getpixel((x, y)) for x in range(NOTE_SIZE)]
            self.assertTrue(all(is_coloured(p) for p in row), f"row {y} is not all picture")
        for y in list(range(0, 49)) + list(range(151, NOTE_SIZE)):
            row = [shot.getpixel((x, y)) for x in range(NOTE_SIZE)]
            self.assertFalse(any(is_coloured(p) for p in row), f"row {y} holds picture pixels")
        self.assertTrue(self.root_colour_absent(shot), "the desktop shows through the note")
        # The quarters land where they belong: not mirrored, not flipped.
        for (x, y), colour in zip(((50, 75), (150, 75), (50, 125), (150, 125)),
                                  (RED, GREEN, BLUE, YELLOW)):
            self.assertColourNear(shot.getpixel((x, y)), colour, f"window pixel ({x}, {y})")
        self.assertEqual(note.geometry(), area, "the window changed with the picture")
        self.assertNoMessageBox(program, duration=0.2)

    def test_32_bit_bmp_offered_only_as_image_bmp_pastes_with_its_alpha(self):
        program, note, area = self.start_note()
        # Tall (1 : 2), so it is fitted to the height and centred across: columns 50..149.
        # Quarters: opaque red, opaque blue, green at half alpha, yellow at zero alpha.
        picture = Image.new("RGBA", (40, 80))
        draw = ImageDraw.Draw(picture)
        draw.rectangle((0, 0, 19, 39), fill=RED + (255,))
        draw.rectangle((20, 0, 39, 39), fill=BLUE + (255,))
        draw.rectangle((0, 40, 19, 79), fill=GREEN + (128,))
        draw.rectangle((20, 40, 39, 79), fill=YELLOW + (0,))
        self.x.own_clipboard(bmp32_bytes(picture), "image/bmp")
        self.assertEqual(self.x.clipboard_targets(), ["TARGETS", "image/bmp"])

        expected_opaque_top = (50, 0, 150, 100)
        self.paste(area)
        shot = self.wait_screen(
            area, lambda img: self.colour_near(img, (75, 50), RED)
            and self.colour_near(img, (125, 50), BLUE))

        background = mean_colour(shot, (5, 105, 45, 195))  # left of the picture, bottom half
        self.assertFalse(is_coloured(background), f"the note's own fill is {background}")
        # Opaque top half: red left, blue right, edges at columns 50 and 150, rows 0 to 100.
        top = shot.crop((0, 0, NOTE_SIZE, 100))
        self.assertBoxNear(coloured_box(top), expected_opaque_top, "the opaque top half")
        self.assertColourNear(mean_colour(shot, (55, 5, 95, 95)), RED, "top-left quarter")
        self.assertColourNear(mean_colour(shot, (105, 5, 145, 95)), BLUE, "top-right quarter")
        # Bottom half: green blended half and half with the fill; yellow not drawn at all.
        self.assertColourNear(mean_colour(shot, (55, 105, 95, 195)),
                              blend(GREEN, 128, background), "bottom-left quarter (alpha 128)")
        self.assertColourNear(mean_colour(shot, (105, 105, 145, 195)), background,
                              "bottom-right quarter (alpha 0)")
        self.assertNoMessageBox(program, duration=0.2)

    def colour_near(self, image, point, colour, tolerance=COLOUR_TOLERANCE):
        return colour_distance(image.getpixel(point), colour) <= tolerance

    def test_8k_pngs_paste_fitted(self):
        program, note, area = self.start_note()
        # 8192 × 4320 at four bytes a pixel is more than Qt's image readers allow by default
        # (128 MiB); 7680 × 4320 just fits under it.
        for name, width, height, colours in (
                ("7680 x 4320", 7680, 4320, (RED, GREEN, BLUE, YELLOW)),
                ("8192 x 4320", 8192, 4320, (BLUE, YELLOW, RED, GREEN))):
            with self.subTest(name):
                self.x.own_clipboard(png_bytes(quadrants(width, height, colours, mode="RGBA")), "image/png")
                expected = fitted_box(width, height)

                self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
                started = time.monotonic()
                self.x.click(1, repeat=2, delay_ms=40)
                shot = self.wait_screen(
                    area, lambda img: box_near(coloured_box(img), expected)
                    and self.colour_near(img, (50, 60), colours[0]), timeout=20)
                elapsed = time.monotonic() - started
                self.assertBoxNear(coloured_box(shot), expected, f"the pasted {name} picture")
                print(f"\n  {name} PNG: {elapsed * 1000:.0f} ms from double-click to picture on "
                      f"screen (screenshots every ~{self.grab_interval(area) * 1000:.0f} ms)",
                      file=sys.stderr)

                self.pointer_away()
                shot = self.wait_screen(area, lambda img: self.colour_near(img, (50, 70),
                                                                           colours[0]))
                for (x, y), colour in zip(((50, 70), (150, 70), (50, 130), (150, 130)),
                                          colours):
                    self.assertColourNear(shot.getpixel((x, y)), colour,
                                          f"window pixel ({x}, {y})")
                self.assertTrue(program.running(), program.output())
                self.assertNoMessageBox(program, duration=0.2)

    def test_scrolling_screenshot_taller_than_16384_pastes_fitted(self):
        program, note, area = self.start_note()
        # 1080 × 20000 is fitted to the note's height: a column 10.8 pixels wide in the middle,
        # red and green above, blue and yellow below.
        self.x.own_clipboard(png_bytes(quadrants(1080, 20000), compress_level=1), "image/png")
        expected = fitted_box(1080, 20000)  # (94.6, 0, 105.4, 200)
        self.paste(area)
        shot = self.wait_screen(area, lambda img: box_near(coloured_box(img), expected),
                                timeout=20)
        self.assertBoxNear(coloured_box(shot), expected, "the pasted 1080 x 20000 picture")
        for (x, y), colour in zip(((97, 50), (103, 50), (97, 150), (103, 150)),
                                  (RED, GREEN, BLUE, YELLOW)):
            self.assertColourNear(shot.getpixel((x, y)), colour, f"window pixel ({x}, {y})")
        self.assertTrue(self.root_colour_absent(shot), "the desktop shows through the note")
        self.assertNoMessageBox(program, duration=0.2)

    def test_picture_beyond_the_size_limit_brings_up_the_message_box_and_keeps_the_picture(self):
        program, note, area = self.start_note()
        self.x.own_clipboard(png_bytes(quadrants(300, 200)), "image/png")
        self.paste(area)
        before = self.wait_settled(area, lambda img: box_near(coloured_box(img),
                                                              fitted_box(300, 200)))
        # 20000 × 20000 is 4 × 10^8 pixels, past the 2^28 (1 GiB at four bytes) a picture may
        # have: an image, but one the note does not take.
        self.x.own_clipboard(png_claiming(20000, 20000), "image/png")
        self.double_click(area)
        boxes = wait_for(lambda: self.message_boxes(program), lambda ws: len(ws) == 1, timeout=10)
        self.assertEqual(len(boxes), 1, f"message boxes titled 情報: {boxes}")
        self.assertEqual(wait_for(lambda: self.text_lines(boxes[0]), lambda n: n == 2, timeout=3),
                         2, "lines of text in the box")
        self.x.key("Return")
        self.assertEqual(wait_for(lambda: self.message_boxes(program), lambda ws: not ws,
                                  timeout=5), [], "the box is still open after Return")
        self.pointer_away()
        after = self.wait_screen(area, lambda img: img.tobytes() == before.tobytes(), timeout=3)
        self.assertEqual(self.differing_pixels(before, after), 0,
                         "pixels of the note changed by the failed paste")
        self.assertTrue(program.running(), program.output())

    def grab_interval(self, area, samples=3):
        started = time.monotonic()
        for _ in range(samples):
            self.grab(area)
        return (time.monotonic() - started) / samples

    # --- not an image ----------------------------------------------------------------------

    def test_text_brings_up_the_message_box_and_keeps_the_picture(self):
        program, note, area = self.start_note()
        # A picture of our own first, so that "unchanged" means something.
        self.x.own_clipboard(png_bytes(quadrants(300, 200)), "image/png")
        self.paste(area)
        before = self.wait_settled(area, lambda img: box_near(coloured_box(img),
                                                              fitted_box(300, 200)))
        self.assertBoxNear(coloured_box(before), fitted_box(300, 200), "the pasted picture")

        for target, text in (("UTF8_STRING", "貼り付けるテキスト"),
                             ("text/plain", "plain text"),
                             ("text/plain;charset=utf-8", "")):
            with self.subTest(target=target, text=text):
                self.x.own_clipboard(text.encode(), target)
                self.double_click(area)
                boxes = wait_for(lambda: self.message_boxes(program), lambda ws: len(ws) == 1,
                                 timeout=5)
                self.assertEqual(len(boxes), 1, f"message boxes titled 情報: {boxes}; windows "
                                 f"of the program: {program.windows(visible_only=True)}")
                box = boxes[0]
                self.assertEqual(box.title(), "情報")
                self.assertEqual(box.transient_for(), note, "the box belongs to the note")
                self.assertIn("_NET_WM_STATE_MODAL", box.state())
                active = wait_for(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW"),
                                  lambda a: a == [box.id], timeout=3)
                self.assertEqual(active, [box.id], "the box does not have the keyboard")
                lines = wait_for(lambda: self.text_lines(box), lambda n: n == 2, timeout=3)
                self.assertEqual(lines, 2, "lines of text in the box")

                self.x.key("Return")
                self.assertEqual(wait_for(lambda: self.message_boxes(program),
                                          lambda ws: not ws, timeout=5), [],
                                 "the box is still open after Return")
                self.pointer_away()
                after = self.wait_screen(area, lambda img: img.tobytes() == before.tobytes(),
                                         timeout=3)
                self.assertEqual(self.differing_pixels(before, after), 0,
                                 "pixels of the note changed by the failed paste")
                self.assertTrue(program.running(), program.output())
                self.assertEqual(note.geometry(), area)

    def text_lines(self, box):
        """Counts the lines of the box's message in a screenshot (0 when there is none).

        Dark pixels, from the bottom up: the lowest band of rows is the OK button's caption;
        above it the icon is the leftmost group of columns, and the message the rest. The lines
        are told apart by where their ink ends on the right, not by blank rows between them,
        which some fonts leave none of: the message's two lines differ in length by many
        characters, while the rows of one line end within a character or two of each other.
        """
        g = box.geometry()
        grey = self.grab(g).convert("L").load()

        def dark(x, y):
            return grey[x, y] < 90

        rows = bands(y for y in range(g.height) if any(dark(x, y) for x in range(g.width)))
        if len(rows) < 2:
            return 0
        button_top = rows[-1][0]
        columns = bands((x for x in range(g.width)
                         if any(dark(x, y) for y in range(button_top))), gap=8)
        if len(columns) < 2:
            return 0
        text_left = columns[1][0]
        ends = []
        for y in range(button_top):
            inked = [x for x in range(text_left, g.width) if dark(x, y)]
            if inked:
                ends.append(inked[-1])
        # A line is a group of ends that many rows share; a row or two that end elsewhere are
        # the tops or bottoms of single characters.
        groups = bands(sorted(set(ends)), gap=LINE_END_GAP)
        return sum(1 for first, last in groups
                   if sum(1 for end in ends if first <= end <= last) >= MIN_LINE_ROWS)

    @staticmethod
    def differing_pixels(a, b):
        return sum(1 for p, q in zip(pixels(a), pixels(b)) if p != q)

    def test_content_that_is_no_readable_image_empties_the_picture_without_a_message(self):
        program, note, area = self.start_note()
        for target, data in (("application/x-foo", b"\x00\x01 not an image at all"),
                             ("image/x-foo", b"\x00\x01 not an image at all"),
                             ("image/png", b"\x89PNG\r\n\x1a\n but broken after the signature"),
                             ("image/bmp", b"BM" + bytes(60))):
            with self.subTest(target=target):
                # A picture first, so that the change to empty shows.
                self.x.own_clipboard(png_bytes(quadrants(120, 120)), "image/png")
                self.paste(area)
                self.wait_screen(area, lambda img: box_near(coloured_box(img), (0, 0, 200, 200)))

                self.x.own_clipboard(data, target)
                self.paste(area)

                # Only the image area's frame and fill: with the margin off the frame lies
                # outside the window, so the window is one flat colour.
                def flat(img):
                    return len(set(pixels(img.crop((5, 5, 195, 195))))) <= 1
                shot = self.wait_screen(area, lambda img: coloured_box(img) is None
                                        and flat(img))
                self.assertIsNone(coloured_box(shot), "picture pixels are still drawn")
                self.assertTrue(self.root_colour_absent(shot), "the desktop shows through")
                self.assertTrue(flat(shot), "something is drawn inside the empty image area")
                self.assertNoMessageBox(program)
                self.assertTrue(program.running(), program.output())

    # --- clearing --------------------------------------------------------------------------

    def test_clear_after_paste_shows_a_white_rectangle_of_the_pictures_proportions(self):
        program, note, area = self.start_note()
        self.x.own_clipboard(png_bytes(quadrants(300, 100)), "image/png")
        expected = fitted_box(300, 100)  # (0, 66.7, 200, 133.3)
        self.paste(area)
        self.wait_screen(area, lambda img: box_near(coloured_box(img), expected))

        self.choose_menu_item(program, note, area, position=4)  # "画面クリア"
        shot = self.wait_screen(area, lambda img: coloured_box(img) is None
                                and box_near(self.white_box(img), expected))
        self.assertIsNone(coloured_box(shot), "picture pixels are still drawn")
        white = self.white_box(shot)
        self.assertBoxNear(white, expected, "the white rectangle")
        left, top, right, bottom = white
        self.assertEqual(set(pixels(shot.crop((left, top + 1, right, bottom - 1)))), {WHITE},
                         "the rectangle is not all opaque white")
        outside = pixels(shot.crop((0, 0, NOTE_SIZE, top - 1))) + \
            pixels(shot.crop((0, bottom + 1, NOTE_SIZE, NOTE_SIZE)))
        self.assertNotIn(WHITE, set(outside), "white drawn outside the 3 : 1 rectangle")
        self.assertEqual(note.geometry(), area)
        self.assertNoMessageBox(program, duration=0.2)

    @staticmethod
    def white_box(image):
        mask = Image.new("1", image.size)
        mask.putdata([1 if p == WHITE else 0 for p in pixels(image)])
        return mask.getbbox()

    def choose_menu_item(self, program, note, area, position):
        """Opens the popup menu on the note and chooses its item at `position` (from 1)."""
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(3)
        menus = wait_for(lambda: self.popups(program, note), lambda ms: len(ms) == 1, timeout=5)
        self.assertEqual(len(menus), 1, "one popup menu shown")
        self.pointer_away()
        self.x.key(*(["Down"] * position), "Return")
        self.assertEqual(wait_for(lambda: self.popups(program, note), lambda ms: not ms,
                                  timeout=5), [], "menu still open")

    @staticmethod
    def popups(program, note):
        return [w for w in program.windows(visible_only=True)
                if w != note and w.override_redirect()]

class FractionalScaleTest(X11TestCase):
    """At 150 % the note's image area starts 7.5 device pixels outside the window (its margin is
    -5 units): the picture must still fall on whole device pixels of the window, edge to edge."""

    SCALE = 1.5

    def test_picture_covers_the_window_to_the_last_device_pixel(self):
        program = self.launch(env={"QT_SCALE_FACTOR": str(self.SCALE)})
        note = program.window(NOTE_TITLE)
        side = round(NOTE_SIZE * self.SCALE)
        area = wait_for(note.geometry, lambda g: (g.width, g.height) == (side, side), timeout=5)
        self.assertEqual((area.width, area.height), (side, side))
        # A picture of the window's own size in device pixels: blue, framed by one red pixel.
        picture = Image.new("RGB", (side, side), BLUE)
        for i in range(side):
            for xy in ((i, 0), (i, side - 1), (0, i), (side - 1, i)):
                picture.putpixel(xy, RED)
        self.x.own_clipboard(png_bytes(picture), "image/png")
        self.x.mouse_move(area.x + side // 2, area.y + side // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)

        def grab():
            return self.x.screenshot(area).convert("RGB")

        def drawn_exactly(img):
            return img.tobytes() == picture.tobytes()
        shot = wait_settled(grab, drawn_exactly, timeout=10)[0]
        edges = {name: sorted(set(pixels(shot.crop(box)))) for name, box in (
            ("top row", (0, 0, side, 1)), ("left column", (0, 0, 1, side)),
            ("bottom row", (0, side - 1, side, side)), ("right column", (side - 1, 0, side, side)))}
        self.assertEqual(edges, {name: [RED] for name in edges},
                         "the picture does not reach every edge of the window exactly")
        self.assertTrue(drawn_exactly(shot), "the picture is not drawn one to one")


if __name__ == "__main__":
    unittest.main()
