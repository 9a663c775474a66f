// libFuzzer target: the decoding of a dropped file. The first input byte picks the file's name
// among the endings the note accepts (in mixed case, so the name may lie about the content);
// the rest is the file, written out and read back through decodeImageFile as a drop does.
// Bitmaps go to our own decoder, everything else to Qt's readers and plugins, with the size
// limits of the program. JPEG XR files are refused here, no decoder being installed: the program
// decodes them in a child process, and the library itself is fuzzed in-process by fuzz_jxr.
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const kNames[] = {"a.bmp", "a.JPG",  "a.jpeg", "a.png", "a.Gif",
                              "a.tif", "a.TIFF", "a.ico",  "a.hdp"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

QTemporaryDir *g_dir = nullptr;

void check(const QImage &image, const QString &whyNot) {
    if (image.isNull() == whyNot.isEmpty())
        std::abort();
    if (!image.isNull() && (image.format() != QImage::Format_ARGB32 ||
                            !platform::fitsImageLimits(image.width(), image.height())))
        std::abort();
}

// A picture beyond the limits is refused by an exception instead.
template <typename Decode> void checkDecode(Decode decode) {
    QString whyNot;
    try {
        check(decode(&whyNot), whyNot);
    } catch (const platform::ImageTooLarge &tooLarge) {
        if (platform::fitsImageLimits(tooLarge.width(), tooLarge.height()))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    platform::allowLargeImages();
    static QTemporaryDir dir;
    if (!dir.isValid())
        std::abort();
    g_dir = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const QString name = QString::fromLatin1(kNames[data[0] % kNameCount]);
    const QByteArray content(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString path = g_dir->filePath(name);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(content);
    }
    if (!platform::hasImageFileExtension(name))
        std::abort();
    checkDecode([&](QString *whyNot) { return platform::decodeImageFile(path, whyNot); });
    // The same bytes as clipboard data with the name's format as the hint.
    const QByteArray hint = name.mid(2).toLatin1().toLower();
    checkDecode([&](QString *whyNot) { return platform::decodeImageData(content, hint, whyNot); });
    return 0;
}
