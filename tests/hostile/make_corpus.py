#!/usr/bin/env python3
"""Writes the hostile-file corpus: damaged, lying and oversized image files for the note's
decoders, made here from small pictures this script builds itself.

    make_corpus.py DIR
    make_corpus.py --fuzz-seeds imagefile|clipboard DIR

DIR receives the files and manifest.tsv, one line per file: name, expected outcome and what the
file is. Outcomes:
    refused     the decoder must refuse the file (null picture and a reason);
    decoded:WxH the decoder must give a picture of that size;
    any         either, as long as the reader survives (a truncated JPEG, say, may decode
                partly: libjpeg fills the missing rows with grey);
    bomb        a small file claiming a huge picture: refused without allocating it, as a
                picture too large where the reader tells its size first.

PNG, BMP, GIF, TIFF and ICO files are written byte by byte with the standard library. JPEG files
need Pillow or ImageMagick's convert, JPEG XR files JxrEncApp (libjxr-tools); without them
those rows are left out and a note says so on standard error. Damage is deterministic: the
same corpus every run.

With --fuzz-seeds the same files are written as starting inputs for the fuzz targets:
fuzz_imagefile takes a byte choosing the file name and then the file, fuzz_clipboard a list of
offers (a byte choosing the MIME type, two bytes of length, the data).
"""

import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

WIDTH, HEIGHT = 24, 16


def pattern():
    """RGBA rows: four flat quarters, so a decoded picture is easy to recognise."""
    colours = ((230, 30, 30, 255), (30, 170, 40, 255), (30, 60, 220, 255), (240, 200, 20, 128))
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            row.append(colours[(y >= HEIGHT // 2) * 2 + (x >= WIDTH // 2)])
        rows.append(row)
    return rows


# --- formats, written by hand --------------------------------------------------------------

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(rows=None, width=None, height=None, idat=None):
    rows = rows or pattern()
    width = width if width is not None else len(rows[0])
    height = height if height is not None else len(rows)
    if idat is None:
        raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
        idat = zlib.compress(raw, 9)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat)
            + png_chunk(b"IEND", b""))


def bmp(rows=None, bits=24, width=None, height=None, offset=None, header_size=40,
        compression=0, colours_used=0, image_size=None, pixel_data=None):
    rows = rows or pattern()
    w, h = len(rows[0]), len(rows)
    if pixel_data is None:
        out = bytearray()
        for row in reversed(rows):
            line = bytearray()
            for r, g, b, a in row:
                line += bytes((b, g, r, a)) if bits == 32 else bytes((b, g, r))
            line += b"\0" * (-len(line) % 4)
            out += line
        pixel_data = bytes(out)
    info = struct.pack("<IiiHHIIiiII", header_size, w if width is None else width,
                       h if height is None else height, 1, bits, compression,
                       len(pixel_data) if image_size is None else image_size, 2835, 2835,
                       colours_used, 0)
    start = 14 + len(info) if offset is None else offset
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixel_data), 0, 0, start)
    return file_header + info + pixel_data


def gif(rows=None, screen=None, frame=None):
    """A GIF of literal codes only: a clear code before the code table would widen."""
    rows = rows or pattern()
    palette, indices = [], []
    for row in rows:
        for r, g, b, _ in row:
            if (r, g, b) not in palette:
                palette.append((r, g, b))
            indices.append(palette.index((r, g, b)))
    min_size = 2
    palette += [(0, 0, 0)] * (4 - len(palette))
    clear, end, width = 1 << min_size, (1 << min_size) + 1, min_size + 1
    codes, since_clear = [clear], 0
    for i in indices:
        if since_clear == (1 << width) - (1 << min_size) - 2:
            codes.append(clear)
            since_clear = 0
        codes.append(i)
        since_clear += 1
    codes.append(end)
    bits = value = 0
    stream = bytearray()
    for code in codes:
        value |= code << bits
        bits += width
        while bits >= 8:
            stream.append(value & 0xFF)
            value >>= 8
            bits -= 8
    if bits:
        stream.append(value & 0xFF)
    blocks = b"".join(bytes((len(stream[i:i + 255]),)) + stream[i:i + 255]
                      for i in range(0, len(stream), 255)) + b"\0"
    sw, sh = screen or (len(rows[0]), len(rows))
    fw, fh = frame or (len(rows[0]), len(rows))
    return (b"GIF89a" + struct.pack("<HHBBB", sw, sh, 0x81, 0, 0)
            + b"".join(bytes(c) for c in palette)
            + b"," + struct.pack("<HHHHB", 0, 0, fw, fh, 0) + bytes((min_size,)) + blocks + b";")


