#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

class QOperatingSystemVersion;

namespace platform {

// How a panel is drawn: a filled rectangle with a one-unit outline.
struct PanelLook {
    QColor fill;
    QColor stroke;
};

// The look every panel gets when no style names it: the desktop's standard light panel.
PanelLook standardPanelLook();

// Picks the entry of a window's style sheet: first one whose platform name equals the operating
// system's name (ignoring case), then one whose platform name equals the title of the platform's
// own style, else the first entry. Returns -1 only for an empty sheet.
int chooseStyleEntry(const QStringList &entryPlatforms, const QString &osName,
                     const QString &platformStyleTitle);

// The operating system's name as style sheets name it ("Windows", "Linux", "macOS", ...).
QString osName(const QOperatingSystemVersion &os);
// The title of the platform's own style: "Windows 11 Desktop" from build 22000 on,
// "Windows 10 Desktop" on Windows 10, and "<os> Desktop" elsewhere.
QString platformStyleTitle(const QOperatingSystemVersion &os);

} // namespace platform
