#include "platform/Services.h"

#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/KeyState.h"
#include "platform/Modal.h"

namespace platform::services {
namespace {

// Every box of the dialog service is modal: counted while it is open, whoever asked for it.
class CountedDialogs final : public Dialogs {
public:
    explicit CountedDialogs(std::unique_ptr<Dialogs> service)
        : m_service(std::move(service)) {}
    int messageDlg(const QString &text, MsgDlgType type, int buttons, int defaultButton,
                   int helpContext) override {
        const ModalScope open;
        return m_service->messageDlg(text, type, buttons, defaultButton, helpContext);
    }

private:
    std::unique_ptr<Dialogs> m_service;
};

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
    registry().dialogs = service ? std::make_unique<CountedDialogs>(std::move(service)) : nullptr;
}

void clear() {
    registry() = Registry{};
}

} // namespace platform::services
