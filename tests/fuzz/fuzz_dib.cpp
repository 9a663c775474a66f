// libFuzzer target: any bytes, as a packed bitmap and as a .bmp file. The decoder must refuse
// or decode without reading outside the buffer, and say why exactly when it refuses (or throw
// for a picture too large).
#include "pictures/DibDecoder.h"
#include "pictures/ImageLimits.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const QImage &image, const QString &whyNot)
{
    if (image.isNull() == whyNot.isEmpty())
        std::abort();
    if (!image.isNull() && (image.format() != QImage::Format_ARGB32 ||
                            !platform::fitsImageLimits(image.width(), image.height())))
        std::abort();
}

// A header claiming a picture beyond the limits is refused by an exception instead.
template <typename Decode> void checkDecode(Decode decode, const char *bytes, qsizetype length)
{
    QString whyNot;
    try {
        check(decode(bytes, length, &whyNot), whyNot);
    } catch (const platform::ImageTooLarge &tooLarge) {
        if (platform::fitsImageLimits(tooLarge.width(), tooLarge.height()))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    checkDecode(platform::decodeDib, bytes, length);
    checkDecode(platform::decodeBmpFile, bytes, length);
    return 0;
}
