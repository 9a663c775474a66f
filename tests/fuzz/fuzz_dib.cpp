// libFuzzer target: any bytes, as a packed bitmap and as a .bmp file. The decoder must refuse
// or decode without reading outside the buffer, and say why exactly when it refuses.
#include "platform/DibDecoder.h"
#include "platform/ImageLimits.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const QImage &image, const QString &whyNot)
{
    if (image.isNull() == whyNot.isEmpty())
        std::abort();
    if (!image.isNull() && (image.format() != QImage::Format_ARGB32 ||
                            image.width() > platform::kMaxImageSide ||
                            image.height() > platform::kMaxImageSide))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    QString whyNot;
    check(platform::decodeDib(bytes, length, &whyNot), whyNot);
    check(platform::decodeBmpFile(bytes, length, &whyNot), whyNot);
    return 0;
}
