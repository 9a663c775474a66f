#include "sticky/ImageControl.h"

#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "platform/Dialogs.h"
#include "platform/Failure.h"
#include "platform/JxrDecoder.h"
#include "platform/Memory.h"
#include "platform/Modal.h"
#include "platform/Services.h"

#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionFrame>
#include <QThreadPool>
#include <QWindow>

#include <algorithm>

namespace {

TShiftState shiftState(const QMouseEvent *event) {
    TShiftState s;
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods & Qt::ShiftModifier)
        s |= ssShift;
    if (mods & Qt::AltModifier)
        s |= ssAlt;
    if (mods & Qt::ControlModifier)
        s |= ssCtrl;
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

} // namespace

QRectF fitPictureRect(const QSizeF &picture, const QRectF &box) {
    if (picture.isEmpty() || box.isEmpty())
        return {};
    const qreal scale = std::min(box.width() / picture.width(), box.height() / picture.height());
    const QSizeF size = picture * scale;
    return QRectF(box.x() + (box.width() - size.width()) / 2,
                  box.y() + (box.height() - size.height()) / 2, size.width(), size.height());
}

QRect devicePictureRect(const QRectF &target, const QPointF &offset, qreal dpr) {
    const QRectF inWindow = target.translated(offset);
    const int left = qRound(inWindow.left() * dpr);
    const int top = qRound(inWindow.top() * dpr);
    const int right = qRound(inWindow.right() * dpr);
    const int bottom = qRound(inWindow.bottom() * dpr);
    return QRect(left, top, right - left, bottom - top);
}

QPoint popupMenuPosition(const QPoint &pointer, const QSize &menu, const QRect &workArea) {
    int x = std::min(pointer.x(), workArea.x() + workArea.width() - menu.width());
    int y = std::min(pointer.y(), workArea.y() + workArea.height() - menu.height());
    return QPoint(std::max(x, workArea.x()), std::max(y, workArea.y()));
}

QString droppableImageFile(const QMimeData *mime) {
    if (!mime || !mime->hasUrls())
        return {};
    const QList<QUrl> urls = mime->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return {};
    const QString path = urls.first().toLocalFile();
    const QFileInfo info(path);
    if (!info.isFile() || !platform::hasImageFileExtension(info.fileName()))
        return {};
    return path;
}

ImageControl::ImageControl(QWidget *parent)
    : QWidget(parent) {
    if (parent)
        parent->installEventFilter(this);
}

ImageControl::~ImageControl() = default;

void ImageControl::setPicture(const QImage &image) {
    supersedeDrops();
    m_picture = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32);
    pictureChanged();
}

void ImageControl::fillPicture(QRgb color) {
    supersedeDrops();
    if (m_picture.isNull())
        return;
    m_picture.fill(color);
    pictureChanged();
}

void ImageControl::pictureChanged() {
    m_cache.setPicture(m_picture);
    // Memory freed with the old picture goes back to the system once the new one is on screen,
    // so that replacing a large picture by a small one brings the note back to its idle size:
    // by then the caller has also freed what it decoded the picture from, and the new frame has
    // not waited for it.
    if (isVisible())
        update();
    else if (m_cache.takeReleasePending())
        releaseFreedMemoryLater();
}

void ImageControl::releaseFreedMemoryLater() {
    QMetaObject::invokeMethod(
        this, [] { platform::releaseFreedMemory(); }, Qt::QueuedConnection);
}

void ImageControl::setMargins(float m) {
    m_margin = m;
    fillParent();
}

void ImageControl::setPosition(float x, float y) {
    move(qRound(x), qRound(y));
}

void ImageControl::fillParent() {
    const QWidget *parent = parentWidget();
    if (!parent)
        return;
    const qreal m = m_margin;
    setGeometry(QRectF(m, m, parent->width() - 2 * m, parent->height() - 2 * m).toRect());
}

