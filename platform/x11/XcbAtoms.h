#pragma once

#include <xcb/xcb.h>

namespace platform {

// The atom of `name` on `connection`; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t internAtom(xcb_connection_t *connection, const char *name);

// Qt's own connection to the X server; null on another platform (offscreen, Wayland).
xcb_connection_t *qtConnection();

} // namespace platform
