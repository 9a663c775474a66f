#pragma once

#include <QGraphicsEffect>
#include <QImage>

// Grey level of one colour with the BT.709 luma weights, alpha kept. Works on straight and on
// premultiplied pixels alike, since the weights sum to one.
QRgb greyPixel(QRgb pixel);
// A greyscale copy of image (every pixel through greyPixel).
QImage greyImage(const QImage &image);

// Draws the widget it is set on, with all its children, in grey. The grey copy is kept until
// the widget's drawing changes, so switching the effect on and off again costs one blit.
class MonochromeEffect : public QGraphicsEffect {
    Q_OBJECT
public:
    explicit MonochromeEffect(QObject *parent = nullptr);

protected:
    void draw(QPainter *painter) override;
    void sourceChanged(ChangeFlags flags) override;

private:
    QImage m_grey;
    qint64 m_greyOf = 0; // cacheKey of the pixmap m_grey was made from
};
