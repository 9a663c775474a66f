#include "pictures/DibDecoder.h"

#include "pictures/ImageLimits.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace platform {
namespace {

constexpr qint64 kFileHeaderSize = 14; // "BM", file size, two reserved words, pixel offset
constexpr qint64 kInfoHeaderSize = 40; // BITMAPINFOHEADER: the smallest header read
constexpr qint64 kV2HeaderSize = 52;   // adds the red, green and blue masks
constexpr qint64 kV3HeaderSize = 56;   // adds the alpha mask
constexpr qint64 kV4HeaderSize = 108;  // adds the colour space
constexpr qint64 kV5HeaderSize = 124;  // adds the rendering intent and the colour profile
constexpr qint64 kMaskOffset = 40;     // where the masks sit inside a V2 or later header
constexpr qint64 kMaskBytes = 12;      // red, green and blue masks, four bytes each
constexpr quint32 kMask555[3] = {0x7C00, 0x03E0, 0x001F}; // what 16 bits mean without bit fields
constexpr QRgb kOpaque = 0xFF000000;
constexpr QRgb kMissingColour = 0xFF000000; // an index past the colour table: opaque black

quint16 u16(const uchar *p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const uchar *p) {
    return qFromLittleEndian<quint32>(p);
}

bool isWindowsHeaderSize(qint64 headerSize) {
    return headerSize == kInfoHeaderSize || headerSize == kV2HeaderSize ||
           headerSize == kV3HeaderSize || headerSize == kV4HeaderSize ||
           headerSize >= kV5HeaderSize;
}

bool isPlainCompression(quint32 compression) {
    return compression == BiRgb || compression == BiBitfields || compression == BiAlphaBitfields;
}

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

QString unsupportedCompression(quint32 compression) {
    switch (compression) {
    case BiRle8:
    case BiRle4:
        return QStringLiteral("run-length compressed");
    case BiJpeg:
        return QStringLiteral("JPEG compressed");
    case BiPng:
        return QStringLiteral("PNG compressed");
    case BiCmyk:
    case BiCmykRle8:
    case BiCmykRle4:
        return QStringLiteral("CMYK");
    default:
        return QStringLiteral("unknown compression %1").arg(compression);
    }
}

bool isOneRun(quint32 mask) {
    if (mask == 0)
        return false;
    const quint32 run = mask >> qCountTrailingZeroBits(mask);
    return (run & (run + 1)) == 0;
}

// Why the red, green and blue masks cannot be used (zero, split, wider than the pixel or
// overlapping); empty when they can.
QString badColourMasks(const quint32 *masks, quint32 pixelBits) {
    static const char *const names[] = {"red", "green", "blue"};
    quint32 seen = 0;
    for (int i = 0; i < 3; ++i) {
        const quint32 m = masks[i];
        if (m == 0)
            return QStringLiteral("zero bit-field mask for %1").arg(QLatin1String(names[i]));
        if (!isOneRun(m))
            return QStringLiteral("bit-field mask 0x%1 is not one run of bits").arg(m, 0, 16);
        if (m & ~pixelBits)
            return QStringLiteral("bit-field mask 0x%1 is wider than the pixel").arg(m, 0, 16);
        if (m & seen)
            return QStringLiteral("bit-field masks overlap");
        seen |= m;
    }
    return {};
}

// One bit-field channel: its top (at most) 8 bits are shifted down and widened to 0..255
// through a table, so that 5 bits of 31 give 255, like 8 bits of 255.
struct Channel {
    quint32 mask = 0;
    int shift = 0;
    std::array<uchar, 256> to8{};
    uchar pick(quint32 pixel) const { return to8[(pixel & mask) >> shift]; }
};

// A zero mask makes a channel that always reads 255: how a missing alpha channel is read.
Channel makeChannel(quint32 mask) {
    Channel c;
    c.mask = mask;
    if (mask == 0) {
        c.to8.fill(255);
        return c;
    }
    const int bits = qPopulationCount(mask);
    const int kept = std::min(bits, 8);
    c.shift = qCountTrailingZeroBits(mask) + bits - kept;
    const int max = (1 << kept) - 1;
    for (int v = 0; v <= max; ++v)
        c.to8[v] = uchar((v * 255 + max / 2) / max);
    return c;
}

// Calls row(source, destination, width) for every stored row; bottom-up rows fill the image
// from its last line.
template <typename RowFn>
void forEachRow(QImage &image, const uchar *pixels, qint64 stride, bool topDown, RowFn &&row) {
    const int width = image.width();
    const int height = image.height();
    const qsizetype bytesPerLine = image.bytesPerLine();
    uchar *bits = image.bits();
    for (int y = 0; y < height; ++y) {
        const int line = topDown ? y : height - 1 - y;
        row(pixels + y * stride, reinterpret_cast<QRgb *>(bits + line * bytesPerLine), width);
    }
}

// Pixels stored as B, G, R, A bytes, the memory order of ARGB32: a plain copy. Returns the
// OR of all fourth bytes (shifted to the top) when alpha is kept.
quint32 decodeBgra32(QImage &image, const uchar *pixels, qint64 stride, bool topDown, bool alpha) {
    const quint32 fill = alpha ? 0 : kOpaque;
    quint32 seen = 0;
    forEachRow(image, pixels, stride, topDown, [&](const uchar *src, QRgb *dst, int width) {
        quint32 rowSeen = 0;
        for (int x = 0; x < width; ++x) {
            const quint32 v = u32(src + 4 * x);
            dst[x] = v | fill;
            rowSeen |= v;
        }
        seen |= rowSeen;
    });
    return alpha ? seen >> 24 : 0xFF;
}

void decodeBgr24(QImage &image, const uchar *pixels, qint64 stride, bool topDown) {
    forEachRow(image, pixels, stride, topDown, [](const uchar *src, QRgb *dst, int width) {
        for (int x = 0; x < width; ++x, src += 3)
            dst[x] = kOpaque | src[0] | quint32(src[1]) << 8 | quint32(src[2]) << 16;
    });
}

// Returns the OR of all alpha values read (255 when there is no alpha channel).
template <typename Pixel>
quint32 decodeFields(QImage &image, const uchar *pixels, qint64 stride, bool topDown,
                     const std::array<Channel, 4> &ch) {
    quint32 seen = 0;
    forEachRow(image, pixels, stride, topDown, [&](const uchar *src, QRgb *dst, int width) {
        for (int x = 0; x < width; ++x) {
            const quint32 v = qFromLittleEndian<Pixel>(src + sizeof(Pixel) * x);
            const uchar a = ch[3].pick(v);
            dst[x] = qRgba(ch[0].pick(v), ch[1].pick(v), ch[2].pick(v), a);
            seen |= a;
        }
    });
    return seen;
}

template <int Bits>
void decodeIndexed(QImage &image, const uchar *pixels, qint64 stride, bool topDown,
                   const std::array<QRgb, 256> &palette) {
    forEachRow(image, pixels, stride, topDown, [&](const uchar *src, QRgb *dst, int width) {
        for (int x = 0; x < width; ++x) {
            int index;
            if constexpr (Bits == 8)
                index = src[x];
            else if constexpr (Bits == 4)
                index = (src[x >> 1] >> (x & 1 ? 0 : 4)) & 0x0F;
            else
                index = (src[x >> 3] >> (7 - (x & 7))) & 1;
            dst[x] = palette[index];
        }
    });
}

void makeOpaque(QImage &image) {
    auto *p = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype count = image.sizeInBytes() / qsizetype(sizeof(QRgb));
    for (qsizetype i = 0; i < count; ++i)
        p[i] |= kOpaque;
}

// Decodes the bitmap at dib. pixelOffset is where a file header says the pixels start, counted
// from dib; it is honoured when it lies past the header and masks and the pixels fit behind
// it. Otherwise (or when -1) the pixels follow the header, masks and colour table directly.
QImage decode(const uchar *dib, qint64 size, qint64 pixelOffset, QString *whyNot) {
    if (size < kInfoHeaderSize)
        return fail(whyNot, QStringLiteral("truncated header (%1 bytes)").arg(size));
    const qint64 headerSize = u32(dib);
    if (!isWindowsHeaderSize(headerSize))
        return fail(whyNot, QStringLiteral("unsupported header size %1").arg(headerSize));
    if (headerSize > size)
        return fail(whyNot, QStringLiteral("header size %1 runs past the end of %2 bytes")
                                .arg(headerSize)
                                .arg(size));
    const qint64 width = qint32(u32(dib + 4));
    const qint64 height = qint32(u32(dib + 8));
    const int bpp = u16(dib + 14);
    const quint32 compression = u32(dib + 16);
    const qint64 colorsUsed = u32(dib + 32);

    const bool bitFields = compression == BiBitfields || compression == BiAlphaBitfields;
    if (!isPlainCompression(compression))
        return fail(whyNot, QStringLiteral("not an uncompressed or bit-field bitmap (%1)")
                                .arg(unsupportedCompression(compression)));
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return fail(whyNot, QStringLiteral("unsupported bit count %1").arg(bpp));
    if (bitFields && bpp != 16 && bpp != 32)
        return fail(whyNot,
                    QStringLiteral("bit fields need 16 or 32 bits per pixel, not %1").arg(bpp));
    if (width <= 0)
        return fail(whyNot, QStringLiteral("width %1 is not positive").arg(width));
    if (height == 0)
        return fail(whyNot, QStringLiteral("height is zero"));
    const bool topDown = height < 0;
    const qint64 rows = topDown ? -height : height;
    // Told from the header alone, before the rest is looked at: a picture too large is a
    // failure whether or not its pixels are all there.
    checkImageLimits(width, rows);

    // Masks: inside a V2 or later header, else right after the header.
    quint32 masks[4] = {kMask555[0], kMask555[1], kMask555[2], 0};
    qint64 pos = headerSize;
    if (bitFields) {
        const uchar *at = dib + kMaskOffset;
        int count = headerSize >= kV3HeaderSize ? 4 : 3;
        if (headerSize < kV2HeaderSize) {
            at = dib + pos;
            count = compression == BiAlphaBitfields ? 4 : 3;
            pos += 4 * count;
            if (pos > size)
                return fail(whyNot, QStringLiteral("truncated bit-field masks"));
        }
        for (int i = 0; i < count; ++i)
            masks[i] = u32(at + 4 * i);
    }
    const quint32 pixelBits = bpp == 32 ? 0xFFFFFFFFu : 0xFFFFu;
    if (bitFields) {
        const QString why = badColourMasks(masks, pixelBits);
        if (!why.isEmpty())
            return fail(whyNot, why);
    }
    // Alpha is optional: a mask that does not fit is ignored and the picture is opaque. Only
    // 32-bit pixels carry alpha: 16-bit ones come out opaque whatever their alpha mask says,
    // as 24-bit ones do.
    const quint32 colourBits = masks[0] | masks[1] | masks[2];
    if (bpp != 32 || !isOneRun(masks[3]) || (masks[3] & ~pixelBits) || (masks[3] & colourBits))
        masks[3] = 0;

    const qint64 stride = (width * bpp + 31) / 32 * 4;
    const qint64 needed = stride * (rows - 1) + (width * bpp + 7) / 8; // last row needs no padding
    const qint64 tableEntries = bpp <= 8 && colorsUsed == 0 ? qint64(1) << bpp : colorsUsed;
    if (pixelOffset < pos || pixelOffset > size - needed) {
        // Some writers repeat a V2+ header's masks after it: skip the copy when the pixels
        // still fit behind it.
        if (bitFields && headerSize >= kV2HeaderSize &&
            pos + kMaskBytes + tableEntries * 4 + needed <= size && u32(dib + pos) == masks[0] &&
            u32(dib + pos + 4) == masks[1] && u32(dib + pos + 8) == masks[2])
            pos += kMaskBytes;
        pixelOffset = pos + tableEntries * 4;
        if (pixelOffset > size)
            return fail(whyNot, QStringLiteral("colour table runs past the end"));
    }
    if (size - pixelOffset < needed)
        return fail(whyNot, QStringLiteral("truncated pixel data (%1 of %2 bytes)")
                                .arg(size - pixelOffset)
                                .arg(needed));

    std::array<QRgb, 256> palette;
    if (bpp <= 8) {
        // The stored reserved byte is no alpha: palette pictures are opaque.
        palette.fill(kMissingColour);
        const qint64 entries = std::min({tableEntries, qint64(1) << bpp, (pixelOffset - pos) / 4});
        for (qint64 i = 0; i < entries; ++i)
            palette[i] = kOpaque | (u32(dib + pos + 4 * i) & 0x00FFFFFF);
    }

    QImage image(int(width), int(rows), QImage::Format_ARGB32);
    if (image.isNull())
        return fail(whyNot,
                    QStringLiteral("out of memory for %1 x %2 pixels").arg(width).arg(rows));
    const uchar *pixels = dib + pixelOffset;
    const bool bgrMasks = masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0xFF;
    quint32 alphaSeen = 0xFF;
    if (bpp == 32 && (!bitFields || (bgrMasks && (masks[3] == 0 || masks[3] == kOpaque)))) {
        alphaSeen = decodeBgra32(image, pixels, stride, topDown, !bitFields || masks[3] != 0);
    } else if (bpp == 24) {
        decodeBgr24(image, pixels, stride, topDown);
    } else if (bpp >= 16) {
        const std::array<Channel, 4> channels = {makeChannel(masks[0]), makeChannel(masks[1]),
                                                 makeChannel(masks[2]), makeChannel(masks[3])};
        alphaSeen = bpp == 16 ? decodeFields<quint16>(image, pixels, stride, topDown, channels)
                              : decodeFields<quint32>(image, pixels, stride, topDown, channels);
    } else if (bpp == 8) {
        decodeIndexed<8>(image, pixels, stride, topDown, palette);
    } else if (bpp == 4) {
        decodeIndexed<4>(image, pixels, stride, topDown, palette);
    } else {
        decodeIndexed<1>(image, pixels, stride, topDown, palette);
    }
    // Most programs that do not use alpha leave it zero: taken literally, such a picture
    // would paste invisible.
    if (alphaSeen == 0)
        makeOpaque(image);
    return image;
}

} // namespace

