#pragma once

// TIFF pictures where Qt has no TIFF reader, as in the Windows build: the system's own decoder
// reads them, where it has one.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform {

// Decodes the first page of a TIFF file held in memory to straight-alpha ARGB32 with the system's
// decoder; null, with a reason in *whyNot, when it cannot or the system has none.
QImage decodeTiffBySystem(const QByteArray &data, QString *whyNot = nullptr);

} // namespace platform
