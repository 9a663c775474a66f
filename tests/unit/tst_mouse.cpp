#include "FakeServices.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

Q_DECLARE_METATYPE(QList<QPointF>)

namespace {

const QPoint kWindowAt(100, 100);

// Hands one mouse event to the note's window as the desktop would, with an exact (possibly
// fractional) screen position; Qt routes it to the control under the pointer or holding the
// grab. Events are far apart in time unless a double-click is wanted.
ulong eventTime = 1;
void send(QWidget *area, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held,
          QPointF global, ulong after = 5000) {
    QWindow *window = area->window()->windowHandle();
    eventTime += after;
    qt_handleMouseEvent(window, global - QPointF(area->window()->pos()), global, held, button, type,
                        Qt::NoModifier, int(eventTime));
    QCoreApplication::processEvents();
}

// A shown 200 x 200 note at a known place.
struct Note {
    FakeServices fakes;
    TForm1 form;
    Note() {
        form.show();
        form.move(kWindowAt);
    }
    QWidget *area() { return form.form()->ImageControl1; }
    QPointF at(QPointF offset) const { return QPointF(kWindowAt) + offset; }
    void press(Qt::MouseButton b, Qt::MouseButtons held, QPointF offset) {
        send(area(), QEvent::MouseButtonPress, b, held, at(offset));
    }
    void moveTo(Qt::MouseButtons held, QPointF offset) {
        send(area(), QEvent::MouseMove, Qt::NoButton, held, at(offset));
    }
    void release(Qt::MouseButton b, Qt::MouseButtons held, QPointF offset) {
        send(area(), QEvent::MouseButtonRelease, b, held, at(offset));
    }
};

} // namespace

class TestMouse : public QObject {
    Q_OBJECT
private slots:
    void resizeDrag_data();
    void resizeDrag();
    void leavingEndsResize();
    void middleDragMoves();
    void middlePressDuringResizeMoves();
    void infoBarFollowsPointer();
    void sizeSettlesAfterLateAnswer();
    void menuOrModalBoxEndsDrags();
    void doubleClickPasteKeepsSize();
};

void TestMouse::resizeDrag_data() {
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QList<QPointF>>("path"); // pointer offsets from the window's corner
    QTest::addColumn<QSize>("size");

    QList<QPointF> tenSteps;
    for (int i = 1; i <= 10; ++i)
        tenSteps << QPointF(150 + 10 * i, 150 - 5 * i);
    QTest::newRow("+100,-50 in ten steps") << QPointF(150, 150) << tenSteps << QSize(300, 150);
    QTest::newRow("+100,-50 in one step, onto the edge")
        << QPointF(100, 100) << QList<QPointF>{{200, 50}} << QSize(300, 150);
    QTest::newRow("up and left past the floor")
        << QPointF(190, 190) << QList<QPointF>{{140, 140}, {60, 60}, {45, 45}, {30, 30}}
        << QSize(50, 50);
    QList<QPointF> leftOnly;
    for (int d = 10; d <= 150; d += 10)
        leftOnly << QPointF(150 - d, 150 + d / 5);
    QTest::newRow("floor on one axis") << QPointF(150, 150) << leftOnly << QSize(50, 230);
    QTest::newRow("halves round to even")
        << QPointF(100, 100) << QList<QPointF>{{102.5, 103.5}} << QSize(202, 204);
    QTest::newRow("negative halves round to even")
        << QPointF(100, 100) << QList<QPointF>{{97.5, 96.5}} << QSize(198, 196);
    QTest::newRow("fractions round to nearest")
        << QPointF(100.25, 100.75) << QList<QPointF>{{100.6, 101.2}} << QSize(200, 200);
    QTest::newRow("last position decides")
        << QPointF(100, 100) << QList<QPointF>{{180, 180}, {120, 90}} << QSize(220, 190);
}

void TestMouse::resizeDrag() {
    QFETCH(QPointF, press);
    QFETCH(QList<QPointF>, path);
    QFETCH(QSize, size);
    Note note;
    note.press(Qt::LeftButton, Qt::LeftButton, press);
    QVERIFY(resizing);
    QCOMPARE(resizeStartWidth, 200);
    QCOMPARE(resizeStartHeight, 200);
    for (const QPointF &p : path)
        note.moveTo(Qt::LeftButton, p);
    note.release(Qt::LeftButton, Qt::NoButton, path.last());
    QVERIFY(!resizing);
    QCOMPARE(note.form.size(), size);
    QCOMPARE(note.form.pos(), kWindowAt); // the top-left corner stays
}

void TestMouse::leavingEndsResize() {
    Note note;
    note.form.form()->Panel2->show();
    note.press(Qt::LeftButton, Qt::LeftButton, {150, 150});
    note.moveTo(Qt::LeftButton, {170, 160});
    QCOMPARE(note.form.size(), QSize(220, 210));
    // The pointer outruns the corner: the window no longer follows, even when it comes back.
    note.moveTo(Qt::LeftButton, {260, 160});
    QVERIFY(!resizing);
    QVERIFY(note.form.form()->Panel2->isHidden());
    note.moveTo(Qt::LeftButton, {200, 200});
    QCOMPARE(note.form.size(), QSize(220, 210));
    note.release(Qt::LeftButton, Qt::NoButton, {200, 200});
    QCOMPARE(note.form.size(), QSize(220, 210));
}