QImage decodeDib(const char *data, qsizetype size, QString *whyNot) {
    if (whyNot)
        whyNot->clear();
    return decode(reinterpret_cast<const uchar *>(data), data ? size : 0, -1, whyNot);
}

QImage decodeBmpFile(const char *data, qsizetype size, QString *whyNot) {
    if (whyNot)
        whyNot->clear();
    if (!data || size < 2 || data[0] != 'B' || data[1] != 'M')
        return fail(whyNot, QStringLiteral("not a BMP file (no \"BM\" signature)"));
    if (size < kFileHeaderSize)
        return fail(whyNot, QStringLiteral("truncated file header"));
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    // The file header's pixel offset counts from the start of the file.
    const qint64 pixelOffset = qint64(u32(bytes + 10)) - kFileHeaderSize;
    return decode(bytes + kFileHeaderSize, size - kFileHeaderSize, pixelOffset, whyNot);
}

bool isPlainBmpFile(const char *data, qsizetype size) {
    if (!data || size < kFileHeaderSize + kInfoHeaderSize || data[0] != 'B' || data[1] != 'M')
        return false;
    const auto *dib = reinterpret_cast<const uchar *>(data) + kFileHeaderSize;
    return isWindowsHeaderSize(u32(dib)) && isPlainCompression(u32(dib + 16));
}

} // namespace platform
