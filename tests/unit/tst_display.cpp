#include "FakeServices.h"
#include "sticky/MonochromeEffect.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

struct Marks {
    bool ari;
    bool nasi;
};

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
private slots:
    void hintAndInfoText_data();
    void hintAndInfoText();
    void margin_data();
    void margin();
    void marginFollowsResize();
    void blinkSequence_data();
    void blinkSequence();
    void blinkOnTwiceKeepsPhase();
    void blinkAlternatesGreyFirst();
    void greyPixels_data();
    void greyPixels();
    void greyCoversFrameAndInfoBar();
    void menuCommands();
};

void TestDisplay::hintAndInfoText_data() {
    QTest::addColumn<QString>("letter");
    QTest::newRow("A") << "A";
    QTest::newRow("C") << "C";
    QTest::newRow("E") << "E";
}

void TestDisplay::hintAndInfoText() {
    QFETCH(QString, letter);
    FakeServices fakes;
    TForm1 form;
    form.hintHenkoHyoj(letter);
    QCOMPARE(form.form()->Label1->text(), "Ctrl+Alt+" + letter + " : フォーム表示On/Off");
    // The tooltip never names the chosen letter, only X for closing.
    QCOMPARE(form.form()->ImageControl1->toolTip(),
             QStringLiteral("マウス左ダブルクリック:貼り付け\r\n"
                            "マウス中ボタンドラッグ:フォーム移動\r\n"
                            "マウス左ボタンドラッグ:フォームサイズ変更\r\n"
                            "マウス右ボタン:ポップアップメニュー\r\n"
                            "Ctrl+Alt+X : Stiqletを閉じる"));
}

void TestDisplay::margin_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<bool>("ariAfter");
    QTest::addColumn<bool>("nasiAfter");

    // Starting from margin on, so that "other values touch no mark" shows.
    QTest::newRow("off") << -5 << QRect(-5, -5, 210, 210) << false << true;
    QTest::newRow("on") << 0 << QRect(0, 0, 200, 200) << true << false;
    QTest::newRow("other value moves the area only")
        << 10 << QRect(10, 10, 180, 180) << true << false;
    QTest::newRow("negative other value") << -20 << QRect(-20, -20, 240, 240) << true << false;
}

void TestDisplay::margin() {
    QFETCH(int, w);
    QFETCH(QRect, area);
    QFETCH(bool, ariAfter);
    QFETCH(bool, nasiAfter);
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.yohakSet(0);
    form.yohakSet(w);
    QCOMPARE(form.form()->ImageControl1->margin(), float(w));
    QCOMPARE(form.form()->ImageControl1->geometry(), area);
    QCOMPARE(form.form()->pmSubYoAri->isChecked(), ariAfter);
    QCOMPARE(form.form()->pmSubYoNasi->isChecked(), nasiAfter);
}

void TestDisplay::marginFollowsResize() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.form()->pmSubYoAri->trigger();
    form.resize(333, 121);
    QCOMPARE(form.form()->ImageControl1->geometry(), QRect(0, 0, 333, 121));
    form.form()->pmSubYoNasi->trigger();
    form.resize(90, 400);
    QCOMPARE(form.form()->ImageControl1->geometry(), QRect(-5, -5, 100, 410));
}

void TestDisplay::blinkSequence_data() {
    QTest::addColumn<QList<int>>("calls");
    QTest::addColumn<bool>("timerOn");
    QTest::addColumn<bool>("onMark");
    QTest::addColumn<bool>("offMark");

    QTest::newRow("start") << QList<int>{} << false << false << true;
    QTest::newRow("on") << QList<int>{1} << true << true << false;
    QTest::newRow("on, off") << QList<int>{1, 0} << false << false << true;
    QTest::newRow("on, on") << QList<int>{1, 1} << true << true << false;
    QTest::newRow("off, off") << QList<int>{0, 0} << false << false << true;
    QTest::newRow("on, other value") << QList<int>{1, 7} << true << true << false;
    QTest::newRow("other value alone") << QList<int>{-1} << false << false << true;
}

void TestDisplay::blinkSequence() {
    QFETCH(QList<int>, calls);
    QFETCH(bool, timerOn);
    QFETCH(bool, onMark);
    QFETCH(bool, offMark);
    FakeServices fakes;
    TForm1 form;
    for (int w : calls)
        form.tenmetuSet(w);
    QCOMPARE(form.Timer2.isActive(), timerOn);
    QCOMPARE(form.form()->pmSubTenmetuOn->isChecked(), onMark);
    QCOMPARE(form.form()->pmSubTenmetuOff->isChecked(), offMark);
    // Switching on never greys at once; switching off shows colour at once.
    QVERIFY(!form.MonochromeEffect1()->isEnabled());
}

