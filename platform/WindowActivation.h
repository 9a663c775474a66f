#pragma once

class QWidget;

namespace platform {

// Brings a minimised top-level window back to its normal state, in its place and stacking
// layer, without making it the active window: the application the user is typing into keeps
// the keyboard. A window that is not minimised is left as it is.
void restoreWithoutActivating(QWidget *window);

} // namespace platform
