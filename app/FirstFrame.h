#pragma once

#include <functional>

class QWidget;

// Runs `then` once, from the event loop, right after `window` has painted its first frame on
// screen; or after `fallbackMs` if the window is not exposed by then (a desktop that keeps it
// unmapped, say). Call after showing the window.
void afterFirstFrame(QWidget *window, std::function<void()> then, int fallbackMs = 1000);
