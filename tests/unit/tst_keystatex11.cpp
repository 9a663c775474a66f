#include "platform/x11/KeyStateX11.h"

#include <QHash>
#include <QList>
#include <QTest>

#include <algorithm>
#include <map>
#include <vector>

using platform::X11Keymap;
using platform::X11KeyTable;

namespace {

constexpr std::uint32_t NoSymbol = 0;
constexpr std::uint32_t Control_L = 0xffe3;
constexpr std::uint32_t Control_R = 0xffe4;
constexpr std::uint32_t Caps_Lock = 0xffe5;
constexpr std::uint32_t Shift_L = 0xffe1;
constexpr std::uint32_t Meta_L = 0xffe7;
constexpr std::uint32_t Meta_R = 0xffe8;
constexpr std::uint32_t Alt_L = 0xffe9;
constexpr std::uint32_t Alt_R = 0xffea;
constexpr std::uint32_t Super_L = 0xffeb;
constexpr std::uint32_t Cyrillic_first = 0x6c0;

constexpr int kFirstKeycode = 8;

// A core keyboard mapping as a server hands it out: `perKeycode` keysyms for every keycode
// from 8 on, the unnamed ones NoSymbol.
struct Mapping {
    int perKeycode = 4;
    std::map<int, std::vector<std::uint32_t>> keys;

    // One row of letter keys from `firstKeycode` on, as a single-group layout reports them:
    // plain and shifted, repeated in the second group's columns.
    Mapping &letters(int firstKeycode, const char *row) {
        for (int i = 0; row[i]; ++i) {
            const std::uint32_t lower = std::uint32_t(row[i]);
            const std::uint32_t upper = lower - 'a' + 'A';
            keys[firstKeycode + i] = {lower, upper, lower, upper};
        }
        return *this;
    }
    Mapping &key(int keycode, std::vector<std::uint32_t> syms) {
        keys[keycode] = std::move(syms);
        return *this;
    }
    // The modifiers of a pc105 keyboard under evdev.
    Mapping &pcModifiers() {
        return key(37, {Control_L, NoSymbol, Control_L})
            .key(105, {Control_R, NoSymbol, Control_R})
            .key(64, {Alt_L, Meta_L, Alt_L, Meta_L})
            .key(108, {Alt_R, Meta_R, Alt_R, Meta_R})
            .key(50, {Shift_L, NoSymbol, Shift_L})
            .key(66, {Caps_Lock, NoSymbol, Caps_Lock})
            .key(133, {Super_L, NoSymbol, Super_L});
    }

