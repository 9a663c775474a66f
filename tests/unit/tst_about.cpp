#include "FakeServices.h"
#include "about/ImageViewer.h"
#include "about/Unit3.h"
#include "sticky/Unit1.h"
#include "ui_Unit3.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

namespace {

const QString kVersion = QStringLiteral("Stiqlet V1.4");

QStringList memoLines(const QPlainTextEdit *memo) {
    QStringList lines;
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

// The help text as the resource file holds it, one entry per line (the final line feed ends
// the last line).
QStringList helpFileLines() {
    QFile file(QStringLiteral(":/help/help.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void turnWheel(QWidget *widget, int angle) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// Centred on the screen, but never above or left of it (the test screen is smaller than the
// window).
// Where a window with its frame stands when centred in the work area: its pos().
QPoint screenCentredPosition(const QWidget &window) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize outer = window.frameGeometry().size();
    return {qMax(area.x(), area.x() + (area.width() - outer.width()) / 2),
            qMax(area.y(), area.y() + (area.height() - outer.height()) / 2)};
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void init();
    void stateAfterCreation();
    void windowDefinition();
    void controls_data();
    void controls();
    void memoIsReadOnlyAndDoesNotWrap();
    void helpTextSections();
    void openingTwiceShowsVersionOnce();
    void zoom_data();
    void zoom();
    void artAtNaturalSizeCentred();
    void closingHidesAndKeepsPlaceAndScroll();
    void escapeHidesAndKeepsPlace();
    void creditLineIsTheHelpTextsOwn();
    void fitsTheWorkArea_data();
    void fitsTheWorkArea();
};

void TestAbout::init() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect|QPixmap")));
}

void TestAbout::stateAfterCreation() {
    TForm3 form;
    QCOMPARE(Form3, &form);
    QCOMPARE(form.windowTitle(), kVersion);
    QCOMPARE(form.form()->lblExeVasion->text(), kVersion);

    const QStringList lines = memoLines(form.form()->Memo1);
    const QStringList help = helpFileLines();
    QVERIFY(!help.isEmpty());
    QCOMPARE(lines.mid(0, 2), (QStringList{kVersion, QString()}));
    QCOMPARE(lines.mid(2), help);
    QCOMPARE(form.form()->Memo1->textCursor().position(), 0);
    QVERIFY(!form.isVisible());
}

void TestAbout::windowDefinition() {
    TForm3 form;
    QCOMPARE(form.objectName(), QStringLiteral("Form3"));
    QCOMPARE(form.windowType(), Qt::Tool);
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::FramelessWindowHint));
    QCOMPARE(form.size(), QSize(648, 678));
    QCOMPARE(form.minimumSize(), QSize(648, 678));
    QCOMPARE(form.maximumSize(), QSize(648, 678));
}

void TestAbout::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("pixelSize");  // 0: no text of its own
    QTest::addColumn<QString>("family"); // empty: the desktop's user-interface font

    QTest::newRow("ImageViewer1") << "ImageViewer1" << QRect(8, 8, 49, 49) << 0 << QString();
    QTest::newRow("lblExeVasion") << "lblExeVasion" << QRect(65, 8, 248, 23) << 20 << QString();
    QTest::newRow("Label2") << "Label2" << QRect(65, 39, 153, 17) << 14 << "Arial";
    QTest::newRow("Memo1") << "Memo1" << QRect(9, 65, 631, 598) << 16 << QString();
}

void TestAbout::controls() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(int, pixelSize);
    QFETCH(QString, family);

    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &form);
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (pixelSize == 0)
        return;

    const QFont font = control->font();
    QCOMPARE(font.pixelSize(), pixelSize);
    QCOMPARE(font.family(), family.isEmpty() ? QApplication::font().family() : family);
    QVERIFY(!font.bold());
    QVERIFY(!font.italic());
    QCOMPARE(control->palette().color(control->foregroundRole()), QColor(Qt::black));

    if (auto *label = qobject_cast<QLabel *>(control)) {
        QCOMPARE(label->alignment() & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask),
                 Qt::AlignLeft | Qt::AlignVCenter);
        // The label's text is not cut off at its right edge.
        QVERIFY2(QFontMetrics(font).horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->text()));
    }
}

