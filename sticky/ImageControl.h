#pragma once

#include "pictures/DrawCache.h"
#include "platform/WindowDrag.h"

#include <QFlags>
#include <QImage>
#include <QPointer>
#include <QWidget>

class QMimeData;
class QWindow;

#include <QMenu>

// Buttons and modifier keys held during a mouse event; ssDouble marks the second press of a
// double-click.
enum ShiftFlag {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};
Q_DECLARE_FLAGS(TShiftState, ShiftFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TShiftState)

// The rectangle a picture of this size takes when fitted into box: as large as fits with its
// aspect ratio kept, centred. Empty for an empty picture or box.
QRectF fitPictureRect(const QSizeF &picture, const QRectF &box);

// The window's device pixels that a picture meant for target covers, snapped to whole pixels:
// target is in the image area's own units, offset is where the area lies in its window (it may
// start between two device pixels, at -5 units and a scale of 150 %, say), dpr the device
// pixels per unit.
QRect devicePictureRect(const QRectF &target, const QPointF &offset, qreal dpr);

// Where a popup menu of this size opens for a press at pointer: its top-left corner at the
// pointer, shifted up and left as far as needed to stay inside the work area, but never past
// the work area's top or left edge.
QPoint popupMenuPosition(const QPoint &pointer, const QSize &menu, const QRect &workArea);

// The file a drag offers that the note would take: the first of a list of files, when it exists
// and its name ends in an image extension the note reads. Empty when the drag is to be refused.
QString droppableImageFile(const QMimeData *mime);

// The image area: a themed frame with the picture fitted inside it. It fills its parent with a
// margin that may be negative (then it reaches past the parent's edges), opens its popup menu on
// a right press, and reports the other mouse events as signals.
class ImageControl : public QWidget {
    Q_OBJECT
public:
    // Inner spacing of the frame plus the picture's own margin.
    static constexpr int kPictureInset = 5;

    explicit ImageControl(QWidget *parent = nullptr);
    ~ImageControl() override;

    const QImage &picture() const { return m_picture; }
    // Takes a copy of image as the picture; a null image makes the picture empty.
    void setPicture(const QImage &image);
    // Fills every pixel of the picture with one colour, keeping its size.
    void fillPicture(QRgb color);
    // Makes the outcome of every drop still decoding void: the user has done something since.
    // Setting or filling the picture does this too.
    void supersedeDrops();

    // The same margin on all four sides of the parent's rectangle.
    float margin() const { return m_margin; }
    void setMargins(float m);
    // Moves the area's top-left corner within its parent.
    void setPosition(float x, float y);

    QMenu *popupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu *menu) { m_popupMenu = menu; }

    // Moves window with the pointer until the next button release; meanwhile no moves are
    // reported, and the release is reported as usual.
    void startWindowDrag(QWidget *window, QPointF pressGlobal) {
        m_drag.start(window, pressGlobal);
    }
    bool windowDragActive() const { return m_drag.active(); }
    void endWindowDrag() { m_drag.end(); }

    // Where the picture is drawn, in the area's coordinates.
    QRectF pictureRect() const;

signals:
    void mouseDown(Qt::MouseButton button, TShiftState shift, float x, float y, QPointF global);
    void mouseMove(TShiftState shift, float x, float y, QPointF global);
    void mouseUp(Qt::MouseButton button, TShiftState shift, float x, float y, QPointF global);
    void mouseEnter();
    void mouseLeave();
    void dblClick();
    // A dropped file's picture has replaced the picture.
    void pictureDropped();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void fillParent();
    void pictureChanged();
    void acceptDrag(QDropEvent *event);
    void decodeDroppedFile(const QString &path);
    void droppedFileDecoded(quint64 generation, const QString &path, const QImage &image,
                            const QString &problem);
    QPointF exactGlobal(const QMouseEvent *event) const;
    void openPopupMenu(const QPointF &global);
    void releaseFreedMemoryLater();

    QImage m_picture; // the picture as pasted: 32-bit with alpha
    DrawCache m_cache; // what the picture is drawn from
    // Counts drops, pastes and clears: a drop decoded after any later one is void.
    quint64 m_pictureGeneration = 0;
    float m_margin = 0;
    QPointer<QMenu> m_popupMenu;
    platform::WindowDrag m_drag;
    QPointer<QWindow> m_window; // watched for the unrounded pointer position
    QPointF m_windowGlobal;
};
