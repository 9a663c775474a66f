#include "platform/x11/KeyStateX11.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr xcb_keysym_t XK_Control_L = 0xffe3;
constexpr xcb_keysym_t XK_Control_R = 0xffe4;
constexpr xcb_keysym_t XK_Meta_L = 0xffe7;
constexpr xcb_keysym_t XK_Meta_R = 0xffe8;
constexpr xcb_keysym_t XK_Alt_L = 0xffe9;
constexpr xcb_keysym_t XK_Alt_R = 0xffea;

// Keycodes of A..Z on a US keyboard under the usual evdev driver, for layouts without Latin
// letters: the hotkey then answers to the key where the letter sits on a US keyboard.
// Likewise for Ctrl and Alt when the mapping names neither.
constexpr std::array<std::uint8_t, 26> kUsLetterKeycodes{
    38, 56, 54, 40, 26, 41, 42, 43, 31, 44, 45, 46, 58, // A..M
    57, 32, 33, 24, 27, 39, 28, 30, 55, 25, 53, 29, 52, // N..Z
};
constexpr std::array<std::uint8_t, 2> kUsControlKeycodes{37, 105};
constexpr std::array<std::uint8_t, 2> kUsAltKeycodes{64, 108};

template <std::size_t N> void addKeycode(std::array<std::uint8_t, N> &codes, std::uint8_t code)
{
    for (auto &c : codes) {
        if (c == code)
            return;
        if (c == 0) {
            c = code;
            return;
        }
    }
}

} // namespace

// Watches the X connection for keyboard mapping changes (a new layout, a remapped key).
class KeyStateX11::MappingWatch final : public QAbstractNativeEventFilter {
public:
    MappingWatch(KeyStateX11 *owner, std::uint8_t xkbFirstEvent)
        : m_owner(owner)
        , m_xkbFirstEvent(xkbFirstEvent)
    {
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const std::uint8_t type = event->response_type & 0x7f;
        // XKB reports a new keymap as its own event (sub-type 0 new keyboard, 1 map change).
        if (type == XCB_MAPPING_NOTIFY ||
            (m_xkbFirstEvent && type == m_xkbFirstEvent && event->pad0 <= 1))
            m_owner->keyboardMappingChanged();
        return false;
    }

private:
    KeyStateX11 *m_owner;
    std::uint8_t m_xkbFirstEvent;
};

KeyStateX11::KeyStateX11(xcb_connection_t *connection)
    : m_connection(connection)
{
    if (!m_connection)
        return;
    std::uint8_t xkbFirstEvent = 0;
    const char name[] = "XKEYBOARD";
    xcb_query_extension_reply_t *xkb = xcb_query_extension_reply(
        m_connection, xcb_query_extension(m_connection, sizeof(name) - 1, name), nullptr);
    if (xkb) {
        if (xkb->present)
            xkbFirstEvent = xkb->first_event;
        std::free(xkb);
    }
    m_watch = new MappingWatch(this, xkbFirstEvent);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(m_watch);
}

KeyStateX11::~KeyStateX11()
{
    if (m_watch && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(m_watch);
    delete m_watch;
}

void KeyStateX11::rebuildMapping()
{
    m_mappingValid = true;
    m_letters = {};
    m_controls = {};
    m_alts = {};
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const std::uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, first, std::uint8_t(count)),
        nullptr);
    if (reply) {
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply);
        const int perCode = reply->keysyms_per_keycode;
        const int total = xcb_get_keyboard_mapping_keysyms_length(reply);
        for (int i = 0; i < total; ++i) {
            const xcb_keysym_t sym = syms[i];
            const auto code = std::uint8_t(first + i / std::max(perCode, 1));
            // Only the first two levels count: the key's own letter, plain or shifted.
            if (i % perCode >= 2)
                continue;
            if (sym >= 'a' && sym <= 'z' && !m_letters[sym - 'a'])
                m_letters[sym - 'a'] = code;
            else if (sym >= 'A' && sym <= 'Z' && !m_letters[sym - 'A'])
                m_letters[sym - 'A'] = code;
            else if (sym == XK_Control_L || sym == XK_Control_R)
                addKeycode(m_controls, code);
            else if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R)
                addKeycode(m_alts, code);
        }
        std::free(reply);
    }
    for (std::size_t i = 0; i < m_letters.size(); ++i)
        if (!m_letters[i])
            m_letters[i] = kUsLetterKeycodes[i];
    if (!m_controls[0])
        std::copy(kUsControlKeycodes.begin(), kUsControlKeycodes.end(), m_controls.begin());
    if (!m_alts[0])
        std::copy(kUsAltKeycodes.begin(), kUsAltKeycodes.end(), m_alts.begin());
}

void KeyStateX11::update()
{
    m_keys.fill(0);
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    if (!m_mappingValid)
        rebuildMapping();
    xcb_query_keymap_reply_t *reply =
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!reply)
        return;
    std::memcpy(m_keys.data(), reply->keys, m_keys.size());
    std::free(reply);
}

bool KeyStateX11::keycodeDown(std::uint8_t keycode) const
{
    return keycode != 0 && (m_keys[keycode / 8] & (1u << (keycode % 8)));
}

bool KeyStateX11::isDown(int virtualKey) const
{
    auto anyDown = [this](const auto &codes) {
        return std::any_of(codes.begin(), codes.end(),
                           [this](std::uint8_t c) { return keycodeDown(c); });
    };
    if (virtualKey == VK_CONTROL)
        return anyDown(m_controls);
    if (virtualKey == VK_MENU)
        return anyDown(m_alts);
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return keycodeDown(m_letters[virtualKey - 'A']);
    return false;
}

} // namespace platform
