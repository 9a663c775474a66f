#include "platform/BlockedClose.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <windows.h>

namespace {

// A window that counts the closes it is asked for, and refuses them.
class Window : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent *event) override {
        ++closes;
        event->ignore();
    }
};

} // namespace

// The desktop's close of a window blocked by a modal box reaches the window.
class TestBlockedCloseWin : public QObject {
    Q_OBJECT
private slots:
    void closeReachesTheBlockedWindow();
};

void TestBlockedCloseWin::closeReachesTheBlockedWindow() {
    Window window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    platform::passCloseWhileBlocked(&window);
    QDialog box(&window);
    box.setModal(true);
    bool reached = false;
    QTimer::singleShot(0, &box, [&] {
        ::PostMessageW(HWND(window.winId()), WM_CLOSE, 0, 0);
        reached = QTest::qWaitFor([&] { return window.closes > 0; }, 3000);
        box.accept();
    });
    box.exec();
    QVERIFY2(reached, "the close never reached the window");
    QCOMPARE(window.closes, 1);
}

QTEST_MAIN(TestBlockedCloseWin)
#include "tst_blockedclosewin.moc"
