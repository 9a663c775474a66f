#pragma once

#include <QImage>

namespace platform {

// A new, uninitialised image whose pixels, when they take megabytes, are asked to come as large
// pages (see adviseLargePages). Null when it cannot be allocated.
QImage newImageBuffer(const QSize &size, QImage::Format format);

} // namespace platform