void TestAbout::memoIsReadOnlyAndDoesNotWrap() {
    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QPlainTextEdit *memo = form.form()->Memo1;
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    // One text line per line of the help text: none is broken in two.
    QCOMPARE(memo->document()->lineCount(), memo->blockCount());
    // Longer and wider than the box: it scrolls both ways, starting at the top left.
    QVERIFY(memo->verticalScrollBar()->maximum() > 0);
    QVERIFY(memo->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(memo->verticalScrollBar()->value(), 0);
    QCOMPARE(memo->horizontalScrollBar()->value(), 0);

    const QString before = memo->toPlainText();
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("abc"));
    QTest::keyClick(memo, Qt::Key_Delete);
    QTest::keyClick(memo, Qt::Key_Return);
    QCOMPARE(memo->toPlainText(), before);

    // The text can be selected and copied.
    QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(memo->textCursor().selectedText().size(), before.size());
}

// The headings in their order, the line of slashes directly before the next heading, one empty
// line between sections, the change history, and one empty line at the end.
void TestAbout::helpTextSections() {
    const QStringList lines = helpFileLines();
    QVERIFY(lines.size() > 10);
    QCOMPARE(lines.last(), QString());
    QVERIFY(!lines.at(lines.size() - 2).isEmpty());

    // A section starts at the top and after every empty line.
    QStringList starts{lines.first()};
    for (int i = 1; i < lines.size() - 1; ++i)
        if (lines.at(i - 1).isEmpty())
            starts << lines.at(i);
    const QString slashes(78, QLatin1Char('/'));
    QCOMPARE(starts.size(), 13);
    QCOMPARE(starts.at(0), QStringLiteral("・ソフトの概要"));
    QCOMPARE(starts.at(3), QStringLiteral("・動作環境"));
    QCOMPARE(starts.at(4), QStringLiteral("・インストール・アンインストール方法"));
    QCOMPARE(starts.mid(6),
             (QStringList{slashes, "【画面】", "【ポップアップメニューの項目について】",
                          "【設定保存】", "【便利な使い方】", "【仕様】", "【変更履歴】"}));
    const int slashLine = lines.indexOf(slashes);
    QCOMPARE(lines.at(slashLine + 1), QStringLiteral("【付箋について】"));
    QCOMPARE(lines.count(QString()), starts.size());

    const int settings = lines.indexOf(QStringLiteral("【設定保存】"));
    QCOMPARE(lines.at(settings + 1), QStringLiteral("設定保存はありません"));
    QVERIFY(lines.at(settings + 2).isEmpty());

    const int history = lines.indexOf(QStringLiteral("【変更履歴】"));
    const QStringList entries = lines.mid(history + 1, 5);
    const QStringList expected{"V1.0 (2025/09/30) ", "V1.1 (2025/09/30) ", "V1.2 (2025/10/01) ",
                               "V1.3 (2025/10/03) ", "V1.4 (2025/10/03) "};
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(entries.value(i).startsWith(expected.at(i)), qPrintable(entries.value(i)));
    QCOMPARE(history + 1 + expected.size(), lines.size() - 1);

    // The menu entries come in the menu's order.
    const QStringList menu{"キー入力監視", "フォーム表示On/Offキー文字",
                           "貼り付け",     "画面クリア",
                           "余白",         "モノクロ点滅",
                           "最小化",       "About",
                           "----------",   "Stiqletの終了"};
    int at = lines.indexOf(QStringLiteral("【ポップアップメニューの項目について】"));
    for (const QString &item : menu) {
        const int found = lines.indexOf(item, at + 1);
        QVERIFY2(found > at && found < settings, qPrintable(item));
        at = found;
    }
}

