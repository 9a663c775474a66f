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
// image, with the reason in *whyNot when given, if it cannot. Throws ImageTooLarge when the
// header claims a picture beyond the limits. Never reads outside the buffer.
QImage decodeDib(const char *data, qsizetype size, QString *whyNot = nullptr);

// Decodes a .bmp file (a 14-byte file header in front of a bitmap) the same way.
QImage decodeBmpFile(const char *data, qsizetype size, QString *whyNot = nullptr);

// Whether decodeBmpFile() reads this file's kind of bitmap: a Windows header, its pixels
// uncompressed or stored with bit fields. Others (run-length compression, OS/2 headers) are
// refused by it, however well-formed.
bool isPlainBmpFile(const char *data, qsizetype size);

} // namespace platform
