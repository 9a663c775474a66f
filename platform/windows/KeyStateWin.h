#pragma once

#include "platform/KeyState.h"

namespace platform {

// The physical key state through GetAsyncKeyState, which sees keys whatever window has the
// focus (GetKeyState only follows this thread's own input queue).
class KeyStateWin final : public KeyState {
public:
    void update() override {}
    bool isDown(int virtualKey) const override;
};

} // namespace platform
