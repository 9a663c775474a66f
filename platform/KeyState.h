#pragma once

namespace platform {

// Virtual-key codes the hotkey watch asks about; letters use the code of their upper-case letter.
enum VirtualKey : int { VK_CONTROL = 17, VK_MENU = 18 };

// The physical keyboard state, whatever application has the focus. Reading consumes nothing.
class KeyState {
public:
    virtual ~KeyState() = default;
    // Takes one reading of the whole keyboard; isDown() answers from it until the next update().
    virtual void update() = 0;
    // True when the key was down at the last update(). VK_CONTROL and VK_MENU mean either key.
    virtual bool isDown(int virtualKey) const = 0;
};

} // namespace platform
