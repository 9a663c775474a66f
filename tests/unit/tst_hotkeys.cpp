#include "FakeServices.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>

namespace {

constexpr int Ctrl = platform::VK_CONTROL;
constexpr int Alt = platform::VK_MENU;
constexpr int Shift = 16;
constexpr int Win = 91;
constexpr int A = 'A', B = 'B', C = 'C', D = 'D', E = 'E', X = 'X';

// Longest a test lets the event loop run before it gives up on what it waits for.
constexpr int kWatchdogMs = 5000;

// Counts the requests to end the program that reach the application.
class QuitWatch : public QObject {
public:
    QuitWatch() { qApp->installEventFilter(this); }
    ~QuitWatch() override { qApp->removeEventFilter(this); }
    int quits = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == qApp && event->type() == QEvent::Quit)
            ++quits;
        return false;
    }
};

// Records what the program does to a window: shows, hides and closes, in order.
// What the program did to the note: "show" and "hide" when the note's shown flag changed, "close"
// when it was closed.
class WindowLog : public QObject {
public:
    explicit WindowLog(TForm1 *window)
        : m_window(window), m_shown(window->countsAsShown()) {
        window->installEventFilter(this);
    }
    ~WindowLog() override { m_window->removeEventFilter(this); }
    QStringList events;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        // Spontaneous events come from the desktop, not from the program.
        if (event->spontaneous())
            return false;
        switch (event->type()) {
        case QEvent::Close:
            events << QStringLiteral("close");
            break;
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            // Sent once the change is made.
            record();
            break;
        default:
            break;
        }
        return false;
    }

public:
    // Also called after a tick: hiding a minimised note changes only the flag.
    void record() {
        const bool shown = m_window->countsAsShown();
        if (shown != m_shown)
            events << (shown ? QStringLiteral("show") : QStringLiteral("hide"));
        m_shown = shown;
    }

private:
    TForm1 *m_window;
    bool m_shown;
};

// What happened while the event loop ran: timer ticks seen and whether the program was told
// to end.
struct LoopRun {
    int ticks = 0;
    bool ended = false;
};

// Runs `work` inside the application's event loop, where the program's handlers run (ending
// the program only works there), then leaves the loop.
LoopRun runInLoop(const std::function<void()> &work) {
    LoopRun run;
    QuitWatch watch;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        work();
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(kWatchdogMs, &context, [] { QCoreApplication::exit(1); });
    qApp->exec();
    run.ended = watch.quits > 0;
    return run;
}

// Lets the note's own hotkey timer run until it has ticked `ticks` times or `waitMs` passed.
LoopRun runTimer(TForm1 &form, int ticks, int waitMs = kWatchdogMs) {
    LoopRun run;
    QuitWatch watch;
    QObject context;
    // Connected after the note's own handler, so it runs after the tick's work.
    QObject::connect(&form.tmKiiOnOff, &QTimer::timeout, &context, [&] {
        if (++run.ticks >= ticks)
            QCoreApplication::exit(0);
    });
    QTimer::singleShot(waitMs, &context, [] { QCoreApplication::exit(0); });
    qApp->exec();
    run.ended = watch.quits > 0;
    return run;
}

QAction *letterItem(TForm1 &form, const QString &letter) {
    for (QAction *item : form.form()->pmSelectNum->actions())
        if (item->text() == letter)
            return item;
    return nullptr;
}

QStringList checkedLetters(TForm1 &form) {
    QStringList out;
    for (QAction *item : form.form()->pmSelectNum->actions())
        if (item->isChecked())
            out << item->text();
    return out;
}

void hold(FakeServices &fakes, const QList<int> &keys) {
    fakes.keys->down = QSet<int>(keys.begin(), keys.end());
}

} // namespace

