#include "platform/x11/ClipboardX11.h"

#include "platform/MimeClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace platform {

ClipboardValue ClipboardX11::read() {
    return valueFromMimeData(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard));
}

} // namespace platform
