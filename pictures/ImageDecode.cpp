#include "pictures/ImageDecode.h"

#include "pictures/DibDecoder.h"
#include "pictures/ImageBuffer.h"
#include "pictures/ImageLimits.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <atomic>

namespace platform {
namespace {

// A PNG file's signature, the length and type of its first chunk (IHDR), then the width and the
// height, four bytes each, big-endian.
constexpr qint64 kPngSizeEnd = 24;

// Files larger than this cannot hold a picture within the limits in any format we read.
constexpr qint64 kMaxFileBytes = qint64(2) * 1024 * 1024 * 1024;

void setReason(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
}

QImage toPicture(QImage image) {
    // Converted in place where the pixel size stays the same (32-bit RGB from an opaque PNG):
    // no second full-size copy of a large picture.
    if (image.format() != QImage::Format_ARGB32)
        image = std::move(image).convertToFormat(QImage::Format_ARGB32);
    return image;
}

// Read by the decoding threads.
std::atomic<FileDecoder> jxrDecoder{nullptr};
std::atomic<FileDecoder> tiffDecoder{nullptr};

// Whether an image format plugin reads TIFF; the Windows build has none.
bool qtReadsTiff() {
    static const bool reads = QImageReader::supportedImageFormats().contains("tiff");
    return reads;
}

} // namespace

void setFileDecoders(FileDecoder jxr, FileDecoder tiff) {
    jxrDecoder.store(jxr);
    tiffDecoder.store(tiff);
}

void allowLargeImages() {
    // Four bytes a pixel for the largest picture, plus room for a reader's working copy.
    const qint64 megabytes = kMaxImagePixels * 4 / (1024 * 1024);
    QImageReader::setAllocationLimit(int(megabytes + 64));
}

QImage decodeImageData(const QByteArray &data, const QByteArray &formatHint, QString *whyNot) {
    if (data.isEmpty()) {
        setReason(whyNot, QStringLiteral("no data"));
        return {};
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return decodeImageDevice(&buffer, formatHint, whyNot);
}

QImage decodeImageDevice(QIODevice *device, const QByteArray &formatHint, QString *whyNot) {
    const QByteArray start = device->peek(kPngSizeEnd);
    if (start.isEmpty()) {
        setReason(whyNot, QStringLiteral("no data"));
        return {};
    }
    // PNG, the usual case, goes straight to the built-in reader; anything else is recognised by
    // its content, whatever the hint says, which loads every image plugin to ask them.
    const bool png = start.startsWith(QByteArrayLiteral("\x89PNG\r\n\x1a\n"));
    // Its size is read here, not by libpng, which refuses some sizes within the limits and
    // beyond them alike, without saying which.
    if (png && start.size() == kPngSizeEnd && start.mid(12, 4) == "IHDR")
        checkImageLimits(qFromBigEndian<quint32>(start.constData() + 16),
                         qFromBigEndian<quint32>(start.constData() + 20));
    QImageReader reader(device, png ? QByteArray("png") : formatHint);
    if (png)
        reader.setAutoDetectImageFormat(false);
    else
        reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    // Readers that cannot tell the size in advance are still bounded by the allocation limit.
    if (size.isValid())
        checkImageLimits(size.width(), size.height());
    // A PNG is decoded into a buffer of our own, which the reader fills row by row: large
    // pictures then come as large pages. Other readers get the image they allocate themselves.
    QImage image;
    const QImage::Format format = png ? reader.imageFormat() : QImage::Format_Invalid;
    if (size.isValid() && format != QImage::Format_Invalid)
        image = newImageBuffer(size, format);
    if (!reader.read(&image))
        image = QImage();
    if (image.isNull()) {
        setReason(whyNot, reader.errorString());
        return {};
    }
    checkImageLimits(image.width(), image.height());
    return toPicture(std::move(image));
}

bool hasImageFileExtension(const QString &fileName) {
    static const QStringList extensions{
        QStringLiteral(".bmp"),  QStringLiteral(".jpg"), QStringLiteral(".jpeg"),
        QStringLiteral(".png"),  QStringLiteral(".gif"), QStringLiteral(".tif"),
        QStringLiteral(".tiff"), QStringLiteral(".ico"), QStringLiteral(".hdp")};
    for (const QString &ext : extensions)
        if (fileName.endsWith(ext, Qt::CaseInsensitive))
            return true;
    return false;
}

QImage decodeImageFile(const QString &path, QString *whyNot) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setReason(whyNot, file.errorString());
        return {};
    }
    if (file.size() > kMaxFileBytes) {
        setReason(whyNot, QStringLiteral("file is too large"));
        return {};
    }
    const QByteArray data = file.readAll();
    file.close();
    if (data.isEmpty()) {
        setReason(whyNot, QStringLiteral("file is empty"));
        return {};
    }
    // Bitmaps our own decoder reads go through it, which keeps the alpha of 32-bit pixels; the
    // rest of the format (run-length compression, OS/2 headers) through Qt's reader. JPEG XR
    // through its own library; TIFF through the system's decoder where Qt has no reader for it.
    // Everything else, whatever its name says, by its content.
    if (isPlainBmpFile(data.constData(), data.size()))
        return decodeBmpFile(data.constData(), data.size(), whyNot);
    if (data.startsWith("BM"))
        return decodeImageData(data, "bmp", whyNot);
    if (path.endsWith(QStringLiteral(".hdp"), Qt::CaseInsensitive) || data.startsWith("II\xBC")) {
        if (const FileDecoder jxr = jxrDecoder.load())
            return jxr(data, whyNot);
        setReason(whyNot, QStringLiteral("JPEG XR is not supported in this build"));
        return {};
    }
    if (isTiffData(data) && !qtReadsTiff()) {
        if (const FileDecoder tiff = tiffDecoder.load())
            return tiff(data, whyNot);
        setReason(whyNot, QStringLiteral("no TIFF decoder is installed"));
        return {};
    }
    return decodeImageData(data, QFileInfo(path).suffix().toLatin1().toLower(), whyNot);
}

} // namespace platform
