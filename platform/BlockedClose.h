#pragma once

class QWidget;

namespace platform {

// Lets the desktop's close of window (its close command, the task bar's) reach the window also
// while a modal box blocks it. Qt drops such a close; the note carries it out once the box has
// been answered. Stops when window is destroyed.
void passCloseWhileBlocked(QWidget *window);

} // namespace platform
