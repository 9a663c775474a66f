#include "sticky/MonochromeEffect.h"

#include <QPainter>
#include <QPixmap>

#include <cstring>

namespace {
// BT.709 luma weights in 16-bit fixed point; they sum to exactly 65536.
constexpr quint32 kWeightR = 13933;
constexpr quint32 kWeightG = 46871;
constexpr quint32 kWeightB = 65536 - kWeightR - kWeightG;
// Comparing is several times cheaper than converting again.
bool samePixels(const QImage &a, const QImage &b) {
    if (a.size() != b.size() || a.format() != b.format() || a.isNull())
        return false;
    const auto rowBytes = size_t(a.width()) * size_t(a.depth() / 8);
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

} // namespace

QRgb greyPixel(QRgb pixel) {
    const quint32 level =
        (kWeightR * qRed(pixel) + kWeightG * qGreen(pixel) + kWeightB * qBlue(pixel) + 32768) >> 16;
    return qRgba(int(level), int(level), int(level), qAlpha(pixel));
}

QImage greyImage(const QImage &image) {
    QImage grey = image.format() == QImage::Format_ARGB32_Premultiplied ||
                          image.format() == QImage::Format_ARGB32 ||
                          image.format() == QImage::Format_RGB32
                      ? image.copy()
                      : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < grey.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x)
            line[x] = greyPixel(line[x]);
    }
    return grey;
}

MonochromeEffect::MonochromeEffect(QObject *parent)
    : QGraphicsEffect(parent) {}

void MonochromeEffect::draw(QPainter *painter) {
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, NoPad);
    if (source.isNull())
        return;
    QImage drawing = source.toImage();
    if (!samePixels(drawing, m_source)) {
        m_grey = greyImage(drawing);
        m_source = std::move(drawing);
    }
    const QTransform restore = painter->worldTransform();
    painter->setWorldTransform(QTransform());
    painter->drawImage(offset, m_grey);
    painter->setWorldTransform(restore);
}
