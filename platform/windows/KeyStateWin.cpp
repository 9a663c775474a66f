#include "platform/windows/KeyStateWin.h"

#include <windows.h>

namespace platform {

bool KeyStateWin::isDown(int virtualKey) const {
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

} // namespace platform
