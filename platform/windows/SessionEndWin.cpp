#include "platform/SessionEnd.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <cstdio>

#include <windows.h>

namespace platform {
namespace {

std::function<void()> endProgram;

// Windows asks every top-level window whether the session may end (WM_QUERYENDSESSION, which
// Qt answers yes), then tells it that it ends (WM_ENDSESSION).
class SessionEndWatch final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != WM_ENDSESSION || !msg->wParam)
            return false;
        if (endProgram)
            endProgram();
        // Windows may end the process at any moment once this message is answered, whatever
        // the event loop still had to do: the program ends here, with code 0. It keeps nothing
        // that could be lost.
        std::fflush(nullptr);
        ::TerminateProcess(::GetCurrentProcess(), 0);
        return true;
    }
};

} // namespace

void watchSessionEnd(std::function<void()> end) {
    static SessionEndWatch *watch = nullptr;
    endProgram = std::move(end);
    if (watch || !QCoreApplication::instance())
        return;
    watch = new SessionEndWatch;
    QCoreApplication::instance()->installNativeEventFilter(watch);
}

} // namespace platform
