#include "pictures/DibDecoder.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

using namespace platform;

constexpr quint32 kInfoHeader = 40;
constexpr quint32 kV2Header = 52;
constexpr quint32 kV3Header = 56;
constexpr quint32 kV4Header = 108;
constexpr quint32 kV5Header = 124;

using Rows = QList<QList<quint32>>;

// Everything a bitmap's bytes are made of; buildDib() lays it out as on the clipboard.
struct DibParts {
    quint32 headerSize = kInfoHeader;
    qint32 width = 0;
    qint32 height = 0; // negative: top-down
    quint16 planes = 1;
    quint16 bpp = 24;
    quint32 compression = BiRgb;
    quint32 colorsUsed = 0;
    QList<quint32> masks;    // red, green, blue[, alpha]: inside the header when it has room
    QList<quint32> palette;  // colour table entries as stored, 0xXXRRGGBB
    QByteArray beforePixels; // extra bytes between the colour table and the pixels
    Rows rows;               // pixel values or palette indices, top row first
    bool padLastRow = true;
};

void put16(QByteArray &bytes, quint16 v)
{
    char le[2];
    qToLittleEndian(v, le);
    bytes.append(le, 2);
}

void put32(QByteArray &bytes, quint32 v)
{
    char le[4];
    qToLittleEndian(v, le);
    bytes.append(le, 4);
}

QByteArray packRow(const QList<quint32> &values, int bpp, bool pad)
{
    QByteArray row;
    if (bpp >= 8) {
        for (quint32 v : values)
            for (int i = 0; i < bpp / 8; ++i)
                row.append(char(v >> (8 * i)));
    } else {
        uint acc = 0;
        int used = 0;
        for (quint32 v : values) {
            acc = (acc << bpp) | v;
            used += bpp;
            if (used == 8) {
                row.append(char(acc));
                acc = 0;
                used = 0;
            }
        }
        if (used)
            row.append(char(acc << (8 - used)));
    }
    while (pad && row.size() % 4)
        row.append('\0');
    return row;
}

// Lays out a packed bitmap; *pixelStart (when given) receives where its pixels begin.
QByteArray buildDib(const DibParts &p, int *pixelStart = nullptr)
{
    QByteArray b;
    put32(b, p.headerSize);
    put32(b, quint32(p.width));
    put32(b, quint32(p.height));
    put16(b, p.planes);
    put16(b, p.bpp);
    put32(b, p.compression);
    put32(b, 0);    // image size: may be zero for uncompressed bitmaps
    put32(b, 2835); // 72 dpi
    put32(b, 2835);
    put32(b, p.colorsUsed);
    put32(b, 0); // important colours
    QList<quint32> masksAfter = p.masks;
    if (p.headerSize > kInfoHeader) {
        for (int i = 0; i < 4 && b.size() + 4 <= int(p.headerSize); ++i)
            put32(b, p.masks.value(i));
        masksAfter.clear();
        b.append(int(p.headerSize) - b.size(), '\0');
    }
    for (quint32 m : masksAfter)
        put32(b, m);
    for (quint32 c : p.palette)
        put32(b, c);
    b.append(p.beforePixels);
    if (pixelStart)
        *pixelStart = int(b.size());
    for (int i = 0; i < p.rows.size(); ++i) {
        const bool last = i == p.rows.size() - 1;
        const auto &row = p.rows[p.height < 0 ? i : p.rows.size() - 1 - i];
        b.append(packRow(row, p.bpp, p.padLastRow || !last));
    }
    return b;
}

DibParts picture(quint16 bpp, const Rows &rows, bool topDown = false)
{
    DibParts p;
    p.bpp = bpp;
    p.rows = rows;
    p.width = qint32(rows.value(0).size());
    p.height = topDown ? -qint32(rows.size()) : qint32(rows.size());
    return p;
}

// A .bmp file: the 14-byte file header (with the given pixel offset) in front of the bitmap.
QByteArray bmpFile(const QByteArray &dib, quint32 pixelOffset)
{
    QByteArray file("BM");
    put32(file, quint32(14 + dib.size()));
    put32(file, 0);
    put32(file, pixelOffset);
    return file + dib;
}

QByteArray withField(QByteArray bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
    return bytes;
}