QRectF ImageControl::pictureRect() const {
    const QRectF box =
        QRectF(rect()).adjusted(kPictureInset, kPictureInset, -kPictureInset, -kPictureInset);
    return fitPictureRect(m_picture.size(), box);
}

bool ImageControl::event(QEvent *event) {
    if (event->type() == QEvent::Show) {
        QWindow *window = this->window()->windowHandle();
        if (window && window != m_window) {
            if (m_window)
                m_window->removeEventFilter(this);
            m_window = window;
            window->installEventFilter(this);
        }
    }
    return QWidget::event(event);
}

bool ImageControl::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        fillParent();
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            m_windowGlobal = static_cast<QMouseEvent *>(event)->globalPosition();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Widgets get mouse positions rounded to whole units (QApplication copies the event with
// integer positions); the window still had the exact ones, which matter at fractional display
// scales.
QPointF ImageControl::exactGlobal(const QMouseEvent *event) const {
    const QPointF rounded = event->globalPosition();
    if (qAbs(m_windowGlobal.x() - rounded.x()) <= 0.5 &&
        qAbs(m_windowGlobal.y() - rounded.y()) <= 0.5)
        return m_windowGlobal;
    return rounded;
}

void ImageControl::paintEvent(QPaintEvent *) {
    if (m_cache.takeReleasePending())
        releaseFreedMemoryLater(); // runs after this frame has been drawn and shown
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.frameShape = QFrame::StyledPanel;
    frame.lineWidth = 1;
    frame.state |= QStyle::State_Sunken;
    painter.fillRect(rect(), palette().window());
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);

    const QRectF target = pictureRect();
    if (target.isEmpty() || m_cache.isEmpty())
        return;
    // Snap the picture to whole device pixels of the window and draw a copy of exactly that
    // size, so it is drawn 1:1 and stays sharp at any display scale.
    const qreal dpr = devicePixelRatioF();
    const QPointF offset = mapTo(window(), QPointF(0, 0));
    const QRect device = devicePictureRect(target, offset, dpr);
    if (device.isEmpty())
        return;
    painter.drawImage(QRectF(device.x() / dpr - offset.x(), device.y() / dpr - offset.y(),
                             device.width() / dpr, device.height() / dpr),
                      m_cache.scaled(device.size()));
}

