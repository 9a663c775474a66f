#pragma once

#include "platform/KeyState.h"

#include <QByteArray>

#include <array>
#include <cstdint>

struct xcb_connection_t;

namespace platform {

// The 256 key bits of an X11 keymap reading, one bit a keycode.
using X11Keymap = std::array<std::uint8_t, 32>;

// Where the keys the watch asks about sit on the keyboard: the keycodes of Ctrl, Alt and the
// letters A to Z in one keyboard mapping. Pure data, so it is built and read without a server.
struct X11KeyTable {
    std::array<std::uint8_t, 26> letters{}; // keycode of A..Z, 0 for none
    std::array<std::uint8_t, 4> controls{}; // Control_L, Control_R
    std::array<std::uint8_t, 8> alts{};     // Alt_L, Alt_R, Meta_L, Meta_R

    // Builds the table from a core keyboard mapping: `keysyms` holds `perKeycode` keysyms for
    // each keycode from `firstKeycode` on, `count` in all. A letter is found in the plain or
    // shifted level of the first group, else of the second; a letter the mapping lacks (a
    // layout without Latin letters) takes the key of that letter on a US keyboard, unless that
    // key carries another letter. Ctrl and Alt fall back to the US keys likewise.
    static X11KeyTable fromMapping(std::uint8_t firstKeycode, int perKeycode,
                                   const std::uint32_t *keysyms, int count);
    // The table for a US keyboard under the evdev driver, for when no mapping can be read.
    static X11KeyTable usDefault();

    // True when `virtualKey` (VK_CONTROL, VK_MENU or an upper-case letter) is down in `keys`;
    // VK_CONTROL and VK_MENU mean either key of the pair.
    bool isDown(const X11Keymap &keys, int virtualKey) const;
};

// The X11 keyboard state, read from the server with one request a reading, so keys pressed
// while another application has the focus are seen. Reads nothing without an X11 connection.
class KeyStateX11 final : public KeyState {
public:
    // Reads through a connection of its own to `display`, opened at the first reading, so that
    // each reading wakes only the watch and not the toolkit's event thread as well. Falls back
    // to `shared` when that connection cannot be opened; with neither (no X11) every key reads
    // as up.
    KeyStateX11(QByteArray display, xcb_connection_t *shared);
    ~KeyStateX11() override;
    KeyStateX11(const KeyStateX11 &) = delete;
    KeyStateX11 &operator=(const KeyStateX11 &) = delete;

    void update() override;
    bool isDown(int virtualKey) const override;

    // Forgets the keycodes; they are looked up again before the next reading.
    void keyboardMappingChanged() { m_mappingValid = false; }

private:
    void connect();
    void watchSharedConnection();
    void rebuildMapping();

    QByteArray m_display;         // emptied once the own connection has been tried
    xcb_connection_t *m_connection = nullptr;
    xcb_connection_t *m_shared;   // the toolkit's, used when no own connection opens
    bool m_ownsConnection = false;
    X11Keymap m_keys{};
    X11KeyTable m_table;
    bool m_mappingValid = false;
    class MappingWatch;
    MappingWatch *m_watch = nullptr;
};

} // namespace platform