class TestHotkeys : public QObject {
    Q_OBJECT
private slots:
    void tick_data();
    void tick();
    void everyTickWhileHeldFlipsAgain();
    void heldKeysThroughTheTimer();
    void monitoringSwitch_data();
    void monitoringSwitch();
    void switchingOnKeepsARunningInterval();
    void letterSubmenu_data();
    void letterSubmenu();
    void hideAndShowKeepPlaceAndSettings();
    void minimisedNoteHidesThenShows();
    void hiddenNoteKeepsItsWindowAndTheDesktopMayRestoreIt();
};

void TestHotkeys::tick_data() {
    QTest::addColumn<QString>("letter");
    QTest::addColumn<QString>("start"); // shown, hidden or minimised
    QTest::addColumn<QList<int>>("down");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("ends");

    using K = QList<int>;
    const QStringList none;
    const QStringList hide{"hide"};
    const QStringList show{"show"};
    const QStringList close{"close", "hide"};
    const QStringList closeHidden{"close"};

    QTest::newRow("no key") << "A"
                            << "shown" << K{} << none << false;
    QTest::newRow("Ctrl+Alt") << "A"
                              << "shown" << K{Ctrl, Alt} << none << false;
    QTest::newRow("A") << "A"
                       << "shown" << K{A} << none << false;
    QTest::newRow("Ctrl+A") << "A"
                            << "shown" << K{Ctrl, A} << none << false;
    QTest::newRow("Alt+A") << "A"
                           << "shown" << K{Alt, A} << none << false;
    QTest::newRow("Ctrl+Alt+A hides") << "A"
                                      << "shown" << K{Ctrl, Alt, A} << hide << false;
    QTest::newRow("Ctrl+Alt+A shows") << "A"
                                      << "hidden" << K{Ctrl, Alt, A} << show << false;
    QTest::newRow("Ctrl+Alt+A, minimised") << "A"
                                           << "minimised" << K{Ctrl, Alt, A} << hide << false;
    QTest::newRow("Ctrl+Alt+Shift+A") << "A"
                                      << "shown" << K{Ctrl, Alt, Shift, A} << hide << false;
    QTest::newRow("Ctrl+Alt+Windows+A") << "A"
                                        << "shown" << K{Ctrl, Alt, Win, A} << hide << false;
    QTest::newRow("Ctrl+Alt+B, letter A") << "A"
                                          << "shown" << K{Ctrl, Alt, B} << none << false;
    QTest::newRow("Ctrl+Alt+A, letter C") << "C"
                                          << "shown" << K{Ctrl, Alt, A} << none << false;
    QTest::newRow("Ctrl+Alt+C, letter C") << "C"
                                          << "shown" << K{Ctrl, Alt, C} << hide << false;
    QTest::newRow("Ctrl+Alt+C shows, letter C") << "C"
                                                << "hidden" << K{Ctrl, Alt, C} << show << false;
    QTest::newRow("Ctrl+Alt+Shift+C, letter C")
        << "C"
        << "shown" << K{Ctrl, Alt, Shift, C} << hide << false;
    QTest::newRow("Ctrl+C, letter C") << "C"
                                      << "shown" << K{Ctrl, C} << none << false;
    QTest::newRow("Ctrl+Alt+E, letter E") << "E"
                                          << "shown" << K{Ctrl, Alt, E} << hide << false;
    QTest::newRow("Ctrl+Alt+D, letter E") << "E"
                                          << "shown" << K{Ctrl, Alt, D} << none << false;
    QTest::newRow("Ctrl+Alt+X") << "A"
                                << "shown" << K{Ctrl, Alt, X} << close << true;
    QTest::newRow("Ctrl+Alt+X, hidden") << "A"
                                        << "hidden" << K{Ctrl, Alt, X} << closeHidden << true;
    QTest::newRow("Ctrl+Alt+X, minimised") << "A"
                                           << "minimised" << K{Ctrl, Alt, X} << close << true;
    QTest::newRow("Ctrl+Alt+Shift+X") << "A"
                                      << "shown" << K{Ctrl, Alt, Shift, X} << close << true;
    QTest::newRow("Ctrl+Alt+X, letter D") << "D"
                                          << "shown" << K{Ctrl, Alt, X} << close << true;
    QTest::newRow("Ctrl+X") << "A"
                            << "shown" << K{Ctrl, X} << none << false;
    QTest::newRow("Alt+X") << "A"
                           << "shown" << K{Alt, X} << none << false;
    QTest::newRow("X") << "A"
                       << "shown" << K{X} << none << false;
    // Both tests run in the same tick: the letter first, then X.
    QTest::newRow("Ctrl+Alt+A+X") << "A"
                                  << "shown" << K{Ctrl, Alt, A, X} << QStringList{"hide", "close"}
                                  << true;
    QTest::newRow("Ctrl+Alt+A+X, hidden")
        << "A"
        << "hidden" << K{Ctrl, Alt, A, X} << QStringList{"show", "close", "hide"} << true;
}

