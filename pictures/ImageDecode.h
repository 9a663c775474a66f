#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class QIODevice;

namespace platform {

// Lets Qt's image readers allocate any picture within the program's size limits; Qt's own
// default (128 MiB) would refuse an ordinary 8K screenshot. Call once at start-up.
void allowLargeImages();

// Decodes encoded image bytes (PNG, JPEG, GIF, TIFF, ICO, BMP, ...) with Qt's readers, refusing
// pictures beyond the size limits before they are allocated: it throws ImageTooLarge for them.
// formatHint, such as "png", may be empty. Null image, with a reason in *whyNot, when it cannot.
QImage decodeImageData(const QByteArray &data, const QByteArray &formatHint = {},
                       QString *whyNot = nullptr);

// The same, reading the encoded bytes from `device` as they come (a sequential device may block
// until more arrive).
QImage decodeImageDevice(QIODevice *device, const QByteArray &formatHint = {},
                         QString *whyNot = nullptr);

// Whether the bytes begin as a TIFF file does, in either byte order.
inline bool isTiffData(const QByteArray &data) {
    return data.startsWith(QByteArrayLiteral("II*\0")) ||
           data.startsWith(QByteArrayLiteral("MM\0*"));
}

// A decoder of an image file's bytes that runs outside Qt's readers (a program of its own, or
// the system's codec). Null, with a reason in *whyNot, when it cannot.
using FileDecoder = QImage (*)(const QByteArray &data, QString *whyNot);

// Hands decodeImageFile() the decoders of JPEG XR files and of TIFF files where Qt has no TIFF
// reader (the platform's, at start-up); without them such files are refused with a reason.
void setFileDecoders(FileDecoder jxr, FileDecoder tiff);

// The file name endings the note takes from a drop, compared without regard to case.
bool hasImageFileExtension(const QString &fileName);

// Reads and decodes an image file, choosing the decoder by its content and its extension. Throws
// ImageTooLarge for a picture beyond the limits, and what the decoders of setFileDecoders() throw
// (DecoderProgramUnavailable when the program that decodes its format cannot be run).
QImage decodeImageFile(const QString &path, QString *whyNot = nullptr);

} // namespace platform
