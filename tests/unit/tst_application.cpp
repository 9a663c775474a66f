#include "FakeServices.h"
#include "app/Application.h"
#include "app/FirstFrame.h"
#include "platform/Services.h"
#include "sticky/Unit1.h"

#include <QTest>
#include <QTimer>

#include <stdexcept>

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void escapingFailureShowsErrorBox_data();
    void escapingFailureShowsErrorBox();
    void failingHandlerLeavesStateAsItWas();
    void afterFirstFrame_data();
    void afterFirstFrame();
};

void TestApplication::escapingFailureShowsErrorBox_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("standard exception") << 0 << "ディスクがいっぱいです";
    QTest::newRow("bad_alloc") << 1 << "std::bad_alloc";
    QTest::newRow("anything else") << 2 << "不明なエラーが発生しました";
}

// A failure thrown out of a timer handler is shown with its message, and the loop goes on to
// the next event.
void TestApplication::escapingFailureShowsErrorBox() {
    QFETCH(int, kind);
    QFETCH(QString, message);
    FakeServices fakes;
    QTimer::singleShot(0, this, [kind, message] {
        if (kind == 0)
            throw std::runtime_error(message.toStdString());
        if (kind == 1)
            throw std::bad_alloc();
        throw 42;
    });
    bool nextEventHandled = false;
    QTimer::singleShot(20, this, [&] { nextEventHandled = true; });
    QTRY_VERIFY(nextEventHandled);
    QCOMPARE(fakes.dialogs->shown.size(), 1);
    QCOMPARE(fakes.dialogs->shown[0].text, message);
    QVERIFY(fakes.dialogs->shown[0].type == platform::MsgDlgType::Error);
}

class ThrowingKeyState final : public platform::KeyState {
public:
    void update() override { throw std::runtime_error("keyboard gone"); }
    bool isDown(int) const override { return false; }
};

// The hotkey tick failing on every tick: each failure is reported, the note's state stays as
// it was and the watch keeps ticking.
void TestApplication::failingHandlerLeavesStateAsItWas() {
    FakeServices fakes;
    platform::services::setKeyState(std::make_unique<ThrowingKeyState>());
    TForm1 form;
    form.show();
    const QString letter = selectedKey;
    QTRY_VERIFY(fakes.dialogs->shown.size() >= 2);
    QCOMPARE(fakes.dialogs->shown[0].text, QStringLiteral("keyboard gone"));
    QVERIFY(form.isVisible());
    QVERIFY(form.tmKiiOnOff.isActive());
    QCOMPARE(selectedKey, letter);
    QCOMPARE(resizing, false);
    QCOMPARE(firstShow, false);
}

void TestApplication::afterFirstFrame_data() {
    QTest::addColumn<bool>("shown");
    QTest::newRow("window on screen") << true;
    QTest::newRow("window never exposed: after the fallback") << false;
}

// The deferred start-up work runs once, never before the window's first frame, and still runs
// when the window never reaches the screen.
void TestApplication::afterFirstFrame() {
    QFETCH(bool, shown);
    QWidget window;
    window.resize(100, 100);
    window.winId(); // the native window exists, as after show()
    int runs = 0;
    bool exposedWhenRun = false;
    if (shown)
        window.show();
    ::afterFirstFrame(
        &window,
        [&] {
            ++runs;
            exposedWhenRun = window.windowHandle()->isExposed();
        },
        shown ? 5000 : 50);
    QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 3000);
    QCOMPARE(exposedWhenRun, shown);
    QTest::qWait(100);
    QCOMPARE(runs, 1);
}

int main(int argc, char *argv[]) {
    Application app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
