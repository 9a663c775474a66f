#include "FakeServices.h"
#include "sticky/ImageControl.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QTest>

class TestImageControl : public QObject {
    Q_OBJECT
private slots:
    void fitRect_data();
    void fitRect();
    void devicePixels_data();
    void devicePixels();
    void pictureInWindow_data();
    void pictureInWindow();
    void drawsFittedPicture_data();
    void drawsFittedPicture();
    void emptyPictureDrawsFrameOnly();
    void pictureIsACopy();
};

void TestImageControl::fitRect_data() {
    QTest::addColumn<QSizeF>("picture");
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<QRectF>("fitted");

    QTest::newRow("square grows to fill")
        << QSizeF(64, 64) << QRectF(0, 0, 200, 200) << QRectF(0, 0, 200, 200);
    QTest::newRow("wide shrinks, centred vertically")
        << QSizeF(1000, 500) << QRectF(0, 0, 200, 200) << QRectF(0, 50, 200, 100);
    QTest::newRow("tall shrinks, centred horizontally")
        << QSizeF(50, 200) << QRectF(0, 0, 200, 100) << QRectF(87.5, 0, 25, 100);
    QTest::newRow("box offset is kept")
        << QSizeF(300, 100) << QRectF(5, 5, 390, 190) << QRectF(5, 35, 390, 130);
    QTest::newRow("same aspect fills exactly")
        << QSizeF(400, 200) << QRectF(10, 20, 100, 50) << QRectF(10, 20, 100, 50);
    QTest::newRow("one pixel picture")
        << QSizeF(1, 1) << QRectF(0, 0, 50, 80) << QRectF(0, 15, 50, 50);
    QTest::newRow("empty picture") << QSizeF(0, 0) << QRectF(0, 0, 200, 200) << QRectF();
    QTest::newRow("empty box") << QSizeF(64, 64) << QRectF(0, 0, 0, 10) << QRectF();
}

void TestImageControl::fitRect() {
    QFETCH(QSizeF, picture);
    QFETCH(QRectF, box);
    QFETCH(QRectF, fitted);
    QCOMPARE(fitPictureRect(picture, box), fitted);
}

// Where the note draws a picture, in window coordinates, for the two margin modes: with the
// margin off the picture's box is the whole client area; with it on, inset by 5 on every side.
void TestImageControl::devicePixels_data() {
    QTest::addColumn<QRectF>("target");
    QTest::addColumn<QPointF>("offset");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<QRect>("expected");
    // Margin off: the area starts 5 units outside the window, its picture box is the window.
    for (const qreal dpr : {1.0, 1.25, 1.5, 1.75, 2.0}) {
        for (const QSize size : {QSize(200, 200), QSize(1280, 800), QSize(333, 77)}) {
            QTest::addRow("margin off, %dx%d at %g", size.width(), size.height(), dpr)
                << QRectF(QPointF(5, 5), QSizeF(size)) << QPointF(-5, -5) << dpr
                << QRect(0, 0, qRound(size.width() * dpr), qRound(size.height() * dpr));
        }
    }
    // Margin on: the area is the window, the box inset 5 units.
    QTest::newRow("margin on, 200x200 at 1.5")
        << QRectF(5, 5, 190, 190) << QPointF(0, 0) << 1.5 << QRect(8, 8, 285, 285);
    QTest::newRow("margin on, 1280x800 at 1.25")
        << QRectF(5, 5, 1270, 790) << QPointF(0, 0) << 1.25 << QRect(6, 6, 1588, 988);
    // A picture narrower than its box, centred at a fraction of a unit.
    QTest::newRow("centred at 12.5 units, 1.5")
        << QRectF(17.5, 5, 100, 200) << QPointF(-5, -5) << 1.5 << QRect(19, 0, 150, 300);
}

// The picture covers whole device pixels of the window, edge to edge when its box is the window.
void TestImageControl::devicePixels() {
    QFETCH(QRectF, target);
    QFETCH(QPointF, offset);
    QFETCH(qreal, dpr);
    QFETCH(QRect, expected);
    QCOMPARE(devicePictureRect(target, offset, dpr), expected);
}

void TestImageControl::pictureInWindow_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("margin");
    QTest::addColumn<QRectF>("drawn");

    QTest::newRow("start picture, margin off")
        << QSize(64, 64) << QSize(200, 200) << -5 << QRectF(0, 0, 200, 200);
    QTest::newRow("1000x500, margin off")
        << QSize(1000, 500) << QSize(200, 200) << -5 << QRectF(0, 50, 200, 100);
    QTest::newRow("1000x500, margin on")
        << QSize(1000, 500) << QSize(200, 200) << 0 << QRectF(5, 52.5, 190, 95);
    QTest::newRow("300x100 in wide window, margin on")
        << QSize(300, 100) << QSize(400, 200) << 0 << QRectF(5, 35, 390, 130);
    QTest::newRow("300x100 in wide window, margin off")
        << QSize(300, 100) << QSize(400, 200) << -5 << QRectF(0, 100.0 / 3, 400, 400.0 / 3);
    QTest::newRow("smallest window, margin on")
        << QSize(64, 64) << QSize(50, 50) << 0 << QRectF(5, 5, 40, 40);
}

