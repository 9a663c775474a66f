#include "platform/BlockedClose.h"

#include "platform/x11/XcbAtoms.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Picks the window manager's WM_DELETE_WINDOW for the window out of the connection's events
// while a modal window is open, and hands it to the window as a close.
class CloseWatch final : public QAbstractNativeEventFilter {
public:
    CloseWatch(QWidget *window, xcb_atom_t protocols, xcb_atom_t deleteWindow)
        : m_window(window)
        , m_protocols(protocols)
        , m_deleteWindow(deleteWindow) {}

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
        if (eventType != "xcb_generic_event_t" || !m_window || !QGuiApplication::modalWindow())
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto *client = static_cast<const xcb_client_message_event_t *>(message);
        if (client->format != 32 || client->type != m_protocols ||
            client->data.data32[0] != m_deleteWindow ||
            client->window != xcb_window_t(m_window->internalWinId()))
            return false;
        QMetaObject::invokeMethod(
            m_window, [window = m_window] { window->close(); }, Qt::QueuedConnection);
        return true;
    }

private:
    QPointer<QWidget> m_window;
    xcb_atom_t m_protocols;
    xcb_atom_t m_deleteWindow;
};

} // namespace

void passCloseWhileBlocked(QWidget *window) {
    xcb_connection_t *connection = qtConnection();
    if (!connection)
        return;
    auto *watch = new CloseWatch(window, internAtom(connection, "WM_PROTOCOLS"),
                                 internAtom(connection, "WM_DELETE_WINDOW"));
    qGuiApp->installNativeEventFilter(watch);
    QObject::connect(window, &QObject::destroyed, qGuiApp, [watch] {
        qGuiApp->removeNativeEventFilter(watch);
        delete watch;
    });
}

} // namespace platform
