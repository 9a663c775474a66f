#include "platform/WindowActivation.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include <windows.h>

namespace platform {
namespace {

// Under Wine an X window manager maps the restored window and offers it the focus
// (WM_TAKE_FOCUS); Wine asks the window whether it wants it with a WM_MOUSEACTIVATE for a click
// on a part that a frameless window does not have, and gives the focus all the same to the
// window that had it last unless that window cannot be activated just then. So the first such
// offer after a restore is refused outright: the window answers it MA_NOACTIVATE and takes no
// activation until the offer has been dealt with. Real clicks (on the client area) are never
// refused, and on Windows itself no offer comes: there the filter does nothing.
class FocusOfferRefusal final : public QAbstractNativeEventFilter {
public:
    static FocusOfferRefusal &instance() {
        static FocusOfferRefusal *refusal = [] {
            auto *created = new FocusOfferRefusal;
            QCoreApplication::instance()->installNativeEventFilter(created);
            return created;
        }();
        return *refusal;
    }

    void arm(HWND window) { m_window = window; }

    bool nativeEventFilter(const QByteArray &, void *message, qintptr *result) override {
        const auto *msg = static_cast<const MSG *>(message);
        if (!m_window || msg->hwnd != m_window)
            return false;
        if (msg->message == WM_SIZE && msg->wParam == SIZE_MINIMIZED) {
            m_window = nullptr;
            return false;
        }
        if (msg->message != WM_MOUSEACTIVATE)
            return false;
        const HWND window = m_window;
        m_window = nullptr;
        if (LOWORD(msg->lParam) == HTCLIENT)
            return false;
        SetWindowLongPtrW(window, GWL_EXSTYLE,
                          GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_NOACTIVATE);
        // Runs once the offer's handling has returned to the event loop.
        QTimer::singleShot(0, [window] {
            SetWindowLongPtrW(window, GWL_EXSTYLE,
                              GetWindowLongPtrW(window, GWL_EXSTYLE) & ~WS_EX_NOACTIVATE);
        });
        *result = MA_NOACTIVATE;
        return true;
    }

private:
    HWND m_window = nullptr;
};

} // namespace

void restoreWithoutActivating(QWidget *window) {
    if (!window->isMinimized())
        return;
    // Without a native window (offscreen) Qt's restore below is all there is. Otherwise the
    // system restores it without activation and it reports its new state at once, so Qt's
    // restore below finds nothing left to do and only records it.
    if (QGuiApplication::platformName() == QLatin1String("windows")) {
        const auto hwnd = reinterpret_cast<HWND>(window->winId());
        FocusOfferRefusal::instance().arm(hwnd);
        ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

} // namespace platform
