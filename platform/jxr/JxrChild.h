#pragma once

// JPEG XR files (and on Windows TIFF files) are decoded in a child program, stiqlet-jxr, started
// afresh for each file: the decoders crash on some damaged files, and a dropped file must not end
// the note. The program hands the file to the child on its standard input (its size, 8 bytes,
// then its bytes); the child answers on its standard output with a ChildReply, then the rows or
// the reason.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform::jxr {

// What the child sends first: a failure with the reason's length, or the picture's size, after
// which its rows follow (straight-alpha ARGB32, oriented, top row first, no padding). Then the
// reason's UTF-8 bytes.
struct ChildReply {
    qint32 failed = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint32 reasonBytes = 0;
};

// The child's exit code when it crashed and could end itself.
constexpr int kChildCrashed = 3;
// The longest a child may take. An 8K picture stored losslessly takes about 5 s; a file that
// takes longer is refused rather than keep the user waiting for its picture.
constexpr int kChildTimeoutMs = 15 * 1000;
// Longest reason the child may send.
constexpr qint32 kMaxReasonBytes = 4096;
// Files larger than this cannot hold a picture within the limits.
constexpr qint64 kMaxFileBytes = qint64(2) * 1024 * 1024 * 1024;

// The child program of this installation; empty when it is not there.
QString childProgram();

// Decodes `data` in a new child process; `kind` names the format in the reasons. Null, with a
// reason in *whyNot, when the child refuses the file, crashes, or takes too long; throws
// DecoderProgramUnavailable when the child program is missing or does not start. Blocks until
// then; may be called from any thread.
QImage decodeInChild(const QByteArray &data, const QString &kind, QString *whyNot);

} // namespace platform::jxr
