#include "platform/x11/KeyStateX11.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

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

template <std::size_t N> void addKeycode(std::array<std::uint8_t, N> &codes, std::uint8_t code) {
    for (auto &c : codes) {
        if (c == code)
            return;
        if (c == 0) {
            c = code;
            return;
        }
    }
}

// The letter A..Z (0..25) a keysym stands for, either case, or -1.
int letterOf(std::uint32_t sym) {
    if (sym >= 'a' && sym <= 'z')
        return int(sym - 'a');
    if (sym >= 'A' && sym <= 'Z')
        return int(sym - 'A');
    return -1;
}

bool keycodeDown(const X11Keymap &keys, std::uint8_t keycode) {
    return keycode != 0 && (keys[keycode / 8] & (1u << (keycode % 8)));
}

} // namespace

// Watches the X connection for keyboard mapping changes (a new layout, a remapped key).
class KeyStateX11::MappingWatch final : public QAbstractNativeEventFilter {
public:
    MappingWatch(KeyStateX11 *owner, std::uint8_t xkbFirstEvent)
        : m_owner(owner)
        , m_xkbFirstEvent(xkbFirstEvent) {}

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
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

KeyStateX11::KeyStateX11(QByteArray display, xcb_connection_t *shared)
    : m_display(std::move(display))
    , m_shared(shared) {}

KeyStateX11::~KeyStateX11() {
    if (m_watch && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(m_watch);
    delete m_watch;
    if (m_ownsConnection)
        xcb_disconnect(m_connection);
}

void KeyStateX11::connect() {
    const QByteArray display = std::exchange(m_display, QByteArray());
    if (!display.isEmpty()) {
        xcb_connection_t *own = xcb_connect(display.constData(), nullptr);
        if (!xcb_connection_has_error(own)) {
            m_connection = own;
            m_ownsConnection = true;
            return;
        }
        xcb_disconnect(own);
    }
    m_connection = m_shared;
    watchSharedConnection();
}

// The toolkit reads the events of its own connection: mapping changes are picked out there.
void KeyStateX11::watchSharedConnection() {
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

X11KeyTable X11KeyTable::fromMapping(std::uint8_t firstKeycode, int perKeycode,
                                     const std::uint32_t *keysyms, int count) {
    X11KeyTable table;
    // The core mapping lists, for each keycode, the plain and shifted keysyms of the first
    // group, then those of the second group, then the further levels: only the first four
    // columns name the key's own letter. A letter of the first group wins over the second.
    const int columns = keysyms ? std::min(perKeycode, 4) : 0;
    for (int group = 0; group * 2 < columns; ++group) {
        for (int i = 0; i < count; ++i) {
            const int column = i % perKeycode;
            if (column / 2 != group)
                continue;
            const int code = firstKeycode + i / perKeycode;
            if (code > 255)
                break;
            const std::uint32_t sym = keysyms[i];
            const int letter = letterOf(sym);
            if (letter >= 0) {
                if (!table.letters[letter])
                    table.letters[letter] = std::uint8_t(code);
            } else if (sym == XK_Control_L || sym == XK_Control_R) {
                addKeycode(table.controls, std::uint8_t(code));
            } else if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) {
                addKeycode(table.alts, std::uint8_t(code));
            }
        }
    }
    // A US position that carries another letter in this layout would make that letter's key
    // answer for two letters: the missing letter then has no key.
    const std::array<std::uint8_t, 26> found = table.letters;
    for (std::size_t i = 0; i < table.letters.size(); ++i) {
        const std::uint8_t us = kUsLetterKeycodes[i];
        if (!table.letters[i] && std::find(found.begin(), found.end(), us) == found.end())
            table.letters[i] = us;
    }
    if (!table.controls[0])
        std::copy(kUsControlKeycodes.begin(), kUsControlKeycodes.end(), table.controls.begin());
    if (!table.alts[0])
        std::copy(kUsAltKeycodes.begin(), kUsAltKeycodes.end(), table.alts.begin());
    return table;
}

X11KeyTable X11KeyTable::usDefault() {
    return fromMapping(0, 0, nullptr, 0);
}

bool X11KeyTable::isDown(const X11Keymap &keys, int virtualKey) const {
    auto anyDown = [&keys](const auto &codes) {
        return std::any_of(codes.begin(), codes.end(),
                           [&keys](std::uint8_t c) { return keycodeDown(keys, c); });
    };
    if (virtualKey == VK_CONTROL)
        return anyDown(controls);
    if (virtualKey == VK_MENU)
        return anyDown(alts);
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return keycodeDown(keys, letters[std::size_t(virtualKey - 'A')]);
    return false;
}

void KeyStateX11::rebuildMapping() {
    m_mappingValid = true;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const std::uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, first, std::uint8_t(count)), nullptr);
    if (!reply) {
        m_table = X11KeyTable::usDefault();
        return;
    }
    m_table = X11KeyTable::fromMapping(first, reply->keysyms_per_keycode,
                                       xcb_get_keyboard_mapping_keysyms(reply),
                                       xcb_get_keyboard_mapping_keysyms_length(reply));
    std::free(reply);
}

void KeyStateX11::update() {
    if (!m_display.isEmpty() || (!m_connection && m_shared))
        connect();
    if (!m_connection || xcb_connection_has_error(m_connection)) {
        m_keys.fill(0);
        return;
    }
    if (!m_mappingValid)
        rebuildMapping();
    // One round trip. libxcb allocates the reply (and its own bookkeeping) itself; nothing
    // here allocates.
    xcb_query_keymap_reply_t *reply =
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!reply) {
        m_keys.fill(0);
        return;
    }
    static_assert(sizeof(reply->keys) == sizeof(X11Keymap));
    std::memcpy(m_keys.data(), reply->keys, m_keys.size());
    std::free(reply);
    if (m_ownsConnection) {
        // The only events an own connection gets unasked: the server tells every client of a
        // new keyboard mapping. Taken from what the reading brought in, without another read
        // of the socket; the keycodes are looked up again before the next reading.
        while (xcb_generic_event_t *event = xcb_poll_for_queued_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY)
                m_mappingValid = false;
            std::free(event);
        }
    }
}

bool KeyStateX11::isDown(int virtualKey) const {
    return m_table.isDown(m_keys, virtualKey);
}

} // namespace platform
