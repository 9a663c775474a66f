#pragma once

#include "platform/Clipboard.h"

namespace platform {

// The X11 clipboard (the CLIPBOARD selection). The content is fetched on a private X connection
// by a worker thread while the event loop goes on without user input, so the program's timers
// keep ticking; an owner that stalls is given up after a short while, and the read fails.
// Without an X display of its own (another Qt platform) it reads through Qt.
class ClipboardX11 final : public Clipboard {
public:
    ClipboardValue read() override;

private:
    bool reading_ = false; // a read is waiting for the owner: a nested read fails
};

} // namespace platform
