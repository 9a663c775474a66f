"""Clipboard owners that misbehave, and files that change between the drag and the drop.

Clipboard owners: one announces a picture and never delivers it, one dies when asked for it, one
dies, stalls or trickles in the middle of an incremental transfer, one refuses the picture it
announced, one answers with text but not to TARGETS. The owner is the small X client
clipboard_owner (built with the tests, path in $STIQLET_CLIPBOARD_OWNER). The paste must give up
within a few seconds with the paste-error box and keep the picture, and the note must answer its
hotkeys during the paste and afterwards.

Drops: the small X client xdnd_source ($STIQLET_XDND_SOURCE) drags a PNG file's URI onto the
note over XDND. Once the note has accepted the drag, the file is deleted, replaced or spoilt, and
then dropped. The note must keep its picture, answer a file it cannot read with its error box,
and go on pasting afterwards. A JPEG XR decoder that never answers must not hold the drop, the
hotkeys or the program's end.
"""

import os
import select
import shutil
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

from harness import (Program, X11TestCase, colour_distance, holds_for, program_path, wait_for,
                     wait_settled)
from test_paste import (BLUE, GREEN, NOTE_SIZE, RED, YELLOW, box_near, coloured_box, fitted_box,
                        png_bytes, quadrants)

NOTE_TITLE = "^Form1$"
BOX_TITLE = "^情報$"
ERROR_BOX_TITLE = "^エラー$"
# Longest a paste may take to give up and show its box: for an owner that stops sending (the
# reader waits 2 s without progress), and for one that never finishes (10 s in all).
GIVE_UP = 8.0
GIVE_UP_SLOW = 14.0
# Longest the hotkey is tapped for before the note counts as no longer answering it. Each tap is
# shorter than the note's reading of the keys and is seen only when a reading falls inside it: on a
# loaded machine, whose readings come late, that can take many taps.
HOTKEY_WAIT = 20.0


def owner_path():
    return os.environ.get("STIQLET_CLIPBOARD_OWNER", "")


def source_path():
    return os.environ.get("STIQLET_XDND_SOURCE", "")


@unittest.skipUnless(os.access(owner_path(), os.X_OK), "clipboard_owner not built")
class HostileClipboardTest(X11TestCase):

    def start_note(self):
        program = self.launch()
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=5)
        return program, note, area

    def owner(self, mode, *args):
        """Starts clipboard_owner in `mode`; returns it once it owns the clipboard."""
        proc = subprocess.Popen([owner_path(), mode, *args], env=self.x.env,
                                stdin=subprocess.DEVNULL,
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
        """A readable picture first, so that any change to it shows; its screenshot."""
        self.x.own_clipboard(png_bytes(quadrants(100, 100, (RED,) * 4)), "image/png")
        self.double_click(area)
        self.x.mouse_move(0, 0)
        shot = wait_settled(lambda: self.grab(area), lambda img: coloured_box(img) is not None,
                            timeout=5)[0]
        self.x.stop_clipboard()
        return shot

    def double_click(self, area):
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)

    def tap_until(self, keys, done, timeout):
        """Taps `keys` (e.g. ctrl+alt+a) until done(); the seconds it took, or None."""
        start = time.monotonic()
        while time.monotonic() - start < timeout:
            self.x.run("xdotool", "keydown", keys, "sleep", "0.15", "keyup", keys)
            if done():
                return time.monotonic() - start
        return None

    def check_gives_up(self, mode, *args):
        program, note, area = self.start_note()
        before = self.paste_red(area)
        owner = self.owner(mode, *args)
        clicked = time.monotonic()
        self.double_click(area)
        # The paste-error box: the owner's content never came whole.
        boxes = wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                         lambda ws: len(ws) == 1, timeout=GIVE_UP + 5)
        took = time.monotonic() - clicked
        self.assertEqual(len(boxes), 1, f"no paste-error box; output:\n{program.output()}")
        self.assertLessEqual(took, GIVE_UP, f"the paste took {took:.1f} s to give up")
        self.assertTrue(program.running(), program.output())
        self.x.key("Return")
        self.assertEqual(wait_for(lambda: program.windows(BOX_TITLE, visible_only=True),
                                  lambda ws: not ws, timeout=5), [], "the box stayed open")
        # The picture is kept as it was.
        self.x.mouse_move(0, 0)
        after = wait_settled(lambda: self.grab(area),
                             lambda img: img.tobytes() == before.tobytes(), timeout=5)[0]
        self.assertEqual(after.tobytes(), before.tobytes(), "the picture changed")
        # The note still answers its hotkey.
        self.assertIsNotNone(
            self.tap_until("ctrl+alt+a", lambda: not note.is_viewable(), HOTKEY_WAIT),
            "the note no longer answers Ctrl+Alt+A")
        return owner

    def test_owner_that_never_answers(self):
        self.check_gives_up("silent")

    def test_owner_that_dies_when_asked(self):
        self.check_gives_up("die")

    def test_owner_that_dies_in_an_incremental_transfer(self):
        self.check_gives_up("incr-die")

    def test_owner_that_stalls_in_an_incremental_transfer(self):
        self.check_gives_up("incr-stall")

    def test_owner_that_refuses_the_picture_it_offered(self):
        self.check_gives_up("refuse")

    def test_text_offered_without_targets_is_text(self):
        # Text brings up the same box, and the picture stays.
        self.check_gives_up("no-targets", "UTF8_STRING")

    def owner_says(self, owner, timeout):
        """The owner's next line of output, or None if none comes within `timeout` seconds."""
        ready, _, _ = select.select([owner.stdout], [], [], timeout)
        return owner.stdout.readline().strip() if ready else None

    def test_hotkeys_answer_while_an_owner_stalls(self):
        for keys, done, what in (
                ("ctrl+alt+a", lambda program, note: not note.is_viewable(), "hides the note"),
                ("ctrl+alt+x", lambda program, note: not program.running(), "ends the program")):
            with self.subTest(keys=keys, what=what):
                # An owner that keeps sending and never finishes holds the paste for 10 s.
                program, note, area = self.start_note()
                owner = self.owner("trickle")
                self.double_click(area)
                self.assertEqual(self.owner_says(owner, 5), b"asked",
                                 "the paste did not ask the owner")
                self.assertIsNotNone(self.tap_until(keys, lambda: done(program, note),
                                                    GIVE_UP_SLOW), f"{keys} never answered")
                # Answered during the paste: the owner is still being asked for more.
                if program.running():
                    self.assertEqual(program.windows(BOX_TITLE, visible_only=True), [],
                                     "the paste had given up before the hotkey answered")
                    self.assertEqual(self.owner_says(owner, 3), b"chunk",
                                     "the paste had ended before the hotkey answered")
                else:
                    self.assertEqual(program.wait_exit(timeout=5), 0, "the program's exit status")
                program.stop()
                self._stop(owner)