void TestAbout::openingTwiceShowsVersionOnce() {
    FakeServices fakes;
    TForm1 note;
    TForm3 about;
    note.show();
    note.pmAboutClick();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    note.pmAboutClick();
    about.close();
    note.pmAboutClick();
    QVERIFY(about.isVisible());

    const QStringList lines = memoLines(about.form()->Memo1);
    QCOMPARE(lines.first(), kVersion);
    QCOMPARE(lines.count(kVersion), 1);
    QCOMPARE(lines.mid(2), helpFileLines());
    QCOMPARE(about.windowTitle(), kVersion);
    const auto shown = [] {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            n += qobject_cast<TForm3 *>(w) && w->isVisible();
        return n;
    };
    QCOMPARE(shown(), 1);
}

void TestAbout::zoom_data() {
    // Wheel turns in notches (one notch is 120 eighths of a degree), and the scale they leave.
    QTest::addColumn<QList<double>>("turns");
    QTest::addColumn<double>("scale");

    QTest::newRow("none") << QList<double>{} << 1.0;
    QTest::newRow("one notch up") << QList<double>{1} << 1.04;
    QTest::newRow("one notch down") << QList<double>{-1} << 0.96;
    QTest::newRow("ten up, three down") << QList<double>{10, -3} << 1.28;
    QTest::newRow("half a notch") << QList<double>{0.5} << 1.02;
    QTest::newRow("smallest step above floor") << QList<double>{-24} << 0.04;
    QTest::newRow("down to floor") << QList<double>{-25} << 0.01;
    QTest::newRow("below floor") << QList<double>{-100} << 0.01;
    QTest::newRow("up from floor") << QList<double>{-100, 1} << 0.05;
    QTest::newRow("up to ceiling") << QList<double>{225} << 10.0;
    QTest::newRow("beyond ceiling") << QList<double>{1000} << 10.0;
    QTest::newRow("down from ceiling") << QList<double>{1000, -1} << 9.96;
    QTest::newRow("one notch at a time") << QList<double>(30, -1) << 0.01;
}

void TestAbout::zoom() {
    QFETCH(QList<double>, turns);
    QFETCH(double, scale);

    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImageViewer *viewer = form.form()->ImageViewer1;
    for (double notches : turns)
        turnWheel(viewer, qRound(notches * 120));
    QVERIFY2(qAbs(viewer->scale() - scale) < 1e-9, qPrintable(QString::number(viewer->scale())));
    // The scale decides the drawn size, about the box's centre.
    const QRectF drawn = viewer->pictureRect();
    QVERIFY(qAbs(drawn.width() - 45 * scale) < 1e-6);
    QVERIFY(qAbs(drawn.center().x() - 24.5) < 1e-6);
    QVERIFY(qAbs(drawn.center().y() - 24.5) < 1e-6);
}

// The 45 × 45 art is drawn pixel for pixel in the middle of the 49 × 49 box, inside its frame.
void TestAbout::artAtNaturalSizeCentred() {
    TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImageViewer *viewer = form.form()->ImageViewer1;
    const QImage art =
        QImage(QStringLiteral(":/art/stiqlet-45.png")).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(art.size(), QSize(45, 45));
    QCOMPARE(viewer->picture().size(), art.size());

    const QImage shot = viewer->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shot.size(), QSize(49, 49));
    int opaque = 0;
    for (int y = 0; y < art.height(); ++y) {
        for (int x = 0; x < art.width(); ++x) {
            const QRgb p = art.pixel(x, y);
            if (qAlpha(p) != 255)
                continue;
            ++opaque;
            if (shot.pixel(x + 2, y + 2) != p)
                QFAIL(qPrintable(QStringLiteral("art pixel (%1, %2) not at (%3, %4)")
                                     .arg(x)
                                     .arg(y)
                                     .arg(x + 2)
                                     .arg(y + 2)));
        }
    }
    QVERIFY(opaque > 100);
    QVERIFY(viewer->frameWidth() > 0);
    QVERIFY(viewer->frameWidth() <= 2);
}

