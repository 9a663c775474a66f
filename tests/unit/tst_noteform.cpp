#include "FakeServices.h"
#include "about/Unit3.h"
#include "sticky/MonochromeEffect.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>

namespace {

// The menu item reached by a path of captions from the popup menu, or null.
QAction *menuItem(QMenu *menu, const QStringList &path) {
    QAction *found = nullptr;
    for (const QString &caption : path) {
        if (!menu)
            return nullptr;
        found = nullptr;
        for (QAction *a : menu->actions())
            if (a->text() == caption)
                found = a;
        if (!found)
            return nullptr;
        menu = found->menu();
    }
    return found;
}

QStringList captions(const QMenu *menu) {
    QStringList out;
    for (const QAction *a : menu->actions())
        out << a->text();
    return out;
}

} // namespace

class TestNoteForm : public QObject {
    Q_OBJECT
private slots:
    void init();
    void windowDefinition();
    void controlTree();
    void menuTree();
    void menuMarks_data();
    void menuMarks();
    void stateAfterCreate();
    void firstShowDoesItsWorkOnce();
    void centredAtFirstShowOnly();
    void rightPressOpensMenuAtPointer();
    void itemChosenOnPress_data();
    void itemChosenOnPress();
    void closingTheNoteEndsTheLoop();
    void closingAnotherWindowDoesNot();
    void hintShowsWhileAnotherWindowIsActive();
};

void TestNoteForm::init() {
    // Every event binding of the window definition must find its handler.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect")));
}

