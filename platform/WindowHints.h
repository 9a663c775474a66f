#pragma once

class QWidget;

namespace platform {

// Readies a tool window (a window beside the main one, with a title bar and a close box only)
// to be shown: no task-bar entry, and no minimise or maximise offered by the desktop. Call it
// every time before the window is shown: an X11 window manager forgets the window's state when
// the window is hidden. Does nothing where the window's kind already does all this (Windows).
void prepareToolWindow(QWidget *window);

// Gives every window of the program the icon artwork at each size it comes in, where desktops
// take a window's icon from the window itself (X11). Windows takes it from the program file.
void useProgramIcon();

} // namespace platform
