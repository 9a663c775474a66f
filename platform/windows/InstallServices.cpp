#include "platform/Services.h"

#include "platform/ImageDecode.h"
#include "platform/QtDialogs.h"
#include "platform/QtPointer.h"
#include "platform/windows/ClipboardWin.h"
#include "platform/windows/KeyStateWin.h"

namespace platform::services {

void installDefaults() {
    allowLargeImages();
    setClipboard(std::make_unique<ClipboardWin>());
    setDialogs(std::make_unique<QtDialogs>());
    setPointer(std::make_unique<QtPointer>());
    setKeyState(std::make_unique<KeyStateWin>());
}

} // namespace platform::services
