#include "app/FirstFrame.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// Watches the window for its first exposure. The exposure is painted and flushed while the event
// is handled, so the work queued from here runs once the frame is on screen.
class FirstFrameWatch final : public QObject {
public:
    FirstFrameWatch(QWindow *window, std::function<void()> then, int fallbackMs)
        : QObject(window)
        , m_then(std::move(then)) {
        window->installEventFilter(this);
        QTimer::singleShot(fallbackMs, this, &FirstFrameWatch::fire);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed())
            QMetaObject::invokeMethod(this, &FirstFrameWatch::fire, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }

private:
    void fire() {
        if (!m_then)
            return;
        const std::function<void()> then = std::move(m_then);
        m_then = nullptr;
        deleteLater();
        then();
    }

    std::function<void()> m_then;
};

} // namespace

void afterFirstFrame(QWidget *window, std::function<void()> then, int fallbackMs) {
    QWindow *handle = window ? window->windowHandle() : nullptr;
    if (!handle) {
        QTimer::singleShot(0, std::move(then));
        return;
    }
    new FirstFrameWatch(handle, std::move(then), fallbackMs);
}
