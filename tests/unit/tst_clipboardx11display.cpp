// The X11 clipboard reader on a real X display, reading through its own connection on its
// transfer thread. The content comes from this program, which owns the clipboard through Qt and
// answers from the event loop the reader waits in (content larger than one property holds goes
// in pieces, an incremental transfer, which the reader decodes as they arrive), or from an owner
// that misbehaves on purpose.
#include "platform/x11/ClipboardX11.h"
#include "platform/x11/SelectionTransfer.h"

#include "FakeServices.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using Kind = platform::ClipboardValue::Kind;

namespace {

// A picture of noise: its PNG is about as large as its pixels.
QImage noisePicture(const QSize &size) {
    QImage image(size, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    return image;
}

// Starts the clipboard owner that misbehaves on purpose, in `mode`, and waits until it owns the
// clipboard.
bool startOwner(QProcess &owner, const QString &mode) {
    owner.start(qEnvironmentVariable("STIQLET_CLIPBOARD_OWNER"), {mode});
    QByteArray said;
    while (!said.contains("ready\n")) {
        if (!owner.waitForReadyRead(10000))
            return false;
        said += owner.readAllStandardOutput();
    }
    return true;
}

// Lets event loops wait again after QCoreApplication::exit(), which leaves every loop started
// later on this thread returning at once, until the application's own loop has run.
void endQuitting() {
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

} // namespace

class TestClipboardX11Display : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void readsContent_data();
    void readsContent();
    void quittingEndsTheRead_data();
    void quittingEndsTheRead();
};

void TestClipboardX11Display::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
}

void TestClipboardX11Display::readsContent_data() {
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QString>("text");
    QTest::newRow("small picture, one piece") << QSize(16, 16) << QString();
    // Qt puts up to 16 MiB in one property on Xvfb: the PNG of this much noise goes in two.
    QTest::newRow("large picture, in pieces") << QSize(2800, 2400) << QString();
    QTest::newRow("text") << QSize() << QStringLiteral("付箋 sticky");
}

void TestClipboardX11Display::readsContent() {
    QFETCH(QSize, pictureSize);
    QFETCH(QString, text);
    const QImage picture =
        pictureSize.isEmpty() ? QImage() : noisePicture(pictureSize);
    auto *mime = new QMimeData;
    if (text.isEmpty())
        mime->setData(QStringLiteral("image/png"), encodedImage(picture, "PNG"));
    else
        mime->setText(text);
    QGuiApplication::clipboard()->setMimeData(mime); // the clipboard owns it

    platform::ClipboardX11 clipboard;
    const platform::ClipboardValue value = clipboard.read();
    if (!text.isEmpty()) {
        QCOMPARE(int(value.kind), int(Kind::Text));
        QCOMPARE(value.text, text);
        return;
    }
    QCOMPARE(int(value.kind), int(Kind::Image));
    QCOMPARE(value.image.size(), picture.size());
    QCOMPARE(value.image.convertToFormat(QImage::Format_ARGB32), picture);
}

void TestClipboardX11Display::quittingEndsTheRead_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("quitWhen");
    QTest::newRow("owner silent once asked") << QStringLiteral("silent") << QByteArray("asked");
    QTest::newRow("owner stalled after the first piece")
        << QStringLiteral("incr-stall") << QByteArray("chunk");
}

// The program quits while the owner keeps the read waiting, before or during the transfer of the
// picture: the transfer is told to stop and its thread joined at once, without waiting for the
// owner to run out of time, and the read fails rather than handing out part of a picture.
void TestClipboardX11Display::quittingEndsTheRead() {
    QFETCH(QString, mode);
    QFETCH(QByteArray, quitWhen);
    if (qEnvironmentVariableIsEmpty("STIQLET_CLIPBOARD_OWNER"))
        QSKIP("needs the clipboard owner (clipboard_owner)");
    QProcess owner;
    QVERIFY(startOwner(owner, mode));
    QByteArray said;
    connect(&owner, &QProcess::readyReadStandardOutput, this, [&] {
        said += owner.readAllStandardOutput();
        if (said.contains(quitWhen + '\n'))
            QCoreApplication::exit(0);
    });

    platform::ClipboardX11 clipboard;
    QElapsedTimer clock;
    clock.start();
    const platform::ClipboardValue value = clipboard.read();
    const qint64 elapsed = clock.elapsed();
    endQuitting();
    owner.kill();
    owner.waitForFinished();
    QVERIFY2(said.contains(quitWhen), said.constData());
    QCOMPARE(int(value.kind), int(Kind::Failed));
    QVERIFY2(elapsed < platform::SelectionLimits{}.idle.count(),
             qPrintable(QString::number(elapsed) + " ms"));
}

QTEST_MAIN(TestClipboardX11Display)

#include "tst_clipboardx11display.moc"
