#include "pictures/ImageBuffer.h"

#include "platform/Memory.h"

namespace platform {
namespace {

// Below this the page faults cost little whatever their size.
constexpr qsizetype kLargeBytes = 4 * 1024 * 1024;

} // namespace

QImage newImageBuffer(const QSize &size, QImage::Format format) {
    QImage image(size, format);
    if (image.sizeInBytes() >= kLargeBytes)
        adviseLargePages(image.bits(), std::size_t(image.sizeInBytes()));
    return image;
}

} // namespace platform