void ImageControl::acceptDrag(QDropEvent *event) {
    if (droppableImageFile(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    // Offered as a link: the dragged file stays where it is.
    event->setDropAction(event->possibleActions() & Qt::LinkAction ? Qt::LinkAction
                                                                   : Qt::CopyAction);
    event->accept();
}

void ImageControl::dragEnterEvent(QDragEnterEvent *event) {
    acceptDrag(event);
}

void ImageControl::dragMoveEvent(QDragMoveEvent *event) {
    acceptDrag(event);
}

void ImageControl::dropEvent(QDropEvent *event) {
    // A failure must not cross Qt's frames back to the drag and drop machinery.
    platform::guarded([&] {
        const QString path = droppableImageFile(event->mimeData());
        if (path.isEmpty()) {
            event->ignore();
            return;
        }
        acceptDrag(event);
        decodeDroppedFile(path);
    });
}

void ImageControl::supersedeDrops() {
    ++m_pictureGeneration;
}

// The drop is answered at once: the drag source and the note go on while the file is decoded
// on a thread of the pool, and the picture, or the error box, follows. The user's last action
// wins: a later drop, paste or clear makes the outcome void, its error box included.
void ImageControl::decodeDroppedFile(const QString &path) {
    const quint64 generation = ++m_pictureGeneration;
    const QPointer<ImageControl> self(this);
    QThreadPool::globalInstance()->start([self, path, generation] {
        QImage image;
        QString problem; // why the file gave no picture, when more is known than that
        try {
            image = platform::decodeImageFile(path);
        } catch (const platform::ImageTooLarge &tooLarge) {
            problem = QStringLiteral("画像が大きすぎるため読み込めませんでした (%1 × %2 ピクセル)")
                          .arg(tooLarge.width())
                          .arg(tooLarge.height());
        } catch (const platform::DecoderProgramUnavailable &unavailable) {
            problem = unavailable.why() == platform::DecoderProgramUnavailable::Why::Missing
                          ? QStringLiteral("この形式を読み込む補助プログラム %1 が見つかりません")
                          : QStringLiteral("この形式を読み込む補助プログラム %1 を起動できません");
            problem = problem.arg(unavailable.program());
        } catch (...) {
            // Out of memory, say: nothing may leave the pool's thread, and the file cannot be
            // shown, as one that does not decode.
        }
        // The application object outlives the pool's work: it waits for it when it ends.
        QMetaObject::invokeMethod(
            qApp,
            [self, path, generation, image = std::move(image), problem] {
                if (self)
                    self->droppedFileDecoded(generation, path, image, problem);
            },
            Qt::QueuedConnection);
    });
}

void ImageControl::droppedFileDecoded(quint64 generation, const QString &path, const QImage &image,
                                      const QString &problem) {
    platform::guarded([&] {
        if (generation != m_pictureGeneration)
            return; // a later drop, paste or clear replaces this one
        if (image.isNull()) {
            // The picture stays as it was; say which file could not be read, and why when the
            // file itself is not to blame.
            const QString why = problem.isEmpty()
                                    ? QStringLiteral("このファイルは画像として読み込めませんでした")
                                    : problem;
            if (platform::Dialogs *dialogs = platform::services::dialogs())
                dialogs->messageDlg(QStringLiteral("Stiqlet 画像ファイル読み込みエラー\r\n%1\r\n%2")
                                        .arg(QDir::toNativeSeparators(path), why),
                                    platform::MsgDlgType::Error, platform::mbOK, platform::mbOK, 0);
            return;
        }
        setPicture(image);
        emit pictureDropped();
    });
}

void ImageControl::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::RightButton) {
        // The menu takes the pointer; the release that would end a window drag goes to it.
        m_drag.end();
        openPopupMenu(exactGlobal(event));
        return;
    }
    const QPointF local = event->position();
    emit mouseDown(event->button(), shiftState(event), float(local.x()), float(local.y()),
                   exactGlobal(event));
}

void ImageControl::openPopupMenu(const QPointF &global) {
    if (!m_popupMenu)
        return;
    const QPoint pointer = global.toPoint();
    const QScreen *screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = this->screen();
    // Qt would open the menu above the pointer near the bottom edge; place it ourselves.
    const QPoint at =
        screen ? popupMenuPosition(pointer, m_popupMenu->sizeHint(), screen->availableGeometry())
               : pointer;
    {
        const platform::ModalScope open;
        m_popupMenu->exec(at);
    }
    // The menu held the pointer: a leave while it was open never reached the image area.
    const QWidget *top = window();
    if (!QRect(top->pos(), top->size()).contains(QCursor::pos()))
        emit mouseLeave();
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() == Qt::RightButton) {
        mousePressEvent(event);
        return;
    }
    // The second press of a double-click is first an ordinary press, marked as double.
    const QPointF local = event->position();
    emit mouseDown(event->button(), shiftState(event) | ssDouble, float(local.x()),
                   float(local.y()), exactGlobal(event));
    if (event->button() == Qt::LeftButton)
        emit dblClick();
}

void ImageControl::mouseMoveEvent(QMouseEvent *event) {
    if (m_drag.follow(exactGlobal(event)))
        return;
    const QPointF local = event->position();
    emit mouseMove(shiftState(event), float(local.x()), float(local.y()), exactGlobal(event));
}

void ImageControl::mouseReleaseEvent(QMouseEvent *event) {
    m_drag.end();
    const QPointF local = event->position();
    emit mouseUp(event->button(), shiftState(event), float(local.x()), float(local.y()),
                 exactGlobal(event));
}

void ImageControl::enterEvent(QEnterEvent *) {
    emit mouseEnter();
}

void ImageControl::leaveEvent(QEvent *) {
    emit mouseLeave();
}
