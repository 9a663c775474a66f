#pragma once

#include <memory>

namespace platform {

class KeyState;
class Clipboard;
class Dialogs;

// The services the windows ask the desktop for. Each may be absent (null): callers check.
// The real ones are installed at start-up; tests install fakes.
namespace services {

KeyState *keyState();
Clipboard *clipboard();
Dialogs *dialogs();

void setKeyState(std::unique_ptr<KeyState> service);
void setClipboard(std::unique_ptr<Clipboard> service);
// The dialog service's boxes count as open modal boxes (platform/Modal.h) while they are shown.
void setDialogs(std::unique_ptr<Dialogs> service);

// Picks the window system before the application object exists: on Linux, X11 where it is
// available, since only X11 lets the note keep itself on top, place itself and read the keys.
void chooseWindowSystem();
// Installs this operating system's services, and hands the picture code its size limits, its
// large-page advice and the decoders of JPEG XR and TIFF files; call once the application object
// exists.
void installDefaults();
// Removes every service.
void clear();

} // namespace services
} // namespace platform
