#pragma once

// JPEG XR and TIFF decoding by the Windows Imaging Component, in the calling process. WIC's
// decoders may crash on damaged files, so decodeJxr() and decodeTiffBySystem()
// (JxrDecoderWin.cpp) run this in a child process, stiqlet-jxr (JxrChildMain.cpp), which sends
// the result back through a pipe.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform::jxr {

// What the child sends first: a failure with the reason's length, or the picture's size, after
// which its rows follow (ARGB32, top row first, no padding). Then the reason's UTF-8 bytes.
struct ChildReply {
    qint32 failed = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint32 reasonBytes = 0;
};

// The file name of the child program, beside the program's own.
constexpr const char *kChildProgram = "stiqlet-jxr.exe";
// The child's exit code when it crashed.
constexpr int kChildCrashed = 3;

// Decodes a JPEG XR image held in memory to straight-alpha ARGB32, oriented as its container
// says, or the first page of a TIFF image, told apart by their first bytes; null, with a reason
// in *whyNot, when it cannot.
QImage decodeWithWic(const QByteArray &data, QString *whyNot);

} // namespace platform::jxr
