#pragma once

#include "platform/Clipboard.h"

namespace platform {

// The Windows clipboard, read through Win32: CF_UNICODETEXT, else the raw CF_DIB bytes decoded
// by our own decoder (Qt's reading drops the fourth byte of 32-bit bitmaps).
class ClipboardWin final : public Clipboard {
public:
    ClipboardValue read() override;
};

} // namespace platform