void TestImageControl::pictureInWindow() {
    QFETCH(QSize, picture);
    QFETCH(QSize, window);
    QFETCH(int, margin);
    QFETCH(QRectF, drawn);

    FakeServices fakes;
    TForm1 form;
    form.show();
    form.yohakSet(margin);
    form.resize(window);
    ImageControl *area = form.form()->ImageControl1;
    area->setPicture(QImage(picture, QImage::Format_ARGB32));
    // The image area is the client rectangle shrunk by the margin, whatever the size.
    QCOMPARE(area->geometry(),
             QRect(margin, margin, window.width() - 2 * margin, window.height() - 2 * margin));
    const QRectF actual = area->pictureRect().translated(area->pos());
    QVERIFY2(qAbs(actual.x() - drawn.x()) < 1e-6 && qAbs(actual.y() - drawn.y()) < 1e-6 &&
                 qAbs(actual.width() - drawn.width()) < 1e-6 &&
                 qAbs(actual.height() - drawn.height()) < 1e-6,
             qPrintable(QStringLiteral("drawn at %1,%2 %3x%4")
                            .arg(actual.x())
                            .arg(actual.y())
                            .arg(actual.width())
                            .arg(actual.height())));
}

void TestImageControl::drawsFittedPicture_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("drawn"); // in the 200 x 200 window
    QTest::newRow("1000 x 500: centred vertically") << QSize(1000, 500) << QRect(0, 50, 200, 100);
    QTest::newRow("scrolling screenshot, 1080 x 20000")
        << QSize(1080, 20000) << QRect(95, 0, 10, 200);
    QTest::newRow("40000 x 2000") << QSize(40000, 2000) << QRect(0, 95, 200, 10);
}

// Fitted into the window whatever its shape: its first half red, its second blue, along its
// length.
void TestImageControl::drawsFittedPicture() {
    QFETCH(QSize, size);
    QFETCH(QRect, drawn);
    FakeServices fakes;
    TForm1 form;
    form.show();
    const bool tall = size.height() > size.width();
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    const QSize firstHalf =
        tall ? QSize(size.width(), size.height() / 2) : QSize(size.width() / 2, size.height());
    for (int y = 0; y < firstHalf.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(picture.scanLine(y)), firstHalf.width(),
                    qRgb(255, 0, 0));
    form.form()->ImageControl1->setPicture(picture);
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.size(), QSize(200, 200));
    const auto colourAt = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
    // The first and last rows and columns drawn, the halves where they belong, nothing outside.
    const QPoint first = drawn.topLeft();
    const QPoint last = drawn.bottomRight();
    QCOMPARE(colourAt(first.x(), first.y()), QColor(Qt::red));
    QCOMPARE(colourAt(last.x(), last.y()), QColor(Qt::blue));
    QCOMPARE(colourAt(tall ? last.x() : first.x(), tall ? first.y() : last.y()), QColor(Qt::red));
    QCOMPARE(colourAt(tall ? first.x() : last.x(), tall ? last.y() : first.y()), QColor(Qt::blue));
    const QRect around = drawn.adjusted(-1, -1, 1, 1) & shot.rect();
    for (int y = around.top(); y <= around.bottom(); ++y)
        for (int x = around.left(); x <= around.right(); ++x)
            if (!drawn.contains(x, y))
                QVERIFY2(colourAt(x, y) != QColor(Qt::red) && colourAt(x, y) != QColor(Qt::blue),
                         qPrintable(QStringLiteral("picture drawn at %1, %2").arg(x).arg(y)));
}

void TestImageControl::emptyPictureDrawsFrameOnly() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    ImageControl *area = form.form()->ImageControl1;
    area->setPicture(QImage());
    QCOMPARE(area->picture().size(), QSize(0, 0));
    QVERIFY(area->pictureRect().isEmpty());
    const QImage shot = form.grab().toImage();
    const QRgb background = shot.pixel(100, 100);
    for (int y = 10; y < 190; y += 30)
        for (int x = 10; x < 190; x += 30)
            QCOMPARE(shot.pixel(x, y), background);
}

// The picture keeps its own pixels: changing the image it was given changes nothing.
void TestImageControl::pictureIsACopy() {
    FakeServices fakes;
    TForm1 form;
    QImage source(4, 4, QImage::Format_ARGB32);
    source.fill(Qt::blue);
    form.form()->ImageControl1->setPicture(source);
    source.fill(Qt::green);
    QCOMPARE(QColor(form.form()->ImageControl1->picture().pixel(1, 1)), QColor(Qt::blue));
}

QTEST_MAIN(TestImageControl)
#include "tst_imagecontrol.moc"
