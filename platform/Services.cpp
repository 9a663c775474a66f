#include "platform/Services.h"

#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/KeyState.h"

namespace platform::services {
namespace {

struct Registry {
    std::unique_ptr<KeyState> keyState;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<Dialogs> dialogs;
};

Registry &registry() {
    static Registry r;
    return r;
}

} // namespace

KeyState *keyState() {
    return registry().keyState.get();
}
Clipboard *clipboard() {
    return registry().clipboard.get();
}
Dialogs *dialogs() {
    return registry().dialogs.get();
}

void setKeyState(std::unique_ptr<KeyState> service) {
    registry().keyState = std::move(service);
}
void setClipboard(std::unique_ptr<Clipboard> service) {
    registry().clipboard = std::move(service);
}
void setDialogs(std::unique_ptr<Dialogs> service) {
    registry().dialogs = std::move(service);
}

void clear() {
    registry() = Registry{};
}

} // namespace platform::services