class DragSource:
    """xdnd_source dragging one URI onto a window; reads what it reports, line by line."""

    def __init__(self, env, window, point, uri):
        self.proc = subprocess.Popen(
            [source_path(), str(window.id), str(point[0]), str(point[1]), uri], env=env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            start_new_session=True)
        self.seen = []
        self._pending = b""

    def next_report(self, timeout):
        """The next line other than "asked", or None if none comes within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            while b"\n" in self._pending:
                line, self._pending = self._pending.split(b"\n", 1)
                self.seen.append(line.decode())
                if line != b"asked":
                    return line.decode()
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
            if not ready:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:  # the source ended
                return None
            self._pending += chunk

    def send(self, command):
        self.proc.stdin.write(command.encode() + b"\n")
        self.proc.stdin.flush()

    def errors(self):
        return self.proc.stderr.read().decode() if self.proc.poll() is not None else ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=5)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


def delete(path):
    path.unlink()


def replace_with_folder(path):
    path.unlink()
    path.mkdir()


def overwrite_with_no_picture(path):
    path.write_bytes(b"\x89PNG\r\n\x1a\n no longer a picture")


# What happens to the dropped file once the note has accepted the drag, whether the drop is then
# taken (XdndFinished), and whether the note reports it. A file that is gone, or no longer a
# file, fails the test the drag passed, so the drop is refused like any drag of something that
# is not an image file. A file that is still there but no picture is taken, cannot be decoded and
# is reported. Either way the picture stays.
CHANGES_BEFORE_THE_DROP = (
    # name, what happens to the file, drop taken, error box
    ("file deleted", delete, False, False),
    ("file replaced by a folder", replace_with_folder, False, False),
    ("file overwritten with bytes that are no picture", overwrite_with_no_picture, True, True),
)

# The picture on the note before each drop, and one pasted afterwards to show the note still works.
BEFORE = quadrants(300, 200)
AFTER = quadrants(100, 100, (YELLOW, BLUE, GREEN, RED))
# The picture in the dropped file: tall, so that it lands elsewhere than BEFORE.
DROPPED = quadrants(200, 400, (BLUE, YELLOW, RED, GREEN))


class DropTestCase(X11TestCase):
    """The note, a picture pasted into it, and files dragged onto it."""

    def start_note(self):
        program = self.launch()
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=5)
        return program, note, area

    def grab(self, area):
        return self.x.screenshot(area)

    def paste(self, area, picture):
        """Pastes `picture` through the clipboard; returns the note once it has settled."""
        self.x.own_clipboard(png_bytes(picture), "image/png")
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)
        expected = fitted_box(*picture.size)
        shot, settled = wait_settled(lambda: self.grab(area),
                                     lambda image: box_near(coloured_box(image), expected),
                                     timeout=10)
        self.assertTrue(settled and box_near(coloured_box(shot), expected),
                        f"the pasted picture at {coloured_box(shot)}, expected {expected}")
        self.x.stop_clipboard()
        return shot

    def file_to_drop(self):
        path = Path(self.x.tmpdir, "dropped.png")
        if path.is_dir():
            path.rmdir()
        path.write_bytes(png_bytes(DROPPED))
        return path

    def drag(self, note, area, path):
        """Drags `path` onto the middle of the note; returns the source once the note took it."""
        source = DragSource(self.x.env, note, (area.x + area.width // 2,
                                               area.y + area.height // 2), path.as_uri())
        self.addCleanup(source.stop)
        status = source.next_report(timeout=10)
        self.assertEqual(status, "accepted",
                         f"the note's answer to the drag; source said {source.seen} "
                         f"{source.errors()}")
        return source

    def error_boxes(self, program):
        return program.windows(ERROR_BOX_TITLE, visible_only=True)

    def assertStillPastes(self, program, area):
        self.assertTrue(program.running(), program.output())
        self.paste(area, AFTER)


@unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
class DroppedFileTest(DropTestCase):

    def drop_and_see_it_replace_the_picture(self, program, note, area, path):
        self.paste(area, BEFORE)
        source = self.drag(note, area, path)
        source.send("drop")
        self.assertEqual(source.next_report(timeout=10), "finished accepted=1")
        expected = fitted_box(*DROPPED.size)  # (50, 0, 150, 200)
        shot = wait_settled(lambda: self.grab(area),
                            lambda img: box_near(coloured_box(img), expected), timeout=5)[0]
        self.assertTrue(box_near(coloured_box(shot), expected),
                        f"the dropped picture at {coloured_box(shot)}, expected {expected}")
        # The quarters where they belong: not mirrored, not flipped.
        for (x, y), colour in zip(((75, 50), (125, 50), (75, 150), (125, 150)),
                                  (BLUE, YELLOW, RED, GREEN)):
            self.assertLessEqual(colour_distance(shot.getpixel((x, y)), colour), 8,
                                 f"window pixel ({x}, {y}) is {shot.getpixel((x, y))}")
        self.assertTrue(holds_for(lambda: not self.error_boxes(program), 0.3), "an error box")
        self.assertTrue(program.running(), program.output())

    def test_dropped_png_replaces_the_picture(self):
        # The drag of the test below with the file left alone: the source really drops.
        program, note, area = self.start_note()
        self.drop_and_see_it_replace_the_picture(program, note, area, self.file_to_drop())

    def test_dropped_run_length_compressed_bmp_replaces_the_picture(self):
        # What ImageMagick writes for a picture of few colours: an 8-bit palette, compressed
        # run by run (RLE8).
        program, note, area = self.start_note()
        path = Path(self.x.tmpdir, "dropped.bmp")
        subprocess.run(["convert", "png:-", "-type", "Palette", "-compress", "RLE", str(path)],
                       input=png_bytes(DROPPED), check=True, timeout=60)
        header = path.read_bytes()[:34]
        self.assertEqual(struct.unpack("<HI", header[28:34]), (8, 1),
                         "ImageMagick did not write an 8-bit RLE8 bitmap")
        self.drop_and_see_it_replace_the_picture(program, note, area, path)

    def test_file_that_changes_between_drag_and_drop_leaves_the_picture(self):
        program, note, area = self.start_note()
        for name, change, taken, reported in CHANGES_BEFORE_THE_DROP:
            with self.subTest(name):
                before = self.paste(area, BEFORE)
                path = self.file_to_drop()
                source = self.drag(note, area, path)
                change(path)
                source.send("drop")

                if reported:
                    # The drop is answered at once: the source hears XdndFinished before anyone
                    # has answered the box that follows, which it never waits for.
                    self.assertEqual(source.next_report(timeout=10),
                                     f"finished accepted={int(taken)}",
                                     f"source said {source.seen}")
                    boxes = wait_for(lambda: self.error_boxes(program), lambda ws: len(ws) == 1,
                                     timeout=10)
                    self.assertEqual(len(boxes), 1, f"error boxes: {boxes}; windows of the "
                                     f"program: {program.windows(visible_only=True)}")
                    box = boxes[0]
                    self.assertEqual(box.transient_for(), note, "the box belongs to the note")
                    self.assertIn("_NET_WM_STATE_MODAL", box.state())
                    active = wait_for(lambda: self.x.root_prop("_NET_ACTIVE_WINDOW"),
                                      lambda a: a == [box.id], timeout=3)
                    self.assertEqual(active, [box.id], "the box does not have the keyboard")
                    self.x.key("Return")
                    self.assertEqual(wait_for(lambda: self.error_boxes(program),
                                              lambda ws: not ws, timeout=5), [],
                                     "the box is still open after Return")
                else:
                    self.assertEqual(source.next_report(timeout=10),
                                     f"finished accepted={int(taken)}",
                                     f"source said {source.seen}")
                    self.assertTrue(holds_for(lambda: not self.error_boxes(program), 0.5),
                                    f"an error box opened: {self.error_boxes(program)}")

                after = wait_settled(lambda: self.grab(area),
                                     lambda img: img.tobytes() == before.tobytes(), timeout=3)[0]
                self.assertEqual(after.tobytes(), before.tobytes(),
                                 "the note's picture changed with the drop")
                self.assertEqual(note.geometry(), area)
                self.assertStillPastes(program, area)


# What the JPEG XR decoding child runs instead of decoding: it never answers. The length of the
# sleep tells its process apart from any other.
SILENT_DECODER = "exec sleep 4217"
SILENT_DECODER_PATTERN = "^sleep 4217$"


class ChildDecoderTestCase(DropTestCase):
    """A copy of the program beside a JPEG XR decoding child of the test's own."""

    def start_note_beside(self, name, child_script):
        folder = Path(self.x.tmpdir, name)
        folder.mkdir(exist_ok=True)
        shutil.copy2(program_path(), folder / "stiqlet")
        child = folder / "stiqlet-jxr"
        child.write_text(child_script)
        child.chmod(0o755)
        program = Program(self.x, binary=str(folder / "stiqlet"))
        self.addCleanup(self._stop_program, program)
        note = program.window(NOTE_TITLE)
        area = wait_for(note.geometry, lambda g: g.width == NOTE_SIZE, timeout=5)
        return program, note, area, folder

    def drop_jxr(self, note, area):
        """Drops a JPEG XR file on the note; the seconds since, counted from the drop."""
        path = Path(self.x.tmpdir, "slow.hdp")
        path.write_bytes(b"II\xbc\x01" + bytes(60))
        source = self.drag(note, area, path)
        dropped = time.monotonic()
        source.send("drop")
        # The drop is answered before the file is decoded.
        self.assertEqual(source.next_report(timeout=3), "finished accepted=1",
                         f"source said {source.seen}")
        return lambda: time.monotonic() - dropped


@unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
class SilentDecoderTest(ChildDecoderTestCase):
    """A copy of the program beside a JPEG XR decoding child that never answers."""

    def start_note(self):
        program, note, area, _ = self.start_note_beside("silent-decoder",
                                                        f"#!/bin/sh\n{SILENT_DECODER}\n")
        self.addCleanup(subprocess.run, ["pkill", "-f", SILENT_DECODER_PATTERN])
        return program, note, area

    def decoders_running(self):
        found = subprocess.run(["pgrep", "-f", SILENT_DECODER_PATTERN], capture_output=True,
                               text=True)
        return found.stdout.split()

    def toggle_until(self, note, shown):
        """Taps Ctrl+Alt+A, each tap shorter than one reading of the keys (which toggles the note
        at most once), until the note is shown or hidden; whether it came to be."""
        deadline = time.monotonic() + HOTKEY_WAIT
        while time.monotonic() < deadline:
            self.x.key_down("ctrl+alt+a")
            time.sleep(0.06)
            self.x.key_up("ctrl+alt+a")
            if wait_for(note.is_viewable, lambda v: v == shown, timeout=0.3) == shown:
                return True
        return False

    def test_the_note_answers_while_the_file_decodes_then_shows_the_box(self):
        program, note, area = self.start_note()
        before = self.paste(area, BEFORE)
        since_drop = self.drop_jxr(note, area)
        self.assertTrue(wait_for(self.decoders_running, timeout=5), "the decoder never started")

        # The hotkey hides and shows the note while the decoder is silent.
        self.assertTrue(self.toggle_until(note, shown=False),
                        "Ctrl+Alt+A did not hide the note during the decode")
        self.assertTrue(self.toggle_until(note, shown=True),
                        "Ctrl+Alt+A did not show the note again during the decode")
        self.assertTrue(self.decoders_running(), "the decode ended before the hotkeys were seen")

        # The decoder is given up within its bound: the error box, and the picture kept.
        boxes = wait_for(lambda: self.error_boxes(program), lambda ws: len(ws) == 1, timeout=40)
        self.assertEqual(len(boxes), 1, f"no error box {since_drop():.0f} s after the drop")
        self.assertLess(since_drop(), 30, "the silent decoder was waited for too long")
        self.assertEqual(wait_for(self.decoders_running, lambda p: not p, timeout=3), [],
                         "the silent decoder still runs after the box")
        self.x.key("Return")
        wait_for(lambda: self.error_boxes(program), lambda ws: not ws, timeout=5)
        after = wait_settled(lambda: self.grab(area),
                             lambda img: img.tobytes() == before.tobytes(), timeout=3)[0]
        self.assertEqual(after.tobytes(), before.tobytes(), "the picture changed")
        self.assertStillPastes(program, area)

    def test_the_program_ends_at_once_while_the_file_decodes(self):
        program, note, area = self.start_note()
        self.drop_jxr(note, area)
        self.assertTrue(wait_for(self.decoders_running, timeout=5), "the decoder never started")
        self.x.key_down("ctrl+alt+x")
        try:
            code = program.wait_exit(timeout=5)
        finally:
            self.x.key_up("ctrl+alt+x")
        self.assertEqual(code, 0, f"exit code after Ctrl+Alt+X; output:\n{program.output()}")
        self.assertEqual(wait_for(self.decoders_running, lambda p: not p, timeout=3), [],
                         "the silent decoder outlived the program")


