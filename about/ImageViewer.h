#pragma once

#include <QFrame>
#include <QPixmap>

// The icon viewer: a framed box that shows its picture at its natural size, centred, without
// scroll bars. The mouse wheel zooms the picture about the box's centre.
class ImageViewer : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QPixmap picture READ picture WRITE setPicture)
public:
    // Each wheel notch adds or removes this share of the natural size.
    static constexpr double kZoomStep = 0.04;
    static constexpr double kMinScale = 0.01;
    static constexpr double kMaxScale = 10.0;

    explicit ImageViewer(QWidget *parent = nullptr);

    QPixmap picture() const { return m_picture; }
    void setPicture(const QPixmap &picture);

    // Drawn size over natural size; 1 at the start.
    double scale() const { return m_scale; }
    // Sets the scale, kept within kMinScale to kMaxScale.
    void setScale(double scale);
    // Changes the scale by a number of wheel notches (negative to shrink), within the bounds.
    void zoomBy(double notches);

    // Where the picture is drawn at the current scale, in widget coordinates.
    QRectF pictureRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    QPixmap m_picture;
    double m_scale = 1.0;
};
