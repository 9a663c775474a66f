#pragma once

#include <QImage>
#include <QString>

namespace platform {

// The compression field of a bitmap header.
enum DibCompression : quint32 {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiJpeg = 4,
    BiPng = 5,
    BiAlphaBitfields = 6,
    BiCmyk = 11,
    BiCmykRle8 = 12,
    BiCmykRle4 = 13,
};

// Decodes a packed device-independent bitmap (header, bit-field masks, colour table and pixels
// back to back, as on the Windows clipboard) into a non-premultiplied ARGB32 image; a null
// image, with the reason in *whyNot when given, if it cannot. Never reads outside the buffer.
QImage decodeDib(const char *data, qsizetype size, QString *whyNot = nullptr);

// Decodes a .bmp file (a 14-byte file header in front of a bitmap) the same way.
QImage decodeBmpFile(const char *data, qsizetype size, QString *whyNot = nullptr);

} // namespace platform