QImage imageOf(const QList<QList<QRgb>> &rows)
{
    QImage image(int(rows[0].size()), int(rows.size()), QImage::Format_ARGB32);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < rows[y].size(); ++x)
            image.setPixel(x, y, rows[y][x]);
    return image;
}

// One pixel format: what is stored and what must come out, for a small picture.
struct FormatCase {
    const char *name;
    quint16 bpp;
    quint32 compression;
    QList<quint32> masks;
    QList<quint32> palette;
    quint32 colorsUsed;
    Rows stored;
    QList<QList<QRgb>> expected;
};

QList<quint32> greyRamp()
{
    QList<quint32> palette;
    for (quint32 i = 0; i < 256; ++i)
        palette << ((i % 3 ? 0u : 0x80000000u) | i << 16 | (255 - i) << 8 | i / 2);
    return palette;
}

QList<FormatCase> formatCases()
{
    const QList<quint32> xrgb{0x00FF0000, 0x0000FF00, 0x000000FF};
    const QList<quint32> argb{0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const QList<quint32> rgb565{0xF800, 0x07E0, 0x001F};
    const QList<QList<QRgb>> primaries{{0xFFFF0000, 0xFF00FF00, 0xFF0000FF},
                                       {0xFF123456, 0xFFABCDEF, 0xFF000000}};
    const Rows mixedAlpha{{0x80FF0000, 0x0000FF00, 0xFF0000FF},
                          {0x7F123456, 0x01ABCDEF, 0xFFFFFFFF}};
    const Rows zeroAlpha{{0x00FF0000, 0x0000FF00, 0x000000FF},
                         {0x00123456, 0x00ABCDEF, 0x00000000}};
    const QList<quint32> ramp = greyRamp();
    const auto rampColour = [&](int i) { return QRgb(0xFF000000 | (ramp[i] & 0xFFFFFF)); };

    return {
        {"rgb32 mixed alpha", 32, BiRgb, {}, {}, 0, mixedAlpha, mixedAlpha},
        {"rgb32 alpha all zero", 32, BiRgb, {}, {}, 0, zeroAlpha, primaries},
        {"fields32 xrgb ignores fourth byte", 32, BiBitfields, xrgb, {}, 0,
         {{0x55FF0000, 0xAA00FF00, 0x000000FF}, {0x12123456, 0xFFABCDEF, 0x80000000}}, primaries},
        {"fields32 argb mixed alpha", 32, BiBitfields, argb, {}, 0, mixedAlpha, mixedAlpha},
        {"fields32 argb alpha all zero", 32, BiBitfields, argb, {}, 0, zeroAlpha, primaries},
        {"fields32 rgba byte order", 32, BiBitfields,
         {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, {}, 0,
         {{0x800000FF, 0x0000FF00, 0xFFFF0000}, {0x7F563412, 0x01EFCDAB, 0xFFFFFFFF}}, mixedAlpha},
        {"fields32 10-10-10", 32, BiBitfields, {0x3FF00000, 0x000FFC00, 0x000003FF}, {}, 0,
         {{0x3FF00000, 0x000FFC00, 0x000003FF}, {0x200403FF, 0x3FFFFFFF, 0xC0000000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF8040FF, 0xFFFFFFFF, 0xFF000000}}},
        {"rgb24", 24, BiRgb, {}, {}, 0,
         {{0xFF0000, 0x00FF00, 0x0000FF}, {0x123456, 0xABCDEF, 0x000000}}, primaries},
        {"rgb16 555 ignores top bit", 16, BiRgb, {}, {}, 0,
         {{0x7C00, 0x03E0, 0x001F}, {0x4210, 0xFFFF, 0x8000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF848484, 0xFFFFFFFF, 0xFF000000}}},
        {"fields16 565", 16, BiBitfields, rgb565, {}, 0,
         {{0xF800, 0x07E0, 0x001F}, {0x8410, 0xFFFF, 0x0000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF848284, 0xFFFFFFFF, 0xFF000000}}},
        // 16-bit pixels are opaque: an alpha mask is ignored, the bits under it included.
        {"fields16 1555 alpha mask ignored", 16, BiBitfields, {0x7C00, 0x03E0, 0x001F, 0x8000},
         {}, 0, {{0xFC00, 0x03E0, 0x801F}, {0x4210, 0xFFFF, 0x0000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF848484, 0xFFFFFFFF, 0xFF000000}}},
        {"fields16 4444 alpha mask ignored", 16, BiBitfields, {0x0F00, 0x00F0, 0x000F, 0xF000},
         {}, 0, {{0x0F00, 0x70F0, 0xF00F}, {0x0888, 0xFFFF, 0x0000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF888888, 0xFFFFFFFF, 0xFF000000}}},
        {"fields16 565 alpha mask outside the pixel", 16, BiBitfields,
         {0xF800, 0x07E0, 0x001F, 0xFF000000}, {}, 0,
         {{0xF800, 0x07E0, 0x001F}, {0x8410, 0xFFFF, 0x0000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF848284, 0xFFFFFFFF, 0xFF000000}}},
        {"fields16 555 alpha mask past the pixel's end", 16, BiBitfields,
         {0x7C00, 0x03E0, 0x001F, 0x00018000}, {}, 0,
         {{0xFC00, 0x03E0, 0x001F}, {0x4210, 0xFFFF, 0x8000}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF848484, 0xFFFFFFFF, 0xFF000000}}},
        {"fields32 alpha mask over a colour", 32, BiBitfields,
         {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FF0000}, {}, 0, zeroAlpha, primaries},
        {"pal1", 1, BiRgb, {}, {0x00112233, 0x80AABBCC}, 0,
         {{1, 0, 0, 0, 0, 0, 0, 1, 1, 0}, {0, 1, 1, 1, 1, 1, 1, 0, 0, 1}},
         {{0xFFAABBCC, 0xFF112233, 0xFF112233, 0xFF112233, 0xFF112233, 0xFF112233, 0xFF112233,
           0xFFAABBCC, 0xFFAABBCC, 0xFF112233},
          {0xFF112233, 0xFFAABBCC, 0xFFAABBCC, 0xFFAABBCC, 0xFFAABBCC, 0xFFAABBCC, 0xFFAABBCC,
           0xFF112233, 0xFF112233, 0xFFAABBCC}}},
        {"pal4 short table, index past it", 4, BiRgb, {}, {0x00FF0000, 0x0000FF00, 0x000000FF},
         3, {{0, 1, 2}, {15, 2, 3}},
         {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, {0xFF000000, 0xFF0000FF, 0xFF000000}}},
        {"pal8 full table", 8, BiRgb, {}, ramp, 0, {{0, 128, 255}, {1, 254, 7}},
         {{rampColour(0), rampColour(128), rampColour(255)},
          {rampColour(1), rampColour(254), rampColour(7)}}},
    };
}

// A named input and what it must decode to; a null image means it must be refused.
struct Sample {
    QString name;
    QByteArray bytes;
    QImage expected;
    int pixelStart = 0;
};

QList<Sample> goodDibs()
{
    QList<Sample> samples;
    const QList<QPair<quint32, const char *>> headers{
        {kInfoHeader, "info"}, {kV3Header, "v3"}, {kV4Header, "v4"}, {kV5Header, "v5"}};
    for (const FormatCase &c : formatCases()) {
        for (const auto &header : headers) {
            for (bool topDown : {false, true}) {
                DibParts p = picture(c.bpp, c.stored, topDown);
                p.headerSize = header.first;
                p.compression = c.compression;
                p.masks = c.masks;
                p.palette = c.palette;
                p.colorsUsed = c.colorsUsed;
                // Four masks after a plain header need the alpha bit-field compression.
                if (c.compression == BiBitfields && header.first == kInfoHeader &&
                    c.masks.size() == 4)
                    p.compression = BiAlphaBitfields;
                Sample s{QStringLiteral("%1/%2/%3")
                             .arg(QLatin1String(c.name), QLatin1String(header.second),
                                  QLatin1String(topDown ? "top-down" : "bottom-up")),
                         {}, imageOf(c.expected)};
                s.bytes = buildDib(p, &s.pixelStart);
                samples << s;
            }
        }
    }

    const auto special = [&](const char *name, const DibParts &p, const QList<QList<QRgb>> &want) {
        Sample s{QLatin1String(name), {}, imageOf(want)};
        s.bytes = buildDib(p, &s.pixelStart);
        samples << s;
    };
    const QList<QList<QRgb>> want24{{0xFF010203, 0xFFFFFFFF, 0xFF000000}};
    DibParts p = picture(24, {{0x010203, 0xFFFFFF, 0x000000}});
    p.padLastRow = false;
    special("last row without padding", p, want24);
    p = picture(24, {{0x010203, 0xFFFFFF, 0x000000}});
    p.colorsUsed = 2;
    p.palette = {0x00FF00FF, 0x0000FFFF};
    special("24-bit with an optional colour table", p, want24);
    p.palette.clear();
    p.colorsUsed = 0;
    p.planes = 0;
    special("planes other than one", p, want24);

    const Rows stored565{{0xF800, 0x07E0, 0x001F}};
    const QList<QList<QRgb>> want565{{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}};
    p = picture(16, stored565);
    p.compression = BiBitfields;
    p.masks = {0xF800, 0x07E0, 0x001F};
    p.headerSize = kV2Header;
    special("v2 header with masks inside", p, want565);
    p.headerSize = kV5Header + 16;
    special("header larger than v5", p, want565);
    p.headerSize = kV5Header;
    p.beforePixels = QByteArray::fromHex("00f80000e00700001f000000");
    special("v5 masks repeated after the header", p, want565);

    p = picture(8, {{0, 255, 7}});
    p.palette = greyRamp();
    p.palette.append(QList<quint32>(44, 0x00FFFFFF));
    p.colorsUsed = quint32(p.palette.size());
    special("pal8 with more than 256 table entries", p,
            {{0xFF00FF00, 0xFFFF007F, 0xFF07F803}});
    return samples;
}

// Bitmaps that must be refused, and a word the reason must contain.
QList<QPair<Sample, QString>> badDibs()
{
    QList<QPair<Sample, QString>> bad;
    const auto add = [&](const char *name, const QByteArray &bytes, const char *reason) {
        bad.append({Sample{QLatin1String(name), bytes, {}}, QLatin1String(reason)});
    };
    const QByteArray good = buildDib(picture(24, {{1, 2, 3}, {4, 5, 6}}));
    const int kWidth = 4, kHeight = 8, kBpp = 14, kCompression = 16, kColorsUsed = 32;

    add("empty", {}, "truncated header");
    add("39 bytes", good.left(39), "truncated header");
    add("core header", withField(good, 0, 12), "header size");
    add("header size 39", withField(good, 0, 39), "header size");
    add("header size 64", withField(good, 0, 64), "header size");
    add("header size past the end", withField(good, 0, 4096), "header size");
    add("width zero", withField(good, kWidth, 0), "width");
    add("width negative", withField(good, kWidth, quint32(-3)), "width");
    add("height zero", withField(good, kHeight, 0), "height");
    add("largest size without its pixels",
        withField(withField(good, kWidth, 16384), kHeight, 16384), "truncated pixel data");
    add("bit count 0", withField(good, kBpp, 0), "bit count");
    add("bit count 2", withField(good, kBpp, 2), "bit count");
    add("bit count 64", withField(good, kBpp, 64), "bit count");
    add("rle8", withField(withField(good, kBpp, 8), kCompression, BiRle8), "run-length");
    add("rle4", withField(withField(good, kBpp, 4), kCompression, BiRle4), "run-length");
    add("jpeg", withField(withField(good, kBpp, 0), kCompression, BiJpeg), "JPEG");
    add("png", withField(withField(good, kBpp, 0), kCompression, BiPng), "PNG");
    add("cmyk", withField(good, kCompression, BiCmyk), "CMYK");
    add("cmyk rle8", withField(good, kCompression, BiCmykRle8), "CMYK");
    add("compression 99", withField(good, kCompression, 99), "unknown compression");
    add("bit fields at 24 bits", withField(good, kCompression, BiBitfields), "bit fields need");

    const auto fields = [](quint16 bpp, const QList<quint32> &masks, quint32 header = kInfoHeader) {
        DibParts p = picture(bpp, {{1, 2, 3}, {4, 5, 6}});
        p.compression = BiBitfields;
        p.masks = masks;
        p.headerSize = header;
        return buildDib(p);
    };
    add("bit fields at 8 bits", fields(8, {0xE0, 0x1C, 0x03}), "bit fields need");
    add("zero red mask", fields(16, {0, 0x07E0, 0x001F}), "zero bit-field mask");
    add("zero blue mask in v5", fields(32, {0xFF0000, 0xFF00, 0}, kV5Header),
        "zero bit-field mask");
    add("overlapping masks", fields(16, {0xF800, 0x0FE0, 0x001F}), "overlap");
    add("split mask", fields(32, {0xFF0000, 0xF00F, 0xF0}), "one run");
    add("mask wider than 16 bits", fields(16, {0x1F0000, 0x07E0, 0x001F}), "wider");
    add("masks cut short", fields(16, {0xF800, 0x07E0, 0x001F}).left(48), "bit-field masks");

    DibParts pal = picture(8, {{0, 1, 2}});
    pal.palette = {0x00FF0000, 0x0000FF00};
    pal.colorsUsed = 1000;
    add("colour table past the end", buildDib(pal), "colour table");
    add("colours used 2^32-1 at 24 bits", withField(good, kColorsUsed, 0xFFFFFFFF), "colour table");
    add("header without pixels", good.left(40), "truncated pixel data");
    const QList<QPair<quint16, Rows>> cut{{32, {{1, 2, 3}, {4, 5, 6}}},
                                          {24, {{1, 2, 3}, {4, 5, 6}}},
                                          {16, {{1, 2, 3}, {4, 5, 6}}},
                                          {8, {{1, 2, 3}, {4, 5, 6}}},
                                          {4, {{1, 2, 3}, {4, 5, 6}}},
                                          {1, {{1, 0, 1, 0, 1, 0, 1, 0, 1}}}};
    for (const auto &c : cut) {
        DibParts p = picture(c.first, c.second);
        p.padLastRow = false;
        if (c.first <= 8) {
            p.palette = {0x00FF0000, 0x000000FF};
            p.colorsUsed = 2;
        }
        const QByteArray full = buildDib(p);
        bad.append({Sample{QStringLiteral("pixels cut short at %1 bits").arg(c.first),
                           full.left(full.size() - 1), {}},
                    QStringLiteral("truncated pixel data")});
    }
    return bad;
}

// A 1-bit bitmap of width x height pixels, black with a white top row; its header claims that
// size whatever the pixels that follow, which are only there when `withPixels`.
QByteArray blackWithWhiteTop(qint32 width, qint32 height, bool withPixels = true)
{
    DibParts p = picture(1, {});
    p.width = width;
    p.height = height;
    p.palette = {0x00000000, 0x00FFFFFF};
    QByteArray dib = buildDib(p);
    if (!withPixels)
        return dib;
    const qsizetype stride = (qsizetype(width) + 31) / 32 * 4;
    const qsizetype start = dib.size();
    dib.append(QByteArray(stride * qAbs(height), '\0'));
    const qsizetype top = height < 0 ? 0 : stride * (height - 1);
    std::fill_n(dib.data() + start + top, stride, '\xFF');
    return dib;
}

// .bmp files: the file header's pixel offset is honoured when sane, else the packed layout.
QList<Sample> bmpFiles()
{
    QList<Sample> files;
    const auto add = [&](const char *name, const QByteArray &bytes, const QImage &expected) {
        files << Sample{QLatin1String(name), bytes, expected};
    };
    int start = 0;
    DibParts p = picture(24, {{0x010203, 0x040506}, {0x070809, 0x0A0B0C}});
    const QByteArray dib = buildDib(p, &start);
    const QImage want = imageOf({{0xFF010203, 0xFF040506}, {0xFF070809, 0xFF0A0B0C}});
    add("exact offset", bmpFile(dib, 14 + start), want);
    add("offset zero", bmpFile(dib, 0), want);
    add("offset inside the header", bmpFile(dib, 20), want);
    add("offset past the end", bmpFile(dib, 0xFFFFFFF0), want);
    add("offset leaving too few pixel bytes", bmpFile(dib, 14 + start + 4), want);
    p.beforePixels = QByteArray(8, '\xEE');
    const QByteArray gapped = buildDib(p, &start);
    add("gap before the pixels", bmpFile(gapped, 14 + start), want);

    DibParts pal = picture(8, {{1, 0, 1}});
    pal.palette = {0x00FF0000, 0x000000FF}; // 2 of the 256 entries promised
    const QByteArray shortTable = buildDib(pal, &start);
    add("short colour table before the offset", bmpFile(shortTable, 14 + start),
        imageOf({{0xFF0000FF, 0xFFFF0000, 0xFF0000FF}}));

    add("no signature", dib, QImage());
    add("signature only", "BM", QImage());
    add("file header cut short", bmpFile(dib, 54).left(10), QImage());
    add("run-length bitmap", bmpFile(withField(withField(dib, 14, 8), 16, BiRle8), 54), QImage());
    return files;
}

// A .bmp file as other programs write it: the file header, then `header` (any kind, its size
// first), the colour table and the pixels, the pixel offset pointing at them.
QByteArray bmpFileOf(const QByteArray &header, const QByteArray &table, const QByteArray &pixels)
{
    const QByteArray dib = header + table;
    return bmpFile(dib + pixels, quint32(14 + dib.size()));
}

// A Windows 3 bitmap header for a bottom-up picture.
QByteArray infoHeader(qint32 width, qint32 height, quint16 bpp, quint32 compression,
                      quint32 imageBytes, quint32 colours)
{
    DibParts p;
    p.width = width;
    p.height = height;
    p.bpp = bpp;
    p.compression = compression;
    p.colorsUsed = colours;
    return withField(buildDib(p), 20, imageBytes);
}

// An OS/2 1.x bitmap header: 12 bytes, sizes in 16 bits, colour table entries of 3 bytes.
QByteArray coreHeader(quint16 width, quint16 height, quint16 bpp)
{
    QByteArray b;
    put32(b, 12);
    put16(b, width);
    put16(b, height);
    put16(b, 1);
    put16(b, bpp);
    return b;
}

QByteArray table(const QList<QRgb> &colours, int entryBytes = 4)
{
    QByteArray b;
    for (QRgb c : colours) {
        b.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        if (entryBytes == 4)
            b.append('\0');
    }
    return b;
}

// Dropped .bmp files of every kind that programs write, and the picture each must give.
QList<Sample> droppedBmpFiles()
{
    const QRgb k = 0xFF000000, r = 0xFFE01010, g = 0xFF10C020, b = 0xFF2030F0, w = 0xFFFFFFFF;
    const QList<QRgb> colours{k, r, g, b};
    QList<Sample> files;
    const auto add = [&](const char *name, const QByteArray &bytes, const QImage &expected) {
        files << Sample{QLatin1String(name), bytes, expected};
    };
    // Run-length compressed, bottom row first: an encoded run, an end of line, a run of
    // literal pixels, the end of the bitmap.
    const QByteArray rle8 = QByteArray::fromHex("0401" "0000" "000400010203" "0001");
    add("RLE8", bmpFileOf(infoHeader(4, 2, 8, BiRle8, quint32(rle8.size()), 4), table(colours),
                          rle8),
        imageOf({{k, r, g, b}, {r, r, r, r}}));
    const QByteArray rle4 = QByteArray::fromHex("0412" "0000" "00040123" "0001");
    add("RLE4", bmpFileOf(infoHeader(4, 2, 4, BiRle4, quint32(rle4.size()), 4), table(colours),
                          rle4),
        imageOf({{k, r, g, b}, {r, g, r, g}}));
    // OS/2 1.x: 24-bit rows padded to four bytes; palette rows with three-byte table entries.
    add("OS/2 1.x header, 24 bits",
        bmpFileOf(coreHeader(2, 2, 24), {},
                  QByteArray::fromHex("f03020" "ffffff" "0000" "1010e0" "20c010" "0000")),
        imageOf({{r, g}, {b, w}}));
    add("OS/2 1.x header, 8-bit palette",
        bmpFileOf(coreHeader(3, 2, 8), table(colours, 3) + QByteArray(3 * 252, '\0'),
                  QByteArray::fromHex("030201" "00" "010203" "00")),
        imageOf({{r, g, b}, {b, g, r}}));
    add("8-bit palette", bmpFileOf(infoHeader(3, 2, 8, BiRgb, 0, 4), table(colours),
                                   QByteArray::fromHex("030201" "00" "010203" "00")),
        imageOf({{r, g, b}, {b, g, r}}));
    // 32-bit with alpha in a V5 header with bit fields: the alpha stays as stored.
    DibParts v5 = picture(32, {{0x80E01010, 0x0010C020}, {0xFF2030F0, 0x40FFFFFF}}, true);
    v5.headerSize = kV5Header;
    v5.compression = BiBitfields;
    v5.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    add("32 bits with alpha, V5 header", bmpFile(buildDib(v5), 0),
        imageOf({{0x80E01010, 0x0010C020}, {0xFF2030F0, 0x40FFFFFF}}));
    // A plain header says nothing of alpha; the fourth byte is kept as alpha all the same, as
    // programs that write 32-bit bitmaps mean it.
    add("32 bits with alpha, plain header",
        bmpFile(buildDib(picture(32, {{0x80E01010, 0x0010C020}, {0xFF2030F0, 0x40FFFFFF}})), 0),
        imageOf({{0x80E01010, 0x0010C020}, {0xFF2030F0, 0x40FFFFFF}}));
    return files;
}

// Decodes from a heap block of exactly the input's size, so that a sanitizer sees any read
// past its end (a QByteArray has a terminating zero after its data).
QImage decodeExact(decltype(&platform::decodeDib) decoder, const QByteArray &bytes,
                   QString *whyNot)
{
    const auto block = std::make_unique<char[]>(size_t(std::max<qsizetype>(bytes.size(), 1)));
    std::copy(bytes.cbegin(), bytes.cend(), block.get());
    return decoder(bytes.isEmpty() ? nullptr : block.get(), bytes.size(), whyNot);
}

QString firstMismatch(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1 x %2, want %3 x %4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is #%3, want #%4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
    return {};
}

// "--write-seeds DIR": every sample above as a file, the fuzzer's starting corpus.
int writeSeeds(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return 1;
    const auto write = [&](const QString &prefix, const Sample &s, const char *suffix) {
        QString name = (prefix + s.name).toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
        QFile file(QDir(dir).filePath(name + QLatin1String(suffix)));
        return file.open(QIODevice::WriteOnly) && file.write(s.bytes) == s.bytes.size();
    };
    bool ok = true;
    for (const Sample &s : goodDibs())
        ok = write(QStringLiteral("good "), s, ".dib") && ok;
    for (const auto &b : badDibs())
        ok = write(QStringLiteral("malformed "), b.first, ".dib") && ok;
    for (const Sample &s : bmpFiles())
        ok = write(QStringLiteral("bmp "), s, ".bmp") && ok;
    return ok ? 0 : 1;
}

} // namespace

