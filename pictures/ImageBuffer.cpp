#include "pictures/ImageBuffer.h"

#include <atomic>

namespace platform {
namespace {

// Below this the page faults cost little whatever their size.
constexpr qsizetype kLargeBytes = 4 * 1024 * 1024;

// Read by the decoding threads.
std::atomic<LargePageAdvice> largePageAdvice{nullptr};

} // namespace

void setLargePageAdvice(LargePageAdvice advice) {
    largePageAdvice.store(advice);
}

QImage newImageBuffer(const QSize &size, QImage::Format format) {
    QImage image(size, format);
    const LargePageAdvice advice = largePageAdvice.load();
    if (advice && image.sizeInBytes() >= kLargeBytes)
        advice(image.bits(), std::size_t(image.sizeInBytes()));
    return image;
}

} // namespace platform
