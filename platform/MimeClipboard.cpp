#include "platform/MimeClipboard.h"

#include "pictures/DibDecoder.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"

#include <QMimeData>

namespace platform {
namespace {

ClipboardValue imageValue(QImage image) {
    ClipboardValue value;
    value.kind = ClipboardValue::Kind::Image;
    value.image = std::move(image);
    return value;
}

bool isText(const QString &format) {
    return format == QLatin1String("text/plain") || format.startsWith(QLatin1String("text/plain;"));
}

// The offered picture: PNG first, then BMP, then any other image type Qt reads.
ClipboardValue imageValueOf(const QMimeData *mime, const QStringList &formats,
                            const PngDecoder &decodePng) {
    if (formats.contains(QLatin1String("image/png")))
        return imageValue(decodePng ? decodePng()
                                    : decodeImageData(mime->data(QStringLiteral("image/png")), "png"));
    for (const QString &bmp : {QStringLiteral("image/bmp"), QStringLiteral("image/x-bmp"),
                               QStringLiteral("image/x-MS-bmp")}) {
        if (formats.contains(bmp)) {
            const QByteArray data = mime->data(bmp);
            return imageValue(decodeBmpFile(data.constData(), data.size()));
        }
    }
    for (const QString &format : formats) {
        if (format.startsWith(QLatin1String("image/")))
            return imageValue(decodeImageData(mime->data(format), format.mid(6).toLatin1()));
    }
    return {};
}

} // namespace

ClipboardValue valueFromMimeData(const QMimeData *mime, const PngDecoder &decodePng) {
    if (!mime)
        return {};
    const QStringList formats = mime->formats();
    for (const QString &format : formats) {
        if (isText(format)) {
            ClipboardValue value;
            value.kind = ClipboardValue::Kind::Text;
            value.text = mime->text(); // empty when it cannot be fetched: still text
            return value;
        }
    }
    // A picture too large is no empty clipboard: the paste fails and the picture shown stays.
    try {
        return imageValueOf(mime, formats, decodePng);
    } catch (const ImageTooLarge &tooLarge) {
        return ClipboardValue::failed(QString::fromUtf8(tooLarge.what()));
    }
}

} // namespace platform