class TestDibDecoder : public QObject {
    Q_OBJECT
private slots:
    void decodesDib_data();
    void decodesDib();
    void refusesDib_data();
    void refusesDib();
    void refusesNoData();
    void decodesBmpFile_data();
    void decodesBmpFile();
    void decodesAnyShape_data();
    void decodesAnyShape();
    void throwsForTooLarge_data();
    void throwsForTooLarge();
    void decodesDroppedBmpFiles_data();
    void decodesDroppedBmpFiles();

private:
    QTemporaryDir m_dir;
};

void TestDibDecoder::decodesDib_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("pixelStart");
    QTest::addColumn<QImage>("expected");
    for (const Sample &s : goodDibs())
        QTest::newRow(qPrintable(s.name)) << s.bytes << s.pixelStart << s.expected;
}

void TestDibDecoder::decodesDib()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, pixelStart);
    QFETCH(QImage, expected);

    QString why;
    const QImage image = decodeExact(platform::decodeDib, bytes, &why);
    QVERIFY2(!image.isNull(), qPrintable(why));
    QVERIFY(why.isEmpty());
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    const QString mismatch = firstMismatch(image, expected);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    // The same bitmap in a .bmp file, its pixel offset pointing at the pixels, decodes alike.
    const QImage fromFile = decodeExact(platform::decodeBmpFile,
                                        bmpFile(bytes, quint32(14 + pixelStart)), &why);
    QVERIFY2(!fromFile.isNull(), qPrintable(why));
    QCOMPARE(fromFile, image);
}

