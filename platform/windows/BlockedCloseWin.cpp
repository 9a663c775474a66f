#include "platform/BlockedClose.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <windows.h>

namespace platform {
namespace {

// Picks WM_CLOSE to the window out of its messages while a modal window is open, and hands it
// to the window as a close.
class CloseWatch final : public QAbstractNativeEventFilter {
public:
    explicit CloseWatch(QWidget *window)
        : m_window(window) {}

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override {
        if (eventType != "windows_generic_MSG" || !m_window || !QGuiApplication::modalWindow())
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != WM_CLOSE || msg->hwnd != HWND(m_window->internalWinId()))
            return false;
        QMetaObject::invokeMethod(
            m_window, [window = m_window] { window->close(); }, Qt::QueuedConnection);
        if (result) // null for a message taken from the queue
            *result = 0;
        return true;
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

void passCloseWhileBlocked(QWidget *window) {
    if (!qGuiApp)
        return;
    auto *watch = new CloseWatch(window);
    qGuiApp->installNativeEventFilter(watch);
    QObject::connect(window, &QObject::destroyed, qGuiApp, [watch] {
        qGuiApp->removeNativeEventFilter(watch);
        delete watch;
    });
}

} // namespace platform