// One tick of the watch for a state of the keyboard: what it does to the note.
void TestHotkeys::tick() {
    QFETCH(QString, letter);
    QFETCH(QString, start);
    QFETCH(QList<int>, down);
    QFETCH(QStringList, events);
    QFETCH(bool, ends);

    FakeServices fakes;
    TForm1 form;
    form.show();
    // The ticks are delivered by hand here, one at a time.
    form.tmKiiOnOff.stop();
    QAction *item = letterItem(form, letter);
    QVERIFY(item);
    item->trigger();
    if (start == QLatin1String("hidden"))
        form.hideNote();
    else if (start == QLatin1String("minimised"))
        form.showMinimized();

    hold(fakes, down);
    WindowLog log(&form);
    const LoopRun run = runInLoop([&] { form.tmKiiOnOffTimer(); });
    log.record();
    QCOMPARE(log.events, events);
    QCOMPARE(run.ended, ends);
    QCOMPARE(fakes.keys->updates, 1); // one reading of the keyboard a tick
}

void TestHotkeys::everyTickWhileHeldFlipsAgain() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.tmKiiOnOff.stop();
    hold(fakes, {Ctrl, Alt, A});
    QList<bool> shown;
    for (int i = 0; i < 4; ++i) {
        form.tmKiiOnOffTimer();
        shown << form.countsAsShown();
    }
    QCOMPARE(shown, (QList<bool>{false, true, false, true}));
    QCOMPARE(fakes.keys->updates, 4);
}

// The note's own 100 ms timer drives the watch: held keys flip the note on each tick, and
// Ctrl+Alt+X ends the program from a tick.
void TestHotkeys::heldKeysThroughTheTimer() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    QVERIFY(form.tmKiiOnOff.isActive());
    QCOMPARE(form.tmKiiOnOff.interval(), 100);

    hold(fakes, {Ctrl, Alt, A});
    WindowLog log(&form);
    LoopRun run = runTimer(form, 3);
    QCOMPARE(run.ticks, 3);
    QCOMPARE(log.events, (QStringList{"hide", "show", "hide"}));
    QVERIFY(!run.ended);

    hold(fakes, {Ctrl, Alt, X});
    run = runTimer(form, 1);
    QCOMPARE(run.ticks, 1);
    QVERIFY(run.ended);
}

void TestHotkeys::monitoringSwitch_data() {
    QTest::addColumn<QStringList>("clicks"); // menu items chosen, in order
    QTest::addColumn<QList<int>>("down");
    QTest::addColumn<bool>("watching");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("ends");

    using K = QList<int>;
    const QStringList off{"無し"};
    const QStringList offOn{"無し", "有り"};
    QTest::newRow("start: Ctrl+Alt+A")
        << QStringList{} << K{Ctrl, Alt, A} << true << QStringList{"hide"} << false;
    QTest::newRow("off: Ctrl+Alt+A") << off << K{Ctrl, Alt, A} << false << QStringList{} << false;
    QTest::newRow("off: Ctrl+Alt+X") << off << K{Ctrl, Alt, X} << false << QStringList{} << false;
    QTest::newRow("off twice: Ctrl+Alt+X")
        << QStringList{"無し", "無し"} << K{Ctrl, Alt, X} << false << QStringList{} << false;
    QTest::newRow("off, on: Ctrl+Alt+A")
        << offOn << K{Ctrl, Alt, A} << true << QStringList{"hide"} << false;
    QTest::newRow("off, on: Ctrl+Alt+X")
        << offOn << K{Ctrl, Alt, X} << true << QStringList{"close", "hide"} << true;
    QTest::newRow("on while on: Ctrl+Alt+X")
        << QStringList{"有り"} << K{Ctrl, Alt, X} << true << QStringList{"close", "hide"} << true;
}

