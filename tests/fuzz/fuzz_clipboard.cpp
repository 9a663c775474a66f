// libFuzzer target: clipboard contents built from the input, read the way the note reads the
// clipboard. The input is a list of offers, each one byte choosing the MIME type (from the
// types desktop programs announce, or a name taken from the input), two bytes of length and
// the data. Whatever is offered, the reader must decide without crashing, and its answer must
// be consistent: text wins, an image comes out as a non-premultiplied picture within the size
// limits, and anything else reads as empty.
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "platform/MimeClipboard.h"

#include <QGuiApplication>
#include <QMimeData>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const kFormats[] = {
    "text/plain",      "text/plain;charset=utf-8", "image/png",  "image/bmp",
    "image/x-bmp",     "image/x-MS-bmp",           "image/jpeg", "image/gif",
    "image/tiff",      "image/x-icon",             "image/webp", "image/x-tga",
    "text/html",       "application/x-qt-image",   "TARGETS",    "image/",
};
constexpr size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    size_t left() const { return size - at; }
    unsigned byte() { return at < size ? data[at++] : 0; }
    QByteArray bytes(size_t n) {
        n = std::min(n, left());
        QByteArray out(reinterpret_cast<const char *>(data + at), qsizetype(n));
        at += n;
        return out;
    }
};

bool offersText(const QStringList &formats) {
    for (const QString &f : formats)
        if (f == QLatin1String("text/plain") || f.startsWith(QLatin1String("text/plain;")))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    // The image plugins (TIFF, WebP, ...) load as they would in the program.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    platform::allowLargeImages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    QMimeData mime;
    while (in.left() >= 3) {
        const unsigned choice = in.byte();
        QString format;
        if (choice < 0xF0) {
            format = QString::fromLatin1(kFormats[choice % kFormatCount]);
        } else {
            // A made-up type: the name comes from the input.
            format = QString::fromLatin1(in.bytes(choice - 0xF0 + 1));
        }
        const size_t length = in.byte() | (in.byte() << 8);
        mime.setData(format, in.bytes(length));
    }
    const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
    using Kind = platform::ClipboardValue::Kind;
    const bool text = offersText(mime.formats());
    if (text != (value.kind == Kind::Text))
        std::abort();
    if (value.kind != Kind::Image && !value.image.isNull())
        std::abort();
    if (!value.image.isNull() &&
        (value.image.format() != QImage::Format_ARGB32 ||
         !platform::fitsImageLimits(value.image.width(), value.image.height())))
        std::abort();
    return 0;
}
