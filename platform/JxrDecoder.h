#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform {

// Decodes a JPEG XR image held in memory to straight-alpha ARGB32; null, with a reason in
// *whyNot, when it cannot.
QImage decodeJxr(const QByteArray &data, QString *whyNot = nullptr);
// Whether this build can decode JPEG XR at all.
bool jxrSupported();
// Makes the decodes still running, and any started later, give up at once: the program is
// ending and must not wait for a slow file.
void stopDecoding();

} // namespace platform