void TestDisplay::blinkOnTwiceKeepsPhase() {
    FakeServices fakes;
    TForm1 form;
    form.tenmetuSet(1);
    QTest::qWait(600);
    const int before = form.Timer2.remainingTime();
    form.tenmetuSet(1);
    // A restart would put the full second back on the clock.
    QVERIFY2(form.Timer2.remainingTime() <= before, qPrintable(QString::number(before)));
    QVERIFY(form.Timer2.remainingTime() < 700);
}

void TestDisplay::blinkAlternatesGreyFirst() {
    FakeServices fakes;
    TForm1 form;
    form.tenmetuSet(1);
    QVERIFY(!form.MonochromeEffect1()->isEnabled());
    form.Timer2Timer();
    QVERIFY(form.MonochromeEffect1()->isEnabled());
    form.Timer2Timer();
    QVERIFY(!form.MonochromeEffect1()->isEnabled());
    form.Timer2Timer();
    form.tenmetuSet(0); // off while grey: colour at once
    QVERIFY(!form.MonochromeEffect1()->isEnabled());
    QVERIFY(!form.Timer2.isActive());
}

void TestDisplay::greyPixels_data() {
    QTest::addColumn<QRgb>("in");
    QTest::addColumn<QRgb>("out");
    QTest::newRow("red") << qRgba(255, 0, 0, 255) << qRgba(54, 54, 54, 255);
    QTest::newRow("green") << qRgba(0, 255, 0, 255) << qRgba(182, 182, 182, 255);
    QTest::newRow("blue") << qRgba(0, 0, 255, 255) << qRgba(18, 18, 18, 255);
    QTest::newRow("white") << qRgba(255, 255, 255, 255) << qRgba(255, 255, 255, 255);
    QTest::newRow("black") << qRgba(0, 0, 0, 255) << qRgba(0, 0, 0, 255);
    QTest::newRow("antique white") << qRgba(0xFA, 0xEB, 0xD7, 255) << qRgba(237, 237, 237, 255);
    QTest::newRow("half-transparent yellow")
        << qRgba(255, 255, 0, 128) << qRgba(237, 237, 237, 128);
    QTest::newRow("transparent") << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0);
}

// L = 0.2126 R + 0.7152 G + 0.0722 B in all three channels, alpha kept.
void TestDisplay::greyPixels() {
    QFETCH(QRgb, in);
    QFETCH(QRgb, out);
    QCOMPARE(greyPixel(in), out);
    const double exact = 0.2126 * qRed(in) + 0.7152 * qGreen(in) + 0.0722 * qBlue(in);
    QVERIFY(qAbs(qRed(out) - exact) <= 0.5);
}

// The grey layer is the whole image area: frame, picture and the info bar when shown; the
// stored picture keeps its colours.
void TestDisplay::greyCoversFrameAndInfoBar() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    form.yohakSet(0);
    QImage red(100, 50, QImage::Format_ARGB32);
    red.fill(Qt::red);
    form.form()->ImageControl1->setPicture(red);
    form.form()->Panel2->show();
    form.MonochromeEffect1()->setEnabled(true);
    const QImage shot = form.grab().toImage();
    for (const QPoint p : {QPoint(100, 100), QPoint(2, 100), QPoint(100, 12), QPoint(197, 197)}) {
        const QRgb c = shot.pixel(p);
        QVERIFY2(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c),
                 qPrintable(
                     QStringLiteral("(%1,%2) is %3").arg(p.x()).arg(p.y()).arg(QColor(c).name())));
    }
    QCOMPARE(qRed(shot.pixel(100, 100)), 54);
    QCOMPARE(QColor(form.form()->ImageControl1->picture().pixel(0, 0)), QColor(Qt::red));
    form.MonochromeEffect1()->setEnabled(false);
    QCOMPARE(QColor(form.grab().toImage().pixel(100, 100)), QColor(Qt::red));
}

// Menu commands: each item runs its one call; marks change only through the setters.
void TestDisplay::menuCommands() {
    FakeServices fakes;
    TForm1 form;
    form.show();
    auto *ui = form.form();
    ui->pmSubYoAri->trigger();
    QCOMPARE(ui->ImageControl1->margin(), 0.0f);
    ui->pmSubYoAri->trigger(); // already checked: still checked, not toggled off
    QVERIFY(ui->pmSubYoAri->isChecked());
    QVERIFY(!ui->pmSubYoNasi->isChecked());
    ui->pmSubTenmetuOn->trigger();
    ui->pmSubTenmetuOn->trigger();
    QVERIFY(ui->pmSubTenmetuOn->isChecked());
    QVERIFY(form.Timer2.isActive());
    ui->MenuItem1->trigger(); // inert
    QVERIFY(ui->pmSubTenmetuOn->isChecked());
    ui->pmSaisyouka->trigger();
    QVERIFY(form.windowState() & Qt::WindowMinimized);
    QVERIFY(form.Timer2.isActive()); // blinking goes on while minimised
    QVERIFY(form.isVisible());       // minimised still counts as shown
    ui->pmSubTenmetuOff->trigger();
    QVERIFY(!form.Timer2.isActive());
    QVERIFY(ui->pmSubTenmetuOff->isChecked());
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