// The switch "キー入力監視" in the menu, with the note's own timer: off, neither combination
// does anything; on again, both work.
void TestHotkeys::monitoringSwitch() {
    QFETCH(QStringList, clicks);
    QFETCH(QList<int>, down);
    QFETCH(bool, watching);
    QFETCH(QStringList, events);
    QFETCH(bool, ends);

    FakeServices fakes;
    TForm1 form;
    form.show();
    auto *ui = form.form();
    for (const QString &caption : clicks)
        (caption == QStringLiteral("有り") ? ui->pmSubKiiOn : ui->pmSubKiiOff)->trigger();
    QCOMPARE(ui->pmSubKiiOn->isChecked(), watching);
    QCOMPARE(ui->pmSubKiiOff->isChecked(), !watching);
    QCOMPARE(form.tmKiiOnOff.isActive(), watching);

    hold(fakes, down);
    WindowLog log(&form);
    // Switched off, three and a half intervals pass without a tick.
    const LoopRun run = watching ? runTimer(form, 1) : runTimer(form, 1, 350);
    QCOMPARE(run.ticks, watching ? 1 : 0);
    QCOMPARE(fakes.keys->updates, run.ticks);
    QCOMPARE(log.events, events);
    QCOMPARE(run.ended, ends);
}

// Switching monitoring on while it runs does not start the interval afresh; after off, on
// starts a fresh one.
void TestHotkeys::switchingOnKeepsARunningInterval() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    auto *ui = form.form();
    // A long, precise interval makes the remaining time tell a restart from a running timer.
    form.tmKiiOnOff.setTimerType(Qt::PreciseTimer);
    form.tmKiiOnOff.start(60000);
    QThread::msleep(50);
    ui->pmSubKiiOn->trigger();
    QVERIFY(form.tmKiiOnOff.isActive());
    QVERIFY2(form.tmKiiOnOff.remainingTime() <= 60000 - 40,
             qPrintable(QString::number(form.tmKiiOnOff.remainingTime())));

    ui->pmSubKiiOff->trigger();
    QVERIFY(!form.tmKiiOnOff.isActive());
    QThread::msleep(50);
    ui->pmSubKiiOn->trigger();
    QVERIFY(form.tmKiiOnOff.isActive());
    QVERIFY2(form.tmKiiOnOff.remainingTime() > 60000 - 40,
             qPrintable(QString::number(form.tmKiiOnOff.remainingTime())));
}

void TestHotkeys::letterSubmenu_data() {
    QTest::addColumn<QStringList>("chosen"); // letter items chosen, in order
    QTest::addColumn<QString>("letter");

    QTest::newRow("start") << QStringList{} << "A";
    QTest::newRow("D") << QStringList{"D"} << "D";
    QTest::newRow("E") << QStringList{"E"} << "E";
    QTest::newRow("B then E") << QStringList{"B", "E"} << "E";
    QTest::newRow("C then A") << QStringList{"C", "A"} << "A";
    // Choosing the letter already checked keeps it checked.
    QTest::newRow("A again") << QStringList{"A"} << "A";
    QTest::newRow("D twice") << QStringList{"D", "D"} << "D";
}

