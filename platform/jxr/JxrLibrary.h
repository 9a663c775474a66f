#pragma once

// JPEG XR decoding by libjxr, in the calling process. libjxr crashes on some damaged files, so
// decodeJxr() (JxrDecoder.cpp) runs this in a child process; the fuzz target calls it directly.

#include <QByteArray>
#include <QString>
#include <QtGui/qrgb.h>

namespace platform::jxr {

enum class Failure : qint32 {
    None,
    NotJxr,
    DamagedContainer,
    Truncated,
    DamagedHeader,
    UnknownFormat,
    UnsupportedFormat,
    NoPixels,
    TooLarge,
    TooLargeToDecode,
    OutOfMemory,
    DamagedData,
    Stopped, // the sink asked to stop
};

// The picture as stored, and how to show it: orientation 0 as stored, 1 flipped vertically,
// 2 flipped horizontally, 3 both; 4 to 7 the same after a quarter turn clockwise, which comes
// first.
struct Picture {
    qint64 width = 0;
    qint64 height = 0;
    qint32 orientation = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    // The picture's size and orientation, once all its pixels are decoded; false stops.
    virtual bool start(const Picture &picture) = 0;
    // The next row, top row first, as stored (before orientation): `width` non-premultiplied
    // 0xAARRGGBB values, opaque when the file has no alpha. False stops.
    virtual bool row(const QRgb *pixels) = 0;
};

// Decodes a JPEG XR file held in memory into `sink`. *picture receives what is known of the
// picture even when decoding fails, its size for a picture that is too large. Uses no Qt code
// that locks or hands work to other threads, so that it may run in a child process forked from
// the threaded program.
Failure decode(const QByteArray &data, Picture *picture, Sink &sink);

// A short English reason for a failure.
QString describe(Failure failure, const Picture &picture);

} // namespace platform::jxr
