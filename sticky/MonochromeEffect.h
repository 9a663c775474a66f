#pragma once

#include <QGraphicsEffect>
#include <QImage>

// Grey level of one colour with the BT.709 luma weights, alpha kept. Works on straight and on
// premultiplied pixels alike, since the weights sum to one.
QRgb greyPixel(QRgb pixel);
// A greyscale copy of image (every pixel through greyPixel).
QImage greyImage(const QImage &image);

// Draws the widget it is set on, with all its children, in grey. The grey copy is kept while
// the widget draws the same pixels, so blinking an unchanged note converts it only once.
class MonochromeEffect : public QGraphicsEffect {
    Q_OBJECT
public:
    explicit MonochromeEffect(QObject *parent = nullptr);

protected:
    void draw(QPainter *painter) override;

private:
    QImage m_source; // the widget's drawing that m_grey was made from
    QImage m_grey;
};