void TestHotkeys::letterSubmenu() {
    QFETCH(QStringList, chosen);
    QFETCH(QString, letter);

    FakeServices fakes;
    TForm1 form;
    form.show();
    QStringList captions;
    for (QAction *item : form.form()->pmSelectNum->actions())
        captions << item->text();
    QCOMPARE(captions, (QStringList{"A", "B", "C", "D", "E"}));

    for (const QString &c : chosen) {
        QAction *item = letterItem(form, c);
        QVERIFY(item);
        item->trigger();
    }
    QCOMPARE(checkedLetters(form), QStringList{letter});
    QCOMPARE(selectedKey, letter);
    QCOMPARE(int(toggleKeyCode), int(letter.at(0).unicode()));
    QCOMPARE(int(closeKeyCode), int('X'));
    QCOMPARE(form.form()->Label1->text(),
             QStringLiteral("Ctrl+Alt+%1 : フォーム表示On/Off").arg(letter));
}

// A hide and a show by the hotkey bring the note back where it was, as large as it was, with
// the letter, the info-bar text and the monitoring as the user left them.
void TestHotkeys::hideAndShowKeepPlaceAndSettings() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    auto *ui = form.form();
    // Monitoring off: the timer stays out of the way of the ticks given by hand.
    ui->pmSubKiiOff->trigger();
    letterItem(form, QStringLiteral("C"))->trigger();
    form.move(form.pos() + QPoint(37, -21));
    form.resize(260, 90);
    const QRect before = form.geometry();
    const QString label = ui->Label1->text();

    hold(fakes, {Ctrl, Alt, C});
    form.tmKiiOnOffTimer();
    QVERIFY(!form.countsAsShown());
    form.tmKiiOnOffTimer();
    QVERIFY(form.countsAsShown());
    QCOMPARE(form.geometry(), before);
    QCOMPARE(ui->pmSelectNum->actions().size(), 5);
    QCOMPARE(checkedLetters(form), QStringList{"C"});
    QCOMPARE(ui->Label1->text(), label);
    QVERIFY(!form.tmKiiOnOff.isActive());
    QVERIFY(ui->pmSubKiiOff->isChecked());
    QVERIFY(!ui->pmSubKiiOn->isChecked());
}

// A minimised note counts as shown: the first Ctrl+Alt+letter hides it, the next shows it.
void TestHotkeys::minimisedNoteHidesThenShows() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.tmKiiOnOff.stop();
    form.form()->pmSaisyouka->trigger();
    QVERIFY(form.isMinimized());
    QVERIFY(form.isVisible());

    hold(fakes, {Ctrl, Alt, A});
    form.tmKiiOnOffTimer();
    QVERIFY(!form.countsAsShown());
    form.tmKiiOnOffTimer();
    QVERIFY(form.countsAsShown());
    QVERIFY(!form.isMinimized());
}

// A hidden note keeps its window (and so its task-bar entry), minimised; the desktop's restore of
// that entry shows the note, after which the hotkey hides and shows a normal window.
void TestHotkeys::hiddenNoteKeepsItsWindowAndTheDesktopMayRestoreIt() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.tmKiiOnOff.stop();
    hold(fakes, {Ctrl, Alt, A});
    form.tmKiiOnOffTimer();
    QVERIFY(!form.countsAsShown());
    QVERIFY(form.isVisible());
    QVERIFY(form.isMinimized());

    // The task bar's restore, as the window system reports it.
    form.setWindowState(Qt::WindowNoState);
    QVERIFY(form.countsAsShown());

    form.tmKiiOnOffTimer();
    QVERIFY(!form.countsAsShown());
    form.tmKiiOnOffTimer();
    QVERIFY(form.countsAsShown());
    QVERIFY(!form.isMinimized());
    QCOMPARE(form.windowState(), Qt::WindowNoState);
}

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // As in the program: only the note's own close ends it.
    app.setQuitOnLastWindowClosed(false);
    TestHotkeys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hotkeys.moc"
