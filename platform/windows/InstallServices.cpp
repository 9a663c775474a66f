#include "platform/Services.h"

#include "pictures/ImageDecode.h"
#include "platform/QtDialogs.h"
#include "platform/windows/ClipboardWin.h"
#include "platform/windows/KeyStateWin.h"

namespace platform::services {

void installDefaults() {
    allowLargeImages();
    setClipboard(std::make_unique<ClipboardWin>());
    setDialogs(std::make_unique<QtDialogs>());
    setKeyState(std::make_unique<KeyStateWin>());
}

} // namespace platform::services
