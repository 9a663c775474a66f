#pragma once

#include "platform/Clipboard.h"

#include <functional>

class QMimeData;

namespace platform {

// Turns the offered PNG content into a picture, for readers that can do better than fetching
// all of it and then decoding it.
using PngDecoder = std::function<QImage()>;

// What clipboard content offered as MIME types means to the note: Unicode text wins; otherwise
// an image, preferring PNG, then BMP, then any other image type Qt reads; otherwise empty.
// `decodePng`, when given, replaces fetching and decoding the PNG content.
ClipboardValue valueFromMimeData(const QMimeData *mime, const PngDecoder &decodePng = {});

} // namespace platform
