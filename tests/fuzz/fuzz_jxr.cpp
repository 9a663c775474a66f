// libFuzzer target: any bytes as a JPEG XR file, decoded by libjxr in this process. The program
// itself decodes in a child process, which would hide libjxr's crashes from the fuzzer; this
// target finds them, and checks that a decode that succeeds delivers what it announced.
#include "pictures/ImageLimits.h"
#include "platform/jxr/JxrLibrary.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

class CheckingSink : public platform::jxr::Sink {
public:
    bool start(const platform::jxr::Picture &picture) override {
        if (started_ || !platform::fitsImageLimits(picture.width, picture.height) ||
            picture.orientation < 0 || picture.orientation > 7)
            std::abort();
        started_ = true;
        picture_ = picture;
        return true;
    }
    bool row(const QRgb *pixels) override {
        if (!started_ || rows_ >= picture_.height)
            std::abort();
        // Reads the whole row, so that a short one shows up under the address sanitizer.
        QRgb all = 0;
        for (qint64 x = 0; x < picture_.width; ++x)
            all |= pixels[x];
        sum_ += all;
        ++rows_;
        return true;
    }
    bool complete() const { return started_ && rows_ == picture_.height; }

private:
    bool started_ = false;
    platform::jxr::Picture picture_;
    qint64 rows_ = 0;
    QRgb sum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Not copied: a read past the end of the input lands outside libFuzzer's own block.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    platform::jxr::Picture picture;
    CheckingSink sink;
    const platform::jxr::Failure failure = platform::jxr::decode(bytes, &picture, sink);
    if ((failure == platform::jxr::Failure::None) != sink.complete())
        std::abort();
    if (failure != platform::jxr::Failure::None &&
        platform::jxr::describe(failure, picture).isEmpty())
        std::abort();
    return 0;
}
