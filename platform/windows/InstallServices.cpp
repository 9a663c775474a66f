#include "platform/Services.h"

#include "pictures/ImageBuffer.h"
#include "pictures/ImageDecode.h"
#include "platform/JxrDecoder.h"
#include "platform/Memory.h"
#include "platform/QtDialogs.h"
#include "platform/TiffDecoder.h"
#include "platform/windows/ClipboardWin.h"
#include "platform/windows/KeyStateWin.h"

namespace platform::services {

void installDefaults() {
    allowLargeImages();
    setLargePageAdvice(adviseLargePages);
    setFileDecoders(decodeJxr, decodeTiffBySystem);
    setClipboard(std::make_unique<ClipboardWin>());
    setDialogs(std::make_unique<QtDialogs>());
    setKeyState(std::make_unique<KeyStateWin>());
}

} // namespace platform::services
