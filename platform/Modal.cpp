#include "platform/Modal.h"

#include <QCoreApplication>

#include <utility>
#include <vector>

namespace platform {
namespace {

int openCount = 0;
std::vector<std::function<void()>> waiting;

} // namespace

ModalScope::ModalScope() {
    ++openCount;
}

ModalScope::~ModalScope() {
    if (--openCount > 0 || waiting.empty())
        return;
    // Queued, not run here: the handler that opened the box goes on to its end first. By then
    // another box may have opened, so the action asks again.
    for (auto &action : std::exchange(waiting, {}))
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [action = std::move(action)]() mutable { whenNoModal(std::move(action)); },
            Qt::QueuedConnection);
}

bool modalOpen() {
    return openCount > 0;
}

void whenNoModal(std::function<void()> action) {
    if (modalOpen())
        waiting.push_back(std::move(action));
    else
        action();
}

} // namespace platform