void TestDibDecoder::refusesDib_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    for (const auto &b : badDibs())
        QTest::newRow(qPrintable(b.first.name)) << b.first.bytes << b.second;
}

void TestDibDecoder::refusesDib()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    QString why;
    QVERIFY(decodeExact(platform::decodeDib, bytes, &why).isNull());
    QVERIFY2(why.contains(reason), qPrintable(why));
}

void TestDibDecoder::refusesNoData()
{
    QVERIFY(platform::decodeDib(nullptr, 0).isNull());
    QVERIFY(platform::decodeDib(nullptr, 100).isNull());
    QVERIFY(platform::decodeBmpFile(nullptr, 100).isNull());
}

void TestDibDecoder::decodesBmpFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    for (const Sample &s : bmpFiles())
        QTest::newRow(qPrintable(s.name)) << s.bytes << s.expected;
}

void TestDibDecoder::decodesBmpFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);

    QString why;
    const QImage image = decodeExact(platform::decodeBmpFile, bytes, &why);
    if (expected.isNull()) {
        QVERIFY(image.isNull());
        QVERIFY(!why.isEmpty());
        return;
    }
    QVERIFY2(!image.isNull(), qPrintable(why));
    const QString mismatch = firstMismatch(image, expected);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestDibDecoder::decodesAnyShape_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("scrolling screenshot, 1080 x 20000") << 1080 << 20000;
    QTest::newRow("long row, 20000 x 1080") << 20000 << -1080;
    QTest::newRow("one row past 16384") << 16385 << 1;
    QTest::newRow("one column past 16384") << 1 << -16385;
    QTest::newRow("40000 x 100") << 40000 << 100;
}

