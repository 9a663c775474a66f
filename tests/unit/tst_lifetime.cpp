#include "FakeServices.h"
#include "platform/Failure.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <stdexcept>

// Something that opens a modal box over the note, and a way of asking the note to close.
using Step = std::function<void(FakeServices &)>;
Q_DECLARE_METATYPE(Step)

namespace {

constexpr int kStillRunning = 99;

void pressCtrlAltX(FakeServices &fakes) {
    fakes.keys->down = {platform::VK_CONTROL, platform::VK_MENU, 'X'};
    Form1->tmKiiOnOffTimer();
    fakes.keys->down.clear();
}

// The desktop's close command, and the menu item "Stiqletの終了", close the note as a window.
void desktopClose(FakeServices &) {
    Form1->close();
}

// Runs the event loop as the program does; the exit code, or kStillRunning when the program
// has not ended within a few seconds.
int runProgram() {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp,
                     [] { QCoreApplication::exit(kStillRunning); });
    watchdog.start(5000);
    return QCoreApplication::exec();
}

} // namespace

class TestLifetime : public QObject {
    Q_OBJECT
private slots:
    void closeWaitsForTheBox_data();
    void closeWaitsForTheBox();
    void closeWaitsForTheMenu_data();
    void closeWaitsForTheMenu();

private:
    QTemporaryDir m_dir;
};

void TestLifetime::closeWaitsForTheBox_data() {
    QTest::addColumn<Step>("openBox");
    QTest::addColumn<Step>("askClose");
    const Step pasteError = [](FakeServices &fakes) {
        fakes.clipboard->value.kind = platform::ClipboardValue::Kind::Text;
        Form1->acPasteExecute();
    };
    const Step failure = [](FakeServices &) {
        platform::guarded([] { throw std::runtime_error("a handler failed"); });
    };
    const QString broken = m_dir.filePath(QStringLiteral("broken.png"));
    const Step dropError = [broken](FakeServices &) {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\nxx", 10);
        file.close();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(broken)});
        QWidget *area = Form1->form()->ImageControl1;
        QDragEnterEvent enter(QPoint(30, 30), Qt::LinkAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(area, &enter);
        QDropEvent drop(QPointF(30, 30), Qt::LinkAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(area, &drop);
    };
    QTest::newRow("paste error, Ctrl+Alt+X") << pasteError << Step(pressCtrlAltX);
    QTest::newRow("paste error, desktop close") << pasteError << Step(desktopClose);
    QTest::newRow("failure, Ctrl+Alt+X") << failure << Step(pressCtrlAltX);
    QTest::newRow("failure, desktop close") << failure << Step(desktopClose);
    QTest::newRow("drop error, Ctrl+Alt+X") << dropError << Step(pressCtrlAltX);
    QTest::newRow("drop error, desktop close") << dropError << Step(desktopClose);
}

// A close asked for while a box is open leaves the box and the note as they are; once the box
// is answered, the program ends with code 0.
void TestLifetime::closeWaitsForTheBox() {
    QFETCH(Step, openBox);
    QFETCH(Step, askClose);
    FakeServices fakes;
    TForm1 form;
    form.show();
    int boxes = 0;
    bool noteStayed = false;
    fakes.dialogs->onShow = [&](const QString &) {
        ++boxes;
        askClose(fakes);
        // The box's own loop goes on meanwhile, timer ticks included.
        QTest::qWait(150);
        noteStayed = form.isVisible();
    };
    QTimer::singleShot(0, &form, [&] { openBox(fakes); });
    QCOMPARE(runProgram(), 0);
    QCOMPARE(boxes, 1);
    QVERIFY2(noteStayed, "the note closed while the box was open");
    QVERIFY(!form.isVisible());
}

void TestLifetime::closeWaitsForTheMenu_data() {
    QTest::addColumn<Step>("askClose");
    QTest::newRow("Ctrl+Alt+X") << Step(pressCtrlAltX);
    QTest::newRow("desktop close") << Step(desktopClose);
}

// The same while the popup menu is open: the program ends with code 0 once the menu has closed.
void TestLifetime::closeWaitsForTheMenu() {
    QFETCH(Step, askClose);
    FakeServices fakes;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QMenu *menu = form.form()->PopupMenu1;
    bool menuStayed = false;
    bool noteStayed = false;
    QTimer::singleShot(0, &form, [&] {
        // Runs inside the menu's own loop.
        QTimer::singleShot(0, &form, [&] {
            askClose(fakes);
            QTest::qWait(150);
            menuStayed = menu->isVisible();
            noteStayed = form.isVisible();
            menu->close();
        });
        QTest::mousePress(form.form()->ImageControl1, Qt::RightButton, {}, QPoint(50, 50));
    });
    QCOMPARE(runProgram(), 0);
    QVERIFY2(menuStayed, "the menu closed when the close was asked for");
    QVERIFY2(noteStayed, "the note closed while the menu was open");
    QVERIFY(!form.isVisible());
}

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestLifetime test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lifetime.moc"
