#include "platform/Services.h"

#include <QByteArray>
#include <QtGlobal>

namespace platform::services {

void chooseWindowSystem() {
    // A Wayland session usually offers X11 too (XWayland); the user's own choice stands.
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
}

} // namespace platform::services
