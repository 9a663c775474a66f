#include "platform/SessionEnd.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// The signals a session or a terminal sends to end a program.
constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

int pipeEnds[2] = {-1, -1};
std::function<void()> endProgram;
QPointer<QSocketNotifier> notifier;

// A signal handler may do next to nothing: it writes one byte to a pipe, which the event loop
// watches. The pipe does not block, so a flood of signals cannot hang the handler.
void onEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

void pipeReadable() {
    char bytes[64];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    if (endProgram)
        endProgram();
}

} // namespace

void watchSessionEnd(std::function<void()> end) {
    endProgram = std::move(end);
    if (notifier || !QCoreApplication::instance())
        return;
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier =
        new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, &pipeReadable);
    for (const int signal : kEndSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue; // started with nohup, say: the user asked for it to be ignored
        struct sigaction action {};
        action.sa_handler = &onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace platform