# A JPEG XR decoding child that reads the file, takes its time, then answers with a 60 × 40 green
# picture and leaves the file "answered" beside itself.
SLOW_DECODER = """#!{python}
import struct, sys, time
from pathlib import Path
sys.stdin.buffer.read()
time.sleep({delay})
sys.stdout.buffer.write(struct.pack("<iiii", 0, 60, 40, 0) + bytes((40, 170, 30, 255)) * 2400)
sys.stdout.buffer.flush()
Path(sys.argv[0]).with_name("answered").touch()
"""
# Long enough for a paste made at once after the drop to be on screen first.
SLOW_DECODE_SECONDS = 3
# The pasted picture: tall, so that it lands elsewhere than the decoded one would.
PASTED = quadrants(10, 20, (YELLOW, BLUE, GREEN, RED))


@unittest.skipUnless(os.access(source_path(), os.X_OK), "xdnd_source not built")
class SlowDecoderTest(ChildDecoderTestCase):
    """A paste made while a dropped file is still decoding: the user's last action wins."""

    def test_paste_while_the_dropped_file_decodes_keeps_the_pasted_picture(self):
        program, note, area, folder = self.start_note_beside(
            "slow-decoder", SLOW_DECODER.format(python=sys.executable, delay=SLOW_DECODE_SECONDS))
        answered = folder / "answered"
        self.paste(area, BEFORE)
        self.x.own_clipboard(png_bytes(PASTED), "image/png")
        self.drop_jxr(note, area)
        self.x.mouse_move(area.x + area.width // 2, area.y + area.height // 2)
        self.x.click(1, repeat=2, delay_ms=40)
        self.x.mouse_move(0, 0)
        expected = fitted_box(*PASTED.size)  # (50, 0, 150, 200)

        def pasted(img):
            return box_near(coloured_box(img), expected)
        shot = wait_settled(lambda: self.grab(area), pasted, timeout=10)[0]
        self.assertTrue(pasted(shot), f"the pasted picture at {coloured_box(shot)}, "
                                      f"expected {expected}")
        self.assertFalse(answered.exists(), "the file was decoded before the paste was seen: "
                                            "the test needs a slower decoder")
        # Once the decoder has answered, and its picture would have been shown, the pasted one
        # is still there, and no box.
        self.assertTrue(wait_for(answered.exists, timeout=SLOW_DECODE_SECONDS + 10),
                        "the decoder never answered")
        self.assertTrue(holds_for(lambda: pasted(self.grab(area)), 2.0),
                        f"the pasted picture was replaced: now at {coloured_box(self.grab(area))}")
        self.assertFalse(self.error_boxes(program), "an error box")
        self.assertTrue(program.running(), program.output())


if __name__ == "__main__":
    unittest.main()
