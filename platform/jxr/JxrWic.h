#pragma once

// JPEG XR and TIFF decoding by the Windows Imaging Component, in the calling process. WIC's
// decoders may crash on damaged files, so decodeJxr() and decodeTiffBySystem()
// (JxrDecoderWin.cpp) run this in a child process, stiqlet-jxr (JxrChildMainWin.cpp), which
// sends the result back through a pipe.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform::jxr {

// Decodes a JPEG XR image held in memory to straight-alpha ARGB32, oriented as its container
// says, or the first page of a TIFF image, told apart by their first bytes; null, with a reason
// in *whyNot, when it cannot.
QImage decodeWithWic(const QByteArray &data, QString *whyNot);

} // namespace platform::jxr
