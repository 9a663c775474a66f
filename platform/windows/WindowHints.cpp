#include "platform/WindowHints.h"

#include <QWidget>
#include <QWindow>

namespace platform {

namespace {

const QString kOwnerName = QStringLiteral("toolWindowOwner");

} // namespace

// Windows gives a tool window (WS_EX_TOOLWINDOW) no task-bar button and a title bar with the
// close box only. Wine's own task bar (its desktop shell) lists every visible window that has
// no owner, tool windows included: an owner that is never shown keeps the window off there too,
// and it is never minimised, which would hide the window with it. It lives as long as the
// window.
void prepareToolWindow(QWidget *window) {
    QWindow *handle = window ? window->windowHandle() : nullptr;
    if (!handle)
        return;
    auto *owner = window->findChild<QWindow *>(kOwnerName, Qt::FindDirectChildrenOnly);
    if (!owner) {
        owner = new QWindow;
        owner->setObjectName(kOwnerName);
        static_cast<QObject *>(owner)->setParent(window);
        owner->create();
    }
    // Qt makes the transient parent the window's owner as it shows the window.
    if (handle->transientParent() != owner)
        handle->setTransientParent(owner);
}

// Windows shows the program file's icon (its resource IDI_ICON1) for every window whose icon
// is not set.
void useProgramIcon() {}

} // namespace platform
