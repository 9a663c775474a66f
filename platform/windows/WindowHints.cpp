#include "platform/WindowHints.h"

namespace platform {

// A tool window (WS_EX_TOOLWINDOW) has no task-bar button on Windows, and its title bar holds
// the close box only.
void prepareToolWindow(QWidget *) {}

// Windows shows the program file's icon (its resource IDI_ICON1) for every window whose icon
// is not set.
void useProgramIcon() {}

} // namespace platform