    X11KeyTable table() const {
        const int last = std::max(255, keys.empty() ? 0 : keys.rbegin()->first);
        std::vector<std::uint32_t> syms(std::size_t((last + 1 - kFirstKeycode) * perKeycode),
                                        NoSymbol);
        for (const auto &[code, columns] : keys)
            for (std::size_t c = 0; c < columns.size() && int(c) < perKeycode; ++c)
                syms[std::size_t((code - kFirstKeycode) * perKeycode) + c] = columns[c];
        return X11KeyTable::fromMapping(kFirstKeycode, perKeycode, syms.data(), int(syms.size()));
    }
};

// Every letter key of the US layout carrying a Cyrillic letter instead.
Mapping &cyrillicLetters(Mapping &m) {
    int n = 0;
    for (int code : {24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 38, 39, 40,
                     41, 42, 43, 44, 45, 46, 52, 53, 54, 55, 56, 57, 58}) {
        const std::uint32_t sym = Cyrillic_first + std::uint32_t(n++);
        m.keys[code] = {sym, sym + 0x20, sym, sym + 0x20};
    }
    return m;
}

const QHash<QString, X11KeyTable> &layouts() {
    static const QHash<QString, X11KeyTable> tables = [] {
        QHash<QString, X11KeyTable> t;
        t["us"] = Mapping()
                      .letters(24, "qwertyuiop")
                      .letters(38, "asdfghjkl")
                      .letters(52, "zxcvbnm")
                      .pcModifiers()
                      .table();
        t["fr"] = Mapping()
                      .letters(24, "azertyuiop")
                      .letters(38, "qsdfghjklm")
                      .letters(52, "wxcvbn")
                      .pcModifiers()
                      .table();
        Mapping ru;
        t["ru"] = cyrillicLetters(ru).pcModifiers().table();
        // Russian first, German second: the letters sit in the second group's columns.
        Mapping ruDe;
        cyrillicLetters(ruDe).pcModifiers();
        const char *deRows[] = {"qwertzuiop", "asdfghjkl", "yxcvbnm"};
        const int deFirst[] = {24, 38, 52};
        for (int r = 0; r < 3; ++r)
            for (int i = 0; deRows[r][i]; ++i) {
                auto &syms = ruDe.keys[deFirst[r] + i];
                syms[2] = std::uint32_t(deRows[r][i]);
                syms[3] = syms[2] - 'a' + 'A';
            }
        t["ru,de"] = ruDe.table();
        // A layout with one Latin letter, "a", on the key where a US keyboard has X; and an
        // "e" only on the third level of the key where US has A.
        Mapping odd;
        cyrillicLetters(odd).pcModifiers();
        odd.keys[53] = {'a', 'A', 'a', 'A'};
        odd.keys[38] = {
            Cyrillic_first, Cyrillic_first + 0x20, Cyrillic_first, Cyrillic_first + 0x20, 'e', 'E'};
        odd.perKeycode = 6;
        t["one latin letter"] = odd.table();
        // Caps Lock turned into a Ctrl key, the left Ctrl into Caps Lock.
        t["swapped ctrl"] = Mapping()
                                .letters(24, "qwertyuiop")
                                .letters(38, "asdfghjkl")
                                .letters(52, "zxcvbnm")
                                .pcModifiers()
                                .key(66, {Control_L, NoSymbol, Control_L})
                                .key(37, {Caps_Lock, NoSymbol, Caps_Lock})
                                .table();
        // No modifiers named at all: Ctrl and Alt fall back to the US keys.
        t["letters only"] = Mapping().letters(24, "qwertyuiop").letters(38, "asdfghjkl").table();
        // Letters on the last keycodes, and one on a keycode past 255, which X11 cannot have.
        Mapping high;
        high.pcModifiers().letters(250, "bcdefgh");
        t["high keycodes"] = high.table();
        t["two columns"] = [] {
            Mapping m;
            m.perKeycode = 2;
            return m.letters(24, "qwertyuiop").letters(38, "asdfghjkl").pcModifiers().table();
        }();
        t["nothing"] = X11KeyTable::fromMapping(kFirstKeycode, 0, nullptr, 0);
        t["no reply"] = X11KeyTable::usDefault();
        return t;
    }();
    return tables;
}

X11Keymap keymapWith(const QList<int> &keycodes) {
    X11Keymap keys{};
    for (int code : keycodes)
        keys[std::size_t(code / 8)] |= std::uint8_t(1u << (code % 8));
    return keys;
}

constexpr int VK_CONTROL = platform::VK_CONTROL;
constexpr int VK_MENU = platform::VK_MENU;

} // namespace

class TestKeyStateX11 : public QObject {
    Q_OBJECT
private slots:
    void keyDown_data();
    void keyDown();
    void withoutConnectionEveryKeyIsUp();
};

