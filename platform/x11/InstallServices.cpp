#include "platform/Services.h"

#include "pictures/ImageBuffer.h"
#include "pictures/ImageDecode.h"
#include "platform/JxrDecoder.h"
#include "platform/Memory.h"
#include "platform/QtDialogs.h"
#include "platform/TiffDecoder.h"
#include "platform/x11/ClipboardX11.h"
#include "platform/x11/KeyStateX11.h"

#include <QGuiApplication>

#include <cstdio>

namespace platform::services {

void installDefaults() {
    allowLargeImages();
    setLargePageAdvice(adviseLargePages);
    setFileDecoders(decodeJxr, decodeTiffBySystem);
    setClipboard(std::make_unique<ClipboardX11>());
    setDialogs(std::make_unique<QtDialogs>());

    // Only X11 lets a program read the keyboard while another one has the focus. Without it
    // (offscreen, or a Wayland session with no X11) the watch reads every key as up.
    xcb_connection_t *connection = nullptr;
    QByteArray display;
    if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        connection = x11->connection();
        display = qgetenv("DISPLAY");
    }
    if (!connection && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        std::fputs("stiqlet: global hotkeys need an X11 session; Ctrl+Alt+letter and "
                   "Ctrl+Alt+X will not work here\n",
                   stderr);
    setKeyState(std::make_unique<KeyStateX11>(display, connection));
}

} // namespace platform::services