def tiff(rows=None, width=None, height=None):
    """Little-endian baseline TIFF, RGB, uncompressed, one strip."""
    rows = rows or pattern()
    w, h = len(rows[0]), len(rows)
    pixels = bytes(c for row in rows for px in row for c in px[:3])
    entries = [(256, 4, 1, w if width is None else width),
               (257, 4, 1, h if height is None else height),
               (258, 3, 3, None), (259, 3, 1, 1), (262, 3, 1, 2), (273, 4, 1, None),
               (277, 3, 1, 3), (278, 4, 1, h), (279, 4, 1, len(pixels))]
    ifd_at = 8
    ifd_size = 2 + 12 * len(entries) + 4
    bits_at = ifd_at + ifd_size
    pixels_at = bits_at + 6
    out = bytearray(b"II*\0" + struct.pack("<I", ifd_at))
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bits_at
        if tag == 273:
            value = pixels_at
        if kind == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<HHH", 8, 8, 8)
    out += pixels
    return bytes(out)


def ico(image, width=WIDTH, height=HEIGHT, size=None, offset=None):
    """An icon file with one image (a PNG, or a bitmap without its file header)."""
    entry = struct.pack("<BBBBHHII", width & 0xFF, height & 0xFF, 0, 0, 1, 32,
                        len(image) if size is None else size, 22 if offset is None else offset)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def ico_bitmap(rows=None):
    """The bitmap an icon holds: 32-bit rows, height doubled, and the AND mask."""
    rows = rows or pattern()
    w, h = len(rows[0]), len(rows)
    data = bmp(rows, bits=32, height=2 * h)[14:]
    mask_row = (w + 31) // 32 * 4
    return data + b"\0" * (mask_row * h)


# --- formats made by other programs --------------------------------------------------------

def jpeg(work):
    try:
        from PIL import Image
        image = Image.new("RGB", (WIDTH, HEIGHT))
        image.putdata([px[:3] for row in pattern() for px in row])
        path = work / "base.jpg"
        image.save(path, "JPEG", quality=90)
        return path.read_bytes()
    except ImportError:
        pass
    convert = shutil.which("convert")
    if convert:
        (work / "base.bmp").write_bytes(bmp())
        path = work / "base.jpg"
        subprocess.run([convert, str(work / "base.bmp"), str(path)], check=True,
                       capture_output=True, timeout=60)
        return path.read_bytes()
    return None


def jpeg_xr(work):
    encoder = shutil.which("JxrEncApp")
    if not encoder:
        return None
    source = work / "base-xr.bmp"
    source.write_bytes(bmp())
    path = work / "base.jxr"
    done = subprocess.run([encoder, "-i", str(source), "-o", str(path), "-q", "1"],
                          capture_output=True, timeout=60, cwd=work)
    if done.returncode != 0 or not path.exists():
        return None
    return path.read_bytes()


# --- damage --------------------------------------------------------------------------------

def flipped(data, seed, count=8, start=0):
    """The data with `count` bytes past `start` replaced by random ones."""
    rng = random.Random(seed)
    out = bytearray(data)
    for _ in range(count):
        i = rng.randrange(start, len(out))
        out[i] = rng.randrange(256)
    return bytes(out)


