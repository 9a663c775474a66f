// The Windows key state read by the hotkey watch, against keys injected into the system's input
// queue with SendInput: what a press and a release of each kind of key reads as, whatever window
// has the focus (this test has none).
#include "platform/windows/KeyStateWin.h"

#include <QList>
#include <QTest>

#include <windows.h>

using platform::KeyStateWin;

namespace {

void send(WORD virtualKey, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = WORD(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    if (virtualKey == VK_RCONTROL || virtualKey == VK_RMENU)
        input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    QVERIFY2(SendInput(1, &input, sizeof input) == 1, "SendInput refused the key");
}

// Waits until the key state reads `down` for the key, as injected input is taken in by the
// system asynchronously.
bool readsAs(const KeyStateWin &keys, int virtualKey, bool down) {
    return QTest::qWaitFor([&] { return keys.isDown(virtualKey) == down; }, 2000);
}

const QList<WORD> kEveryKeyUsed{VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LSHIFT,
                                'A',         'C',         'E',      'X'};

} // namespace

class TestKeyStateWin : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void pressAndRelease_data();
    void pressAndRelease();
    void readingConsumesNothing();
};

// A failed row must not leave keys held for the next one.
void TestKeyStateWin::cleanup() {
    for (WORD key : kEveryKeyUsed)
        send(key, false);
}

void TestKeyStateWin::pressAndRelease_data() {
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("down");
    QTest::newRow("left Ctrl reads as Ctrl") << int(VK_LCONTROL) << int(VK_CONTROL) << true;
    QTest::newRow("right Ctrl reads as Ctrl") << int(VK_RCONTROL) << int(VK_CONTROL) << true;
    QTest::newRow("left Alt reads as Alt") << int(VK_LMENU) << int(VK_MENU) << true;
    QTest::newRow("right Alt reads as Alt") << int(VK_RMENU) << int(VK_MENU) << true;
    QTest::newRow("letter by its upper-case code") << int('C') << int('C') << true;
    QTest::newRow("another letter is not down") << int('A') << int('X') << false;
    QTest::newRow("Shift is not Ctrl") << int(VK_LSHIFT) << int(VK_CONTROL) << false;
    QTest::newRow("Ctrl is not Alt") << int(VK_LCONTROL) << int(VK_MENU) << false;
}

void TestKeyStateWin::pressAndRelease() {
    QFETCH(int, pressed);
    QFETCH(int, asked);
    QFETCH(bool, down);
    KeyStateWin keys;
    QVERIFY2(readsAs(keys, asked, false), "down before any press");
    send(WORD(pressed), true);
    // A key that must stay up is checked once the pressed key itself reads as down.
    QVERIFY2(readsAs(keys, pressed, true), "the pressed key never read as down");
    keys.update();
    QCOMPARE(keys.isDown(asked), down);
    send(WORD(pressed), false);
    QVERIFY2(readsAs(keys, asked, false), "still down after the release");
}

// The hotkey watch reads the same keys on every tick: reading must not take the press away.
void TestKeyStateWin::readingConsumesNothing() {
    KeyStateWin keys;
    send(VK_LCONTROL, true);
    send(VK_LMENU, true);
    send('E', true);
    QVERIFY(readsAs(keys, 'E', true));
    for (int tick = 0; tick < 5; ++tick) {
        keys.update();
        QVERIFY(keys.isDown(VK_CONTROL));
        QVERIFY(keys.isDown(VK_MENU));
        QVERIFY(keys.isDown('E'));
    }
}

QTEST_GUILESS_MAIN(TestKeyStateWin)
#include "tst_keystatewin.moc"