// The first show centres the window; closing only hides it, and it comes back where it was left,
// scrolled as it was left.
void TestAbout::closingHidesAndKeepsPlaceAndScroll() {
    FakeServices fakes;
    TForm1 note;
    TForm3 about;
    note.show();
    note.pmAboutClick();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.pos(), screenCentredPosition(about));

    QPlainTextEdit *memo = about.form()->Memo1;
    QScrollBar *vertical = memo->verticalScrollBar();
    QScrollBar *horizontal = memo->horizontalScrollBar();
    vertical->setValue(vertical->maximum() / 2);
    horizontal->setValue(horizontal->maximum());
    const int v = vertical->value();
    const int h = horizontal->value();
    QVERIFY(v > 0);
    QVERIFY(h > 0);
    const QPoint left = screenCentredPosition(about) + QPoint(-37, 23);
    about.move(left);

    QVERIFY(about.close());
    QVERIFY(about.isHidden());
    QCOMPARE(Form3, &about);
    QVERIFY(note.isVisible());

    note.pmAboutClick();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.pos(), left);
    QCOMPARE(vertical->value(), v);
    QCOMPARE(horizontal->value(), h);
    QCOMPARE(memoLines(memo).count(kVersion), 1);
}

// Escape closes the window as its close box does: it hides, and comes back where it was left.
void TestAbout::escapeHidesAndKeepsPlace() {
    FakeServices fakes;
    TForm1 note;
    TForm3 about;
    note.show();
    note.pmAboutClick();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    const QPoint left = about.pos() + QPoint(-37, 23);
    about.move(left);

    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QCOMPARE(focus->window(), &about);
    QTest::keyClick(focus, Qt::Key_Escape);
    QVERIFY(about.isHidden());
    QCOMPARE(Form3, &about);
    QVERIFY(note.isVisible());

    note.pmAboutClick();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.pos(), left);
}

// The credit label and the help text name the authors alike: the label's line stands in the
// help text as it is, and the contact section names the same authors.
void TestAbout::creditLineIsTheHelpTextsOwn() {
    TForm3 form;
    const QString credit = form.form()->Label2->text();
    const QStringList lines = helpFileLines();
    QVERIFY2(lines.contains(credit), qPrintable(credit));

    // "© <year> <authors>"
    const QRegularExpressionMatch parts =
        QRegularExpression(QStringLiteral("^© \\d{4} (.+)$")).match(credit);
    QVERIFY2(parts.hasMatch(), qPrintable(credit));
    const QString authors = parts.captured(1);
    const int contact = lines.indexOf(QStringLiteral("・作者への連絡"));
    QVERIFY(contact >= 0);
    const int end = lines.indexOf(QString(), contact);
    const QStringList section = lines.mid(contact + 1, end - contact - 1);
    QVERIFY2(section.join(QLatin1Char('\n')).contains(authors), qPrintable(section.join(' ')));
}

void TestAbout::fitsTheWorkArea_data() {
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<QSize>("expected");
    // 1920 x 1080 screens at 100 %, 150 % and 200 % with a task bar, then smaller ones.
    QTest::newRow("1080p at 100 %") << QRect(0, 0, 1920, 1040) << QSize(648, 678);
    QTest::newRow("1080p at 150 %") << QRect(0, 0, 1280, 693) << QSize(648, 653);
    QTest::newRow("1080p at 200 %") << QRect(0, 0, 960, 520) << QSize(648, 480);
    QTest::newRow("exactly the window") << QRect(10, 20, 664, 718) << QSize(648, 678);
    QTest::newRow("narrow") << QRect(0, 0, 500, 900) << QSize(484, 678);
    QTest::newRow("tiny") << QRect(0, 0, 120, 90) << QSize(200, 150);
}

// The window keeps its size wherever it fits with its frame; else it shrinks to the work area,
// the text box with it.
void TestAbout::fitsTheWorkArea() {
    QFETCH(QRect, workArea);
    QFETCH(QSize, expected);
    const QMargins frame(8, 32, 8, 8);
    QCOMPARE(TForm3::fittedSize(QSize(648, 678), workArea, frame), expected);
}

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestAbout test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_about.moc"
