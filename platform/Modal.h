#pragma once

#include <functional>

namespace platform {

// Marks a modal box or a popup menu as open for as long as it lives. Meanwhile the handler that
// opened it waits in a nested event loop, and ending the program's loop would take the box away
// unanswered: work that must not cut it short waits for it with whenNoModal().
class ModalScope {
public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;
};

// Whether a modal box or a popup menu is open.
bool modalOpen();

// Runs action once no modal box or popup menu is open: at once when none is, otherwise from the
// event loop after the last one has closed, so that the handler that opened it ends first.
void whenNoModal(std::function<void()> action);

} // namespace platform
