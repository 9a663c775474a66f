#include "about/ImageViewer.h"

#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace {

// One notch of a standard mouse wheel, in eighths of a degree.
constexpr double kNotchAngle = 120.0;

} // namespace

ImageViewer::ImageViewer(QWidget *parent)
    : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void ImageViewer::setPicture(const QPixmap &picture) {
    m_picture = picture;
    update();
}

void ImageViewer::setScale(double scale) {
    const double bounded = std::clamp(scale, kMinScale, kMaxScale);
    if (bounded == m_scale)
        return;
    m_scale = bounded;
    update();
}

void ImageViewer::zoomBy(double notches) {
    setScale(m_scale + notches * kZoomStep);
}

QRectF ImageViewer::pictureRect() const {
    const QSizeF natural = m_picture.deviceIndependentSize();
    const QSizeF drawn = natural * m_scale;
    const QPointF centre = QRectF(contentsRect()).center();
    return QRectF(centre - QPointF(drawn.width() / 2, drawn.height() / 2), drawn);
}

QSize ImageViewer::sizeHint() const {
    const int frame = 2 * frameWidth();
    return m_picture.deviceIndependentSize().toSize() + QSize(frame, frame);
}

void ImageViewer::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    const QRectF target = pictureRect();
    if (m_scale != 1.0)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(target, m_picture, QRectF(m_picture.rect()));
}

void ImageViewer::wheelEvent(QWheelEvent *event) {
    const int angle = event->angleDelta().y();
    if (angle == 0) {
        event->ignore();
        return;
    }
    // High-resolution wheels send fractions of a notch; they zoom by the same fraction.
    zoomBy(angle / kNotchAngle);
    event->accept();
}