// Whatever its shape, a picture within the pixel limit decodes, the right way up.
void TestDibDecoder::decodesAnyShape()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const QByteArray dib = blackWithWhiteTop(width, height);
    QString why;
    const QImage image = platform::decodeDib(dib.constData(), dib.size(), &why);
    QVERIFY2(!image.isNull(), qPrintable(why));
    QCOMPARE(image.size(), QSize(width, qAbs(height)));
    QCOMPARE(image.pixel(0, 0), 0xFFFFFFFFu);
    QCOMPARE(image.pixel(width - 1, 0), 0xFFFFFFFFu);
    if (image.height() > 1)
        QCOMPARE(image.pixel(width - 1, image.height() - 1), 0xFF000000u);
}

void TestDibDecoder::throwsForTooLarge_data()
{
    QTest::addColumn<QByteArray>("dib");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    const auto claiming = [](qint64 width, qint64 height) {
        return blackWithWhiteTop(qint32(width), qint32(height), false);
    };
    QTest::newRow("20000 x 20000") << claiming(20000, 20000) << qint64(20000) << qint64(20000);
    QTest::newRow("one pixel past the limit, 16384 x 16385")
        << claiming(16384, 16385) << qint64(16384) << qint64(16385);
    QTest::newRow("top-down, most negative height")
        << claiming(1, INT_MIN) << qint64(1) << -qint64(INT_MIN);
    QTest::newRow("wider than a picture can be")
        << claiming(platform::kMaxImageWidth + 1, 1) << platform::kMaxImageWidth + 1 << qint64(1);
}

