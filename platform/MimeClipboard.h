#pragma once

#include "platform/Clipboard.h"

class QMimeData;

namespace platform {

// What clipboard content offered as MIME types means to the note: Unicode text wins; otherwise
// an image, preferring PNG, then BMP, then any other image type Qt reads; otherwise empty.
ClipboardValue valueFromMimeData(const QMimeData *mime);

} // namespace platform
