#include "FakeServices.h"
#include "platform/StyleBook.h"
#include "sticky/Panel.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QOperatingSystemVersion>
#include <QTest>

using platform::PanelLook;

Q_DECLARE_METATYPE(QOperatingSystemVersion)

class TestStyleBook : public QObject {
    Q_OBJECT
private slots:
    void chooseEntry_data();
    void chooseEntry();
    void platformTitle_data();
    void platformTitle();
    void panelLooks_data();
    void panelLooks();
};

void TestStyleBook::chooseEntry_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("os");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("chosen");

    const QStringList note{QString(), QStringLiteral("Windows 11 Desktop")};
    QTest::newRow("windows 11 picks its entry") << note << "Windows"
                                                << "Windows 11 Desktop" << 1;
    QTest::newRow("windows 10 falls back to first") << note << "Windows"
                                                    << "Windows 10 Desktop" << 0;
    QTest::newRow("linux falls back to first") << note << "Linux"
                                               << "Linux Desktop" << 0;
    QTest::newRow("no names at all") << note << ""
                                     << "" << 0;
    QTest::newRow("os name wins over title")
        << QStringList{"", "Windows 11 Desktop", "windows"} << "Windows"
        << "Windows 11 Desktop" << 2;
    QTest::newRow("os name ignores case") << QStringList{"", "LINUX"} << "linux"
                                          << "" << 1;
    QTest::newRow("title is compared exactly") << note << "Windows"
                                               << "windows 11 desktop" << 0;
    QTest::newRow("empty sheet") << QStringList{} << "Windows"
                                 << "Windows 11 Desktop" << -1;
}

void TestStyleBook::chooseEntry() {
    QFETCH(QStringList, entries);
    QFETCH(QString, os);
    QFETCH(QString, title);
    QFETCH(int, chosen);
    QCOMPARE(platform::chooseStyleEntry(entries, os, title), chosen);
}

void TestStyleBook::platformTitle_data() {
    QTest::addColumn<QOperatingSystemVersion>("os");
    QTest::addColumn<QString>("title");
    using V = QOperatingSystemVersion;
    QTest::newRow("windows 10 22H2") << V(V::Windows, 10, 0, 19045) << "Windows 10 Desktop";
    QTest::newRow("windows 11 first build") << V(V::Windows, 10, 0, 22000) << "Windows 11 Desktop";
    QTest::newRow("windows 11 24H2") << V(V::Windows, 10, 0, 26100) << "Windows 11 Desktop";
    QTest::newRow("last build before 11") << V(V::Windows, 10, 0, 21999) << "Windows 10 Desktop";
}

void TestStyleBook::platformTitle() {
    QFETCH(QOperatingSystemVersion, os);
    QFETCH(QString, title);
    QCOMPARE(platform::platformStyleTitle(os), title);
    QCOMPARE(platform::osName(os), QStringLiteral("Windows"));
}

void TestStyleBook::panelLooks_data() {
    QTest::addColumn<QString>("os");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QColor>("infoBarFill");

    const QColor antiqueWhite(0xFA, 0xEB, 0xD7);
    const QColor standard(0xF0, 0xF0, 0xF0);
    QTest::newRow("windows 11") << "Windows"
                                << "Windows 11 Desktop" << antiqueWhite;
    QTest::newRow("windows 10") << "Windows"
                                << "Windows 10 Desktop" << standard;
    QTest::newRow("linux") << "Linux"
                           << "Linux Desktop" << standard;
}

// Only the info bar has a style of its own, and only on Windows 11; every other panel, and the
// info bar elsewhere, takes the standard light panel with its grey outline.
void TestStyleBook::panelLooks() {
    QFETCH(QString, os);
    QFETCH(QString, title);
    QFETCH(QColor, infoBarFill);

    FakeServices fakes;
    TForm1 form;
    form.applyStyleBook(os, title);
    const PanelLook bar = form.form()->Panel2->look();
    QCOMPARE(bar.fill, infoBarFill);
    const PanelLook panel1 = form.form()->Panel1->look();
    QCOMPARE(panel1.fill, QColor(0xF0, 0xF0, 0xF0));
    QCOMPARE(panel1.stroke, QColor(0xCC, 0xCC, 0xCC));

    // What the bar draws is what its look says.
    form.form()->Panel2->show();
    const QImage drawn = form.form()->Panel2->grab().toImage();
    QCOMPARE(QColor(drawn.pixel(10, 12)), infoBarFill);
    QCOMPARE(QColor(drawn.pixel(0, 12)), bar.stroke);
}

QTEST_MAIN(TestStyleBook)
#include "tst_stylebook.moc"
