#pragma once

#include "platform/KeyState.h"

#include <array>
#include <cstdint>

struct xcb_connection_t;

namespace platform {

// The X11 keyboard state, read from the server with one request a reading, so keys pressed
// while another application has the focus are seen. Reads nothing without an X11 connection.
class KeyStateX11 final : public KeyState {
public:
    // connection may be null (no X11): every key then reads as up.
    explicit KeyStateX11(xcb_connection_t *connection);
    ~KeyStateX11() override;

    void update() override;
    bool isDown(int virtualKey) const override;

    // Forgets the keycodes; they are looked up again before the next reading.
    void keyboardMappingChanged() { m_mappingValid = false; }

private:
    void rebuildMapping();
    bool keycodeDown(std::uint8_t keycode) const;

    xcb_connection_t *m_connection;
    std::array<std::uint8_t, 32> m_keys{};        // one bit a keycode, as the server reports
    std::array<std::uint8_t, 26> m_letters{};     // keycode of A..Z
    std::array<std::uint8_t, 4> m_controls{};     // Control_L, Control_R
    std::array<std::uint8_t, 8> m_alts{};         // Alt_L/R, Meta_L/R
    bool m_mappingValid = false;
    class MappingWatch;
    MappingWatch *m_watch = nullptr;
};

} // namespace platform
