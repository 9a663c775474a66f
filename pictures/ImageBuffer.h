#pragma once

#include <QImage>

#include <cstddef>

namespace platform {

// Asks the system for the pages of a large block not yet written to come as large pages: a hint
// that changes nothing for the caller.
using LargePageAdvice = void (*)(void *data, std::size_t size);

// Installs the advice newImageBuffer() gives for large pictures (the operating system's, at
// start-up); without one, none is given. Call before any picture is decoded.
void setLargePageAdvice(LargePageAdvice advice);

// A new, uninitialised image whose pixels, when they take megabytes, are asked to come as large
// pages (see setLargePageAdvice). Null when it cannot be allocated.
QImage newImageBuffer(const QSize &size, QImage::Format format);

} // namespace platform
