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

} // namespace platform