def jpeg_with_size(data, width, height):
    """The JPEG with the size in its frame header replaced."""
    out = bytearray(data)
    i = 2
    while i + 4 < len(out):
        marker, length = out[i + 1], struct.unpack(">H", out[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            out[i + 5:i + 9] = struct.pack(">HH", height, width)
            return bytes(out)
        i += 2 + length
    raise ValueError("no frame header")


def jxr_with_size(data, width, height):
    """The JPEG XR container with its width and height tags replaced (0xBC80, 0xBC81)."""
    out = bytearray(data)
    directory = struct.unpack("<I", out[4:8])[0]
    count = struct.unpack("<H", out[directory:directory + 2])[0]
    for n in range(count):
        at = directory + 2 + 12 * n
        tag, kind = struct.unpack("<HH", out[at:at + 4])
        value = {0xBC80: width, 0xBC81: height}.get(tag)
        if value is not None:
            if kind == 3:
                out[at + 8:at + 10] = struct.pack("<H", min(value, 0xFFFF))
            else:
                out[at + 8:at + 12] = struct.pack("<I", value)
    return bytes(out)


# --- the corpus ----------------------------------------------------------------------------

def build(work):
    """[(name, data, outcome, description)]"""
    size = f"decoded:{WIDTH}x{HEIGHT}"
    cases = []

    def add(name, data, outcome, what):
        cases.append((name, data, outcome, what))

    def damaged(stem, ext, good, header_end):
        add(f"{stem}-good.{ext}", good, size, f"intact {stem}")
        add(f"{stem}-empty.{ext}", b"", "refused", "zero bytes")
        add(f"{stem}-magic-only.{ext}", good[:max(2, header_end // 3)], "refused",
            "cut inside the header")
        add(f"{stem}-header-only.{ext}", good[:header_end], "refused", "header without pixels")
        add(f"{stem}-half.{ext}", good[:len(good) // 2], "any", "cut in the middle")
        add(f"{stem}-last-byte-missing.{ext}", good[:-1], "any", "last byte missing")
        for seed in range(3):
            add(f"{stem}-flipped-{seed}.{ext}", flipped(good, seed, start=header_end // 2),
                "any", f"8 random bytes replaced (seed {seed})")
        add(f"{stem}-garbage-after-magic.{ext}",
            good[:4] + bytes(random.Random(7).randrange(256) for _ in range(4096)),
            "any", "valid signature, then noise")

    good_png = png()
    damaged("png", "png", good_png, 33)
    add("png-bad-crc.png", good_png[:29] + b"\0\0\0\0" + good_png[33:], "any",
        "header chunk with a wrong checksum")
    add("png-bomb-100000x100000.png", png(width=100000, height=100000), "bomb",
        "header claims 100000 x 100000")
    add("png-16385x1.png", png(rows=[(pattern()[0] * 16385)[:16385]]), "decoded:16385x1",
        "one row wider than 16384: within the limits, whatever its shape")
    add("png-bomb-zlib.png",
        png(width=16000, height=16000, idat=zlib.compress(b"\0" * (4 * 16000 + 1) * 64, 9)),
        "refused", "16000 x 16000 claimed, a few rows of data")
    add("png-zero-size.png", png(width=0, height=0), "refused", "0 x 0 header")

    good_bmp = bmp()
    damaged("bmp", "bmp", good_bmp, 54)
    add("bmp-32.bmp", bmp(bits=32), size, "intact 32-bit bitmap")
    add("bmp-bomb-100000x100000.bmp", bmp(bits=32, width=100000, height=100000), "bomb",
        "header claims 100000 x 100000, 1.5 KiB of pixels")
    add("bmp-bomb-top-down.bmp", bmp(bits=32, width=100000, height=-100000), "bomb",
        "top-down, claims 100000 x 100000")
    add("bmp-height-int-min.bmp", bmp(height=-2**31), "bomb", "height -2^31")
    add("bmp-width-negative.bmp", bmp(width=-24), "refused", "negative width")
    add("bmp-width-int-max.bmp", bmp(width=2**31 - 1, height=1), "bomb", "width 2^31 - 1")
    add("bmp-offset-past-end.bmp", bmp(offset=0xFFFFFFF0), size,
        "pixels said to start 4 GiB in: read from behind the header")
    add("bmp-header-size-huge.bmp", bmp(header_size=0xFFFFFFFF), "refused",
        "header size 4 GiB")
    add("bmp-header-size-tiny.bmp", bmp(header_size=4), "refused", "header size 4")
    add("bmp-zero-bits.bmp", bmp(bits=0), "refused", "0 bits per pixel")
    add("bmp-64-bits.bmp", bmp(bits=64), "any", "64 bits per pixel")
    add("bmp-colours-used-huge.bmp", bmp(bits=8, colours_used=0xFFFFFFFF,
                                         pixel_data=b"\0" * (WIDTH * HEIGHT)), "any",
        "8-bit, 4 billion palette entries claimed")
    add("bmp-bitfields-no-masks.bmp", bmp(bits=32, compression=3), "any",
        "bit fields without their masks")
    add("bmp-rle8-bomb.bmp", bmp(bits=8, compression=1, width=100000, height=100000,
                                 pixel_data=b"\0\1"), "bomb",
        "run-length, claims 100000 x 100000")
    add("bmp-image-size-huge.bmp", bmp(image_size=0xFFFFFFFF), "any", "image size 4 GiB")

    good_gif = gif()
    damaged("gif", "gif", good_gif, 13 + 12)
    add("gif-bomb-65535x65535.gif", gif(screen=(65535, 65535), frame=(65535, 65535)), "bomb",
        "screen and frame of 65535 x 65535")
    add("gif-frame-outside-screen.gif", gif(frame=(65535, 65535)), "any",
        "frame far larger than its screen")

    good_tiff = tiff()
    damaged("tiff", "tiff", good_tiff, 8 + 2 + 12 * 9 + 4)
    add("tiff-bomb-100000x100000.tif", tiff(width=100000, height=100000), "bomb",
        "tags claim 100000 x 100000")
    add("tiff-short-name.tif", good_tiff, size, "intact, .tif name")

    good_ico = ico(png())
    damaged("ico", "ico", good_ico, 22)
    add("ico-bitmap.ico", ico(ico_bitmap()), size, "icon holding a 32-bit bitmap")
    add("ico-png-bomb.ico", ico(png(width=100000, height=100000)), "bomb",
        "icon whose PNG claims 100000 x 100000")
    add("ico-entry-past-end.ico", ico(png(), offset=0x7FFFFFF0), "refused",
        "image said to start 2 GiB in")
    add("ico-entry-size-huge.ico", ico(png(), size=0xFFFFFFFF), "any",
        "image size 4 GiB claimed")

    good_jpeg = jpeg(work)
    if good_jpeg:
        sof = good_jpeg.find(b"\xff\xc0")
        damaged("jpeg", "jpg", good_jpeg, sof + 19 if sof > 0 else 200)
        add("jpeg-bomb-65535x65535.jpeg", jpeg_with_size(good_jpeg, 65535, 65535), "bomb",
            "frame header claims 65535 x 65535")
        add("jpeg-zero-width.jpg", jpeg_with_size(good_jpeg, 0, HEIGHT), "refused",
            "frame header with width 0")
    else:
        print("make_corpus: no Pillow and no convert: JPEG files left out", file=sys.stderr)

    good_jxr = jpeg_xr(work)
    if good_jxr:
        damaged("jxr", "hdp", good_jxr, 32)
        add("jxr-bomb-100000x100000.hdp", jxr_with_size(good_jxr, 100000, 100000), "any",
            "container tags claim 100000 x 100000")
    else:
        print("make_corpus: no JxrEncApp: JPEG XR files left out", file=sys.stderr)

    # Names that lie about the content: the content decides.
    add("lie-png-as.jpg", good_png, size, "PNG named .jpg")
    add("lie-png-as.ICO", good_png, size, "PNG named .ICO")
    add("lie-bmp-as.gif", good_bmp, size, "bitmap named .gif")
    add("lie-gif-as.tiff", good_gif, size, "GIF named .tiff")
    add("lie-tiff-as.png", good_tiff, size, "TIFF named .png")
    if good_jpeg:
        add("lie-jpeg-as.bmp", good_jpeg, size, "JPEG named .bmp")
    if good_jxr:
        add("lie-jxr-as.png", good_jxr, size, "JPEG XR named .png")
    add("lie-text-as.png", b"just some text, no picture\n" * 10, "refused", "text named .png")
    add("lie-html-as.jpeg", b"<html><img src=x></html>", "refused", "HTML named .jpeg")
    add("lie-zeros-as.tif", b"\0" * 4096, "refused", "4 KiB of zeros named .tif")
    add("lie-bm-prefix.png", b"BM" + b"\xff" * 60, "refused",
        "'BM' and noise named .png")
    add("lie-jxr-magic.bmp", b"II\xbc\x01" + b"\xff" * 60, "refused",
        "JPEG XR signature and noise named .bmp")
    return cases


# The file names of fuzz_imagefile.cpp and the MIME types of fuzz_clipboard.cpp, in their order.
FUZZ_NAMES = (".bmp", ".jpg", ".jpeg", ".png", ".gif", ".tif", ".tiff", ".ico", ".hdp")
FUZZ_TYPES = {".png": 2, ".bmp": 3, ".jpg": 6, ".jpeg": 6, ".gif": 7, ".tif": 8, ".tiff": 8,
              ".ico": 9, ".hdp": 15}


def write_seeds(kind, out):
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        cases = build(Path(tmp))
    for name, data, _, _ in cases:
        ext = Path(name).suffix.lower()
        if kind == "imagefile":
            seed = bytes((FUZZ_NAMES.index(ext),)) + data
        else:
            data = data[:0xFFFF]
            seed = bytes((FUZZ_TYPES[ext],)) + struct.pack("<H", len(data)) + data
        (out / name).write_bytes(seed)
    return len(cases)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--fuzz-seeds":
        count = write_seeds(sys.argv[2], Path(sys.argv[3]))
        print(f"make_corpus: {count} {sys.argv[2]} seeds in {sys.argv[3]}")
        return 0
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        cases = build(Path(tmp))
    with open(out / "manifest.tsv", "w", encoding="utf-8") as manifest:
        for name, data, outcome, what in cases:
            (out / name).write_bytes(data)
            manifest.write(f"{name}\t{outcome}\t{what}\n")
    print(f"make_corpus: {len(cases)} files in {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