void TestNoteForm::windowDefinition() {
    FakeServices fakes;
    TForm1 form;
    QCOMPARE(Form1, &form);
    QCOMPARE(form.objectName(), QStringLiteral("Form1"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(form.size(), QSize(200, 200));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(form.windowType(), Qt::Window);
    QVERIFY(form.acceptDrops());
    QVERIFY(!form.isVisible());

    QCOMPARE(form.Timer2.interval(), 1000);
    QVERIFY(!form.Timer2.isActive());
    QCOMPARE(form.tmKiiOnOff.interval(), 100);
    QVERIFY(form.tmKiiOnOff.isActive());
    QAction *acPaste = form.form()->acPaste;
    QCOMPARE(acPaste->text(), QStringLiteral("acPaste"));
    QVERIFY(acPaste->shortcut().isEmpty());
}

void TestNoteForm::controlTree() {
    FakeServices fakes;
    TForm1 form;
    form.resize(320, 240);
    form.show();
    auto *ui = form.form();
    QCOMPARE(ui->Panel1->parentWidget(), &form);
    QCOMPARE(ui->Panel1->geometry(), QRect(0, 0, 320, 240));
    QCOMPARE(ui->ImageControl1->parentWidget(), ui->Panel1);
    // Margin off: the image area reaches 5 units past every edge of the window.
    QCOMPARE(ui->ImageControl1->geometry(), QRect(-5, -5, 330, 250));
    QCOMPARE(ui->ImageControl1->popupMenu(), ui->PopupMenu1);
    QCOMPARE(ui->ImageControl1->picture().size(), QSize(64, 64));
    QVERIFY(ui->ImageControl1->picture().hasAlphaChannel());
    QVERIFY(ui->ImageControl1->graphicsEffect() == form.MonochromeEffect1());
    QVERIFY(!form.MonochromeEffect1()->isEnabled());
    // The info bar keeps its size at the image area's corner, whatever the window's size.
    QCOMPARE(ui->Panel2->parentWidget(), ui->ImageControl1);
    QCOMPARE(ui->Panel2->geometry(), QRect(0, 0, 200, 25));
    QVERIFY(ui->Panel2->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(ui->Label1->parentWidget(), ui->Panel2);
    // The info bar is hidden until the pointer comes over the picture, and laid out then.
    QVERIFY(ui->Panel2->isHidden());
    ui->Panel2->show();
    QCOMPARE(ui->Label1->geometry(), QRect(5, 0, 195, 25));
    QCOMPARE(ui->Label1->font().pixelSize(), 12);
    QVERIFY(ui->Label1->wordWrap());
    QCOMPARE(ui->Label1->alignment() & (Qt::AlignLeft | Qt::AlignVCenter),
             Qt::AlignLeft | Qt::AlignVCenter);
}

void TestNoteForm::menuTree() {
    FakeServices fakes;
    TForm1 form;
    QMenu *menu = form.form()->PopupMenu1;
    QCOMPARE(captions(menu), (QStringList{"キー入力監視", "フォーム表示On/Offキー文字", "貼り付け",
                                          "画面クリア", "余白", "モノクロ点滅", "最小化", "About",
                                          "----------", "Stiqletの終了"}));
    QCOMPARE(captions(form.form()->pmKiiOnOff), (QStringList{"有り", "無し"}));
    QCOMPARE(captions(form.form()->pmYohaku), (QStringList{"有り", "無し"}));
    QCOMPARE(captions(form.form()->pmTenmetu), (QStringList{"有り", "無し"}));
    QVERIFY(form.form()->pmSelectNum->actions().isEmpty());
    // The dashes are an ordinary item that can be chosen, not a separator line.
    QVERIFY(!form.form()->MenuItem1->isSeparator());
    QVERIFY(form.form()->MenuItem1->isEnabled());
}

void TestNoteForm::menuMarks_data() {
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<bool>("checked");
    QTest::newRow("monitoring on") << QStringList{"キー入力監視", "有り"} << true;
    QTest::newRow("monitoring off") << QStringList{"キー入力監視", "無し"} << false;
    QTest::newRow("margin on") << QStringList{"余白", "有り"} << false;
    QTest::newRow("margin off") << QStringList{"余白", "無し"} << true;
    QTest::newRow("blink on") << QStringList{"モノクロ点滅", "有り"} << false;
    QTest::newRow("blink off") << QStringList{"モノクロ点滅", "無し"} << true;
    QTest::newRow("letter A") << QStringList{"フォーム表示On/Offキー文字", "A"} << true;
    QTest::newRow("letter B") << QStringList{"フォーム表示On/Offキー文字", "B"} << false;
    QTest::newRow("letter E") << QStringList{"フォーム表示On/Offキー文字", "E"} << false;
    QTest::newRow("paste") << QStringList{"貼り付け"} << false;
    QTest::newRow("quit") << QStringList{"Stiqletの終了"} << false;
}

// The marks a fresh note shows once it is on screen.
void TestNoteForm::menuMarks() {
    QFETCH(QStringList, path);
    QFETCH(bool, checked);
    FakeServices fakes;
    TForm1 form;
    form.show();
    QAction *item = menuItem(form.form()->PopupMenu1, path);
    QVERIFY(item);
    QCOMPARE(item->isChecked(), checked);
}

void TestNoteForm::stateAfterCreate() {
    FakeServices fakes;
    // Whatever an earlier window left behind, creation starts from the same state.
    keyLetters = {};
    selectedKey = QStringLiteral("D");
    resizing = true;
    firstShow = false;
    TForm1 form;
    QCOMPARE(keyLetters, (std::array<QString, 5>{"A", "B", "C", "D", "E"}));
    QCOMPARE(selectedKey, QStringLiteral("A"));
    QCOMPARE(int(toggleKeyCode), 65);
    QCOMPARE(int(closeKeyCode), 88);
    QCOMPARE(resizing, false);
    QCOMPARE(firstShow, true);
    QCOMPARE(form.form()->ImageControl1->margin(), -5.0f);
    QCOMPARE(form.form()->Label1->text(), QStringLiteral("Label1"));
}

void TestNoteForm::firstShowDoesItsWorkOnce() {
    FakeServices fakes;
    TForm1 form;
    auto *ui = form.form();
    form.show();
    QCOMPARE(firstShow, false);
    QVERIFY(ui->Panel2->isHidden());
    QVERIFY(form.tmKiiOnOff.isActive());
    QCOMPARE(ui->Label1->text(), QStringLiteral("Ctrl+Alt+A : フォーム表示On/Off"));
    const QList<QAction *> letters = ui->pmSelectNum->actions();
    QCOMPARE(letters.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(letters[i]->objectName(), QStringLiteral("sub%1").arg(i));
        QCOMPARE(letters[i]->text(), QString(QChar(u'A' + i)));
        QCOMPARE(letters[i]->parent(), &form);
    }

    // Later shows leave the menu, the letter, the texts and the monitoring as they were.
    letters[2]->trigger();
    form.pmSubKiiOffClick();
    ui->Panel2->show();
    form.hide();
    form.show();
    QCOMPARE(ui->pmSelectNum->actions().size(), 5);
    QCOMPARE(selectedKey, QStringLiteral("C"));
    QCOMPARE(ui->Label1->text(), QStringLiteral("Ctrl+Alt+C : フォーム表示On/Off"));
    QVERIFY(!form.tmKiiOnOff.isActive());
    QVERIFY(ui->Panel2->isVisible());
}

void TestNoteForm::centredAtFirstShowOnly() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    const QRect area = form.screen()->availableGeometry();
    QCOMPARE(form.geometry().center(), area.center());
    form.move(area.topLeft() + QPoint(7, 11));
    form.hide();
    form.show();
    QCOMPARE(form.pos(), area.topLeft() + QPoint(7, 11));
}

void TestNoteForm::rightPressOpensMenuAtPointer() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImageControl *area = form.form()->ImageControl1;
    QSignalSpy downs(area, &ImageControl::mouseDown);
    QWidget *opened = nullptr;
    QPoint openedAt;
    QTimer::singleShot(0, this, [&] {
        opened = QApplication::activePopupWidget();
        if (opened) {
            openedAt = opened->pos();
            opened->close();
        }
    });
    const QPoint at(60, 70);
    QTest::mousePress(area, Qt::RightButton, {}, at);
    QCOMPARE(opened, form.form()->PopupMenu1);
    QCOMPARE(openedAt, area->mapToGlobal(at));
    QCOMPARE(downs.count(), 0);
}

void TestNoteForm::itemChosenOnPress_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
}

