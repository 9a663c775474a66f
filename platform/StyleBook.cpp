#include "platform/StyleBook.h"

#include <QOperatingSystemVersion>

namespace platform {
namespace {

// Windows 11 still reports version 10.0; only its build number tells it apart. A value of our
// own: Qt's QOperatingSystemVersion::Windows11 is a static member of an exported class, which
// MinGW cannot link from outside Qt6Core.dll.
constexpr QOperatingSystemVersionBase kWindows11(QOperatingSystemVersionBase::Windows, 10, 0,
                                                 22000);

} // namespace

PanelLook standardPanelLook() {
    return {QColor(0xF0, 0xF0, 0xF0), QColor(0xCC, 0xCC, 0xCC)};
}

int chooseStyleEntry(const QStringList &entryPlatforms, const QString &osName,
                     const QString &platformStyleTitle) {
    if (entryPlatforms.isEmpty())
        return -1;
    if (!osName.isEmpty()) {
        for (int i = 0; i < entryPlatforms.size(); ++i)
            if (entryPlatforms[i].compare(osName, Qt::CaseInsensitive) == 0)
                return i;
    }
    if (!platformStyleTitle.isEmpty()) {
        for (int i = 0; i < entryPlatforms.size(); ++i)
            if (entryPlatforms[i] == platformStyleTitle)
                return i;
    }
    return 0;
}

QString osName(const QOperatingSystemVersion &os) {
    if (os.type() == QOperatingSystemVersion::Unknown)
        return QStringLiteral("Linux");
    return os.name();
}

QString platformStyleTitle(const QOperatingSystemVersion &os) {
    if (os.type() == QOperatingSystemVersion::Windows) {
        const bool eleven = os >= kWindows11;
        return eleven ? QStringLiteral("Windows 11 Desktop") : QStringLiteral("Windows 10 Desktop");
    }
    return osName(os) + QStringLiteral(" Desktop");
}

} // namespace platform