void TestMouse::middleDragMoves() {
    Note note;
    note.press(Qt::MiddleButton, Qt::MiddleButton, {50, 60});
    QVERIFY(!resizing);
    note.moveTo(Qt::MiddleButton, {90, 80});
    note.moveTo(Qt::MiddleButton, {120, 100});
    QCOMPARE(note.form.pos(), kWindowAt + QPoint(70, 40));
    QCOMPARE(note.form.size(), QSize(200, 200));
    note.release(Qt::MiddleButton, Qt::NoButton, {120, 100});
    // Any release ends the move.
    note.moveTo(Qt::NoButton, {200, 200});
    QCOMPARE(note.form.pos(), kWindowAt + QPoint(70, 40));
}

void TestMouse::middlePressDuringResizeMoves() {
    Note note;
    note.press(Qt::LeftButton, Qt::LeftButton, {150, 150});
    note.moveTo(Qt::LeftButton, {170, 150});
    QCOMPARE(note.form.size(), QSize(220, 200));
    note.press(Qt::MiddleButton, Qt::LeftButton | Qt::MiddleButton, {170, 150});
    note.moveTo(Qt::LeftButton | Qt::MiddleButton, {200, 160});
    QCOMPARE(note.form.pos(), kWindowAt + QPoint(30, 10));
    QCOMPARE(note.form.size(), QSize(220, 200));
    note.release(Qt::MiddleButton, Qt::LeftButton, {200, 160});
    QVERIFY(!resizing);
    const QPoint pos = note.form.pos();
    note.moveTo(Qt::LeftButton, {150, 150});
    QCOMPARE(note.form.pos(), pos);
    QCOMPARE(note.form.size(), QSize(220, 200));
}

void TestMouse::infoBarFollowsPointer() {
    Note note;
    QWidget *bar = note.form.form()->Panel2;
    QVERIFY(bar->isHidden());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), note.at({10, 10}));
    QCoreApplication::sendEvent(note.area(), &enter);
    QVERIFY(bar->isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(note.area(), &leave);
    QVERIFY(bar->isHidden());
}

// A window manager that answers late may leave the window at an older size than the last move
// asked for; the note asks again once the drag is over.
void TestMouse::sizeSettlesAfterLateAnswer() {
    Note note;
    note.press(Qt::LeftButton, Qt::LeftButton, {100, 100});
    note.moveTo(Qt::LeftButton, {130, 110});
    note.release(Qt::LeftButton, Qt::NoButton, {130, 110});
    note.form.resize(215, 205); // an older answer arriving after the release
    QTRY_COMPARE(note.form.size(), QSize(230, 210));
}

void TestMouse::menuOrModalBoxEndsDrags() {
    Note note;
    note.press(Qt::LeftButton, Qt::LeftButton, {100, 100});
    QEvent blocked(QEvent::WindowBlocked);
    QCoreApplication::sendEvent(&note.form, &blocked);
    QVERIFY(!resizing);

    // Left held, right pressed: the menu opens and takes the release.
    note.press(Qt::LeftButton, Qt::LeftButton, {100, 100});
    QTimer::singleShot(0, this, [] {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    });
    note.press(Qt::RightButton, Qt::LeftButton | Qt::RightButton, {100, 100});
    QVERIFY(!resizing);
    note.moveTo(Qt::NoButton, {150, 150});
    QCOMPARE(note.form.size(), QSize(200, 200));
}

void TestMouse::doubleClickPasteKeepsSize() {
    Note note;
    note.fakes.clipboard->value.kind = platform::ClipboardValue::Kind::Image;
    note.fakes.clipboard->value.image = QImage(10, 10, QImage::Format_ARGB32);
    note.press(Qt::LeftButton, Qt::LeftButton, {100, 100});
    send(note.area(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, note.at({100, 100}),
         10);
    QSignalSpy downs(note.form.form()->ImageControl1, &ImageControl::mouseDown);
    send(note.area(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, note.at({100, 100}),
         10);
    // The second press is reported once, marked as double, and then pastes.
    QCOMPARE(downs.count(), 1);
    QVERIFY(downs[0][1].value<TShiftState>() & ssDouble);
    QCOMPARE(note.form.form()->ImageControl1->picture().size(), QSize(10, 10));
    QVERIFY(resizing); // armed by the second press...
    note.release(Qt::LeftButton, Qt::NoButton, {100, 100});
    QVERIFY(!resizing); // ...and ended by its release
    QCOMPARE(note.form.size(), QSize(200, 200));
}

QTEST_MAIN(TestMouse)
#include "tst_mouse.moc"