// An item is chosen as the button goes down on it; the menu closes and then the item acts.
void TestNoteForm::itemChosenOnPress() {
    QFETCH(Qt::MouseButton, button);
    FakeServices fakes;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *ui = form.form();
    bool openWhenChosen = true;
    connect(ui->pmclear, &QAction::triggered, this,
            [&] { openWhenChosen = ui->PopupMenu1->isVisible(); });
    QTimer::singleShot(0, this, [&] {
        QMenu *menu = ui->PopupMenu1;
        QTest::mousePress(menu, button, {}, menu->actionGeometry(ui->pmclear).center());
    });
    QTimer watchdog;
    connect(&watchdog, &QTimer::timeout, ui->PopupMenu1, &QMenu::close);
    watchdog.start(3000);
    QTest::mousePress(ui->ImageControl1, Qt::RightButton, {}, QPoint(50, 50));
    QVERIFY(!ui->PopupMenu1->isVisible());
    QCOMPARE(ui->ImageControl1->picture().pixel(10, 10), 0xFFFFFFFFu);
    QVERIFY(!openWhenChosen);
}

void TestNoteForm::closingTheNoteEndsTheLoop() {
    FakeServices fakes;
    TForm1 form;
    TForm3 about;
    form.show();
    about.show();
    QTimer::singleShot(0, &form, [] { Form1->pnCloseClick(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(5000);
    QCOMPARE(qApp->exec(), 0);
}

// Closing the About window, or any window but the note, leaves the program running, also while
// the note is hidden.
void TestNoteForm::closingAnotherWindowDoesNot() {
    FakeServices fakes;
    TForm1 form;
    TForm3 about;
    form.show();
    about.show();
    form.hide();
    bool stillRunning = false;
    QTimer::singleShot(0, &about, [&] { about.close(); });
    QTimer::singleShot(200, &form, [&] {
        stillRunning = true;
        QCoreApplication::exit(7);
    });
    QCOMPARE(qApp->exec(), 7);
    QVERIFY(stillRunning);
    QVERIFY(about.isHidden());
}

// The note stays above the window the user works in, where its hint is read.
void TestNoteForm::hintShowsWhileAnotherWindowIsActive() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget other;
    other.setGeometry(QRect(form.geometry().bottomRight() + QPoint(20, 20), QSize(100, 50)));
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!form.isActiveWindow());

    // Presses of earlier tests left unreleased would travel with the moves: the toolkit shows
    // no tooltip while a button is down.
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        QTest::mouseRelease(&other, button);
    QWidget *area = form.form()->ImageControl1;
    QVERIFY(!area->toolTip().isEmpty());
    QTest::mouseMove(area, area->rect().center() - QPoint(5, 5));
    QTest::mouseMove(area, area->rect().center());
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), area->toolTip());
    QVERIFY(other.isActiveWindow());
    QToolTip::hideText();
}

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestNoteForm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_noteform.moc"
