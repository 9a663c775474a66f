#include "platform/WindowHints.h"

#include "platform/x11/XcbAtoms.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace platform {

namespace {

// The icon artwork, one PNG per size.
constexpr const char *kIconFiles[] = {
    ":/art/hicolor/32/stiqlet.png",  ":/art/stiqlet-45.png",
    ":/art/hicolor/48/stiqlet.png",  ":/art/stiqlet-64.png",
    ":/art/hicolor/128/stiqlet.png", ":/art/hicolor/256/stiqlet.png",
};

} // namespace

void prepareToolWindow(QWidget *window) {
    xcb_connection_t *c = qtConnection();
    if (!c || !window)
        return;
    // Written to the unmapped window, where the window manager reads them as it maps it; Qt
    // adds its own states to the state property then and leaves the type alone.
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t state = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskBar = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t type = internAtom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t toolbar = internAtom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR");
    const xcb_atom_t utility = internAtom(c, "_NET_WM_WINDOW_TYPE_UTILITY");
    if (!state || !skipTaskBar || !type || !toolbar || !utility)
        return;

    // Qt gives a tool window the type "utility" but no state that keeps it off the task bar,
    // and task bars list utility windows.
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024),
                               nullptr),
        &std::free);
    std::vector<xcb_atom_t> states;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto *values = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
        states.assign(values, values + reply->value_len);
    }
    if (std::find(states.begin(), states.end(), skipTaskBar) == states.end()) {
        states.push_back(skipTaskBar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.data());
    }

    // Window managers offer minimise on a utility window whatever its Motif hints say (openbox
    // reads them for the title bar and the border only); a toolbar keeps its title bar and
    // close box without minimise and maximise. Utility follows for a desktop that knows no
    // toolbars.
    const xcb_atom_t types[] = {toolbar, utility};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, type, XCB_ATOM_ATOM, 32, 2, types);
    xcb_flush(c);
}

void useProgramIcon() {
    QIcon icon;
    for (const char *file : kIconFiles) {
        // Read as the PNG it is, without asking every image plugin about it first.
        QImageReader reader(QString::fromLatin1(file), "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    QGuiApplication::setWindowIcon(icon);
}

} // namespace platform