void TestKeyStateX11::keyDown_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QList<int>>("pressed"); // keycodes
    QTest::addColumn<int>("virtualKey");
    QTest::addColumn<bool>("down");

    using L = QList<int>;
    QTest::newRow("us: nothing pressed") << "us" << L{} << int('A') << false;
    QTest::newRow("us: A") << "us" << L{38} << int('A') << true;
    QTest::newRow("us: A is not C") << "us" << L{38} << int('C') << false;
    QTest::newRow("us: C") << "us" << L{54} << int('C') << true;
    QTest::newRow("us: E") << "us" << L{26} << int('E') << true;
    QTest::newRow("us: X") << "us" << L{53} << int('X') << true;
    QTest::newRow("us: left Ctrl") << "us" << L{37} << VK_CONTROL << true;
    QTest::newRow("us: right Ctrl") << "us" << L{105} << VK_CONTROL << true;
    QTest::newRow("us: left Alt") << "us" << L{64} << VK_MENU << true;
    QTest::newRow("us: right Alt") << "us" << L{108} << VK_MENU << true;
    QTest::newRow("us: Alt is not Ctrl") << "us" << L{64, 108} << VK_CONTROL << false;
    QTest::newRow("us: Shift is neither") << "us" << L{50} << VK_MENU << false;
    QTest::newRow("us: Windows key is not Alt") << "us" << L{133} << VK_MENU << false;
    QTest::newRow("us: other keys held too") << "us" << L{37, 64, 50, 133, 54} << int('C') << true;
    QTest::newRow("us: a key that is no letter") << "us" << L{10} << int('1') << false;
    QTest::newRow("us: Shift code asked") << "us" << L{50} << 16 << false;
    QTest::newRow("fr: A where US has Q") << "fr" << L{24} << int('A') << true;
    QTest::newRow("fr: US A key is Q") << "fr" << L{38} << int('A') << false;
    QTest::newRow("fr: X stays") << "fr" << L{53} << int('X') << true;
    QTest::newRow("ru: A at the US position") << "ru" << L{38} << int('A') << true;
    QTest::newRow("ru: X at the US position") << "ru" << L{53} << int('X') << true;
    QTest::newRow("ru: Ctrl") << "ru" << L{37} << VK_CONTROL << true;
    QTest::newRow("ru,de: Y from the second group") << "ru,de" << L{52} << int('Y') << true;
    QTest::newRow("ru,de: Z from the second group") << "ru,de" << L{29} << int('Z') << true;
    QTest::newRow("ru,de: not the US Z key") << "ru,de" << L{52} << int('Z') << false;
    QTest::newRow("one latin letter: A on its key")
        << "one latin letter" << L{53} << int('A') << true;
    QTest::newRow("one latin letter: that key is no X")
        << "one latin letter" << L{53} << int('X') << false;
    QTest::newRow("one latin letter: third level is no E")
        << "one latin letter" << L{38} << int('E') << false;
    QTest::newRow("one latin letter: E at the US position")
        << "one latin letter" << L{26} << int('E') << true;
    QTest::newRow("swapped ctrl: Caps Lock key is Ctrl")
        << "swapped ctrl" << L{66} << VK_CONTROL << true;
    QTest::newRow("swapped ctrl: old Ctrl key is not")
        << "swapped ctrl" << L{37} << VK_CONTROL << false;
    QTest::newRow("swapped ctrl: right Ctrl") << "swapped ctrl" << L{105} << VK_CONTROL << true;
    QTest::newRow("letters only: US Ctrl") << "letters only" << L{37} << VK_CONTROL << true;
    QTest::newRow("letters only: US right Alt") << "letters only" << L{108} << VK_MENU << true;
    QTest::newRow("high keycodes: B on keycode 250")
        << "high keycodes" << L{250} << int('B') << true;
    QTest::newRow("high keycodes: G on keycode 255")
        << "high keycodes" << L{255} << int('G') << true;
    QTest::newRow("high keycodes: H past 255 falls back")
        << "high keycodes" << L{43} << int('H') << true;
    QTest::newRow("two columns: C") << "two columns" << L{54} << int('C') << true;
    QTest::newRow("two columns: Alt") << "two columns" << L{64} << VK_MENU << true;
    QTest::newRow("nothing: US A") << "nothing" << L{38} << int('A') << true;
    QTest::newRow("nothing: US Alt") << "nothing" << L{64} << VK_MENU << true;
    QTest::newRow("no reply: US X") << "no reply" << L{53} << int('X') << true;
    QTest::newRow("no reply: US right Ctrl") << "no reply" << L{105} << VK_CONTROL << true;
}

// Whether a key counts as down, for a keyboard layout and the keycodes the server reports down.
void TestKeyStateX11::keyDown() {
    QFETCH(QString, layout);
    QFETCH(QList<int>, pressed);
    QFETCH(int, virtualKey);
    QFETCH(bool, down);
    QVERIFY(layouts().contains(layout));
    QCOMPARE(layouts()[layout].isDown(keymapWith(pressed), virtualKey), down);
}

void TestKeyStateX11::withoutConnectionEveryKeyIsUp() {
    platform::KeyStateX11 keys(QByteArray(), nullptr);
    keys.update();
    for (int vk : {VK_CONTROL, VK_MENU, int('A'), int('X')})
        QVERIFY(!keys.isDown(vk));
}

QTEST_APPLESS_MAIN(TestKeyStateX11)

#include "tst_keystatex11.moc"
