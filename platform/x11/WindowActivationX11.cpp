#include "platform/WindowActivation.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace platform {
namespace {

// The window manager decides on the focus when it maps a minimised window again, and openbox
// gives it to the window whatever the user is doing. It gives none to a window whose hints say
// it takes no input, so the window says so from the restore until it is back on the screen,
// when the window manager has decided; from then on the desktop may activate it as usual.
class RefuseFocusUntilMapped final : public QObject {
public:
    explicit RefuseFocusUntilMapped(QWindow *window)
        : QObject(window)
        , m_window(window) {
        window->installEventFilter(this);
    }

    void arm() {
        m_armed = true;
        m_window->setFlag(Qt::WindowDoesNotAcceptFocus, true);
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (m_armed && watched == m_window && event->type() == QEvent::Expose &&
            m_window->isExposed()) {
            m_armed = false;
            m_window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        }
        return false;
    }

private:
    QWindow *m_window;
    bool m_armed = false;
};

} // namespace

void restoreWithoutActivating(QWidget *window) {
    if (!window->isMinimized())
        return;
    if (QWindow *handle = window->windowHandle()) {
        auto *refusal =
            handle->findChild<RefuseFocusUntilMapped *>(QString(), Qt::FindDirectChildrenOnly);
        if (!refusal)
            refusal = new RefuseFocusUntilMapped(handle);
        refusal->arm();
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

} // namespace platform
