#pragma once

#include "platform/Clipboard.h"

namespace platform {

// The X11 clipboard (the CLIPBOARD selection), read through Qt.
class ClipboardX11 final : public Clipboard {
public:
    ClipboardValue read() override;
};

} // namespace platform
