#include "sticky/MonochromeEffect.h"

#include <QPainter>
#include <QPixmap>

namespace {
// BT.709 luma weights in 16-bit fixed point; they sum to exactly 65536.
constexpr quint32 kWeightR = 13933;
constexpr quint32 kWeightG = 46871;
constexpr quint32 kWeightB = 65536 - kWeightR - kWeightG;
} // namespace

QRgb greyPixel(QRgb pixel)
{
    const quint32 level =
        (kWeightR * qRed(pixel) + kWeightG * qGreen(pixel) + kWeightB * qBlue(pixel) + 32768) >>
        16;
    return qRgba(int(level), int(level), int(level), qAlpha(pixel));
}

QImage greyImage(const QImage &image)
{
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
    : QGraphicsEffect(parent)
{
}

void MonochromeEffect::sourceChanged(ChangeFlags)
{
    m_grey = QImage();
}

void MonochromeEffect::draw(QPainter *painter)
{
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, NoPad);
    if (source.isNull())
        return;
    if (m_grey.isNull() || m_greyOf != source.cacheKey()) {
        m_grey = greyImage(source.toImage());
        m_greyOf = source.cacheKey();
    }
    const QTransform restore = painter->worldTransform();
    painter->setWorldTransform(QTransform());
    painter->drawImage(offset, m_grey);
    painter->setWorldTransform(restore);
}
