#include "FakeServices.h"
#include "app/Application.h"
#include "app/FirstFrame.h"
#include "platform/Services.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <stdexcept>

namespace {

// Which of the note's handlers a test runs: the key watch's tick, the paste menu item, a drop.
enum class Fire { KeyWatchTick, PasteMenuItem, Drop };

// A failure of a service: a std::exception with the message, or something else entirely.
[[noreturn]] void fail(bool standard, const QString &message) {
    if (standard)
        throw std::runtime_error(message.toStdString());
    throw 42;
}

} // namespace

Q_DECLARE_METATYPE(Fire)

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void escapingFailureShowsErrorBox_data();
    void escapingFailureShowsErrorBox();
    void failingHandlerLeavesStateAsItWas();
    void handlerReportsItsOwnFailure_data();
    void handlerReportsItsOwnFailure();
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

void TestApplication::handlerReportsItsOwnFailure_data() {
    QTest::addColumn<Fire>("fire");
    QTest::addColumn<bool>("standard"); // a std::exception, or anything else
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("errorBox"); // else the information box of a failed paste

    const QString unknown = QStringLiteral("不明なエラーが発生しました");
    QTest::newRow("key watch tick, key state fails")
        << Fire::KeyWatchTick << true << QStringLiteral("キーボードが見つかりません") << true;
    QTest::newRow("key watch tick, key state throws no std::exception")
        << Fire::KeyWatchTick << false << unknown << true;
    // The paste keeps its own guarded block and message: still one box, not two.
    QTest::newRow("paste menu item, clipboard throws no std::exception")
        << Fire::PasteMenuItem << false
        << QStringLiteral("Stiqlet イメージ貼り付けエラー\r\n"
                          "クリップボードのデータがイメージ型ではないかもしれません")
        << false;
    QTest::newRow("drop of an unreadable file, its message box fails")
        << Fire::Drop << true << QStringLiteral("メッセージを表示できません") << true;
    QTest::newRow("drop of an unreadable file, its message box throws no std::exception")
        << Fire::Drop << false << unknown << true;
}

// A failure under a handler is reported by the handler itself, in one box, and goes no further:
// the handlers run here straight from the signal or the event, without the application's last
// net in between, so a failure that escaped would end the test.
void TestApplication::handlerReportsItsOwnFailure() {
    QFETCH(Fire, fire);
    QFETCH(bool, standard);
    QFETCH(QString, message);
    QFETCH(bool, errorBox);
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.DynamicMenuItemClick(form.form()->pmSelectNum->actions().at(2));
    form.yohakSet(0);
    form.tenmetuSet(1);
    const QString letter = selectedKey;
    const char16_t toggle = toggleKeyCode;
    const QImage picture = form.form()->ImageControl1->picture();
    // The drop's file and state outlive the case below: the file is decoded after the drop.
    QTemporaryDir dir;
    bool failed = false;

    switch (fire) {
    case Fire::KeyWatchTick:
        fakes.keys->onIsDown = [&](int) { fail(standard, message); };
        QVERIFY(QMetaObject::invokeMethod(&form.tmKiiOnOff, "timeout", Qt::DirectConnection));
        break;
    case Fire::PasteMenuItem:
        fakes.clipboard->onRead = [&] { fail(standard, message); };
        form.form()->pmPaste->trigger();
        break;
    case Fire::Drop: {
        const QString path = dir.filePath(QStringLiteral("unreadable.png"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
        file.close();
        // The box that says the file cannot be read fails to open; the error box then works.
        fakes.dialogs->onShow = [&](const QString &) {
            if (!failed) {
                failed = true;
                fail(standard, message);
            }
        };
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDropEvent drop(QPointF(30, 30), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
        static_cast<QObject *>(form.form()->ImageControl1)->event(&drop);
        break;
    }
    }

    // A dropped file is decoded after the drop has been answered.
    QTRY_COMPARE(fakes.dialogs->shown.size(), 1);
    QCOMPARE(fakes.dialogs->shown[0].text, message);
    QCOMPARE(fakes.dialogs->shown[0].type,
             errorBox ? platform::MsgDlgType::Error : platform::MsgDlgType::Information);
    QCOMPARE(selectedKey, letter);
    QCOMPARE(toggleKeyCode, toggle);
    QCOMPARE(closeKeyCode, u'X');
    QCOMPARE(resizing, false);
    QCOMPARE(firstShow, false);
    QVERIFY(form.isVisible());
    QVERIFY(form.tmKiiOnOff.isActive());
    QVERIFY(form.Timer2.isActive());
    QVERIFY(form.form()->pmSubYoAri->isChecked());
    QCOMPARE(form.form()->ImageControl1->picture(), picture);
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