// A header claiming a picture beyond the limits is a failure of its own, not a bitmap that does
// not decode: it is thrown, before the pixels are looked at.
void TestDibDecoder::throwsForTooLarge()
{
    QFETCH(QByteArray, dib);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    for (const QByteArray &bytes : {dib, bmpFile(dib, 0)}) {
        const auto decode = bytes.startsWith("BM") ? platform::decodeBmpFile : platform::decodeDib;
        try {
            decode(bytes.constData(), bytes.size(), nullptr);
            QFAIL("no ImageTooLarge thrown");
        } catch (const platform::ImageTooLarge &tooLarge) {
            QCOMPARE(tooLarge.width(), width);
            QCOMPARE(tooLarge.height(), height);
        }
    }
}

void TestDibDecoder::decodesDroppedBmpFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    for (const Sample &s : droppedBmpFiles())
        QTest::newRow(qPrintable(s.name)) << s.bytes << s.expected;
}

// A dropped .bmp file is read whatever kind of bitmap it holds, the ones the clipboard's
// decoder refuses included.
void TestDibDecoder::decodesDroppedBmpFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("dropped.bmp"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    QString why;
    const QImage image = platform::decodeImageFile(path, &why);
    QVERIFY2(!image.isNull(), qPrintable(why));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    const QString mismatch = firstMismatch(image, expected);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--write-seeds") == 0)
        return writeSeeds(QString::fromLocal8Bit(argv[2]));
    // Qt's image readers, which read some of the dropped files, want an application object.
    QCoreApplication app(argc, argv);
    TestDibDecoder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dibdecoder.moc"
