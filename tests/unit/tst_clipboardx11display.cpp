// The X11 clipboard reader on a real X display: this program owns the clipboard through Qt and
// reads it back through the reader's own connection, on its transfer thread, while the event
// loop the reader waits in serves the requests. Large content goes in pieces (an incremental
// transfer), which the reader decodes as they arrive.
#include "platform/x11/ClipboardX11.h"
#include "platform/x11/SelectionTransfer.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>

using Kind = platform::ClipboardValue::Kind;

namespace {

// A picture of noise: its PNG is about as large as its pixels, so it goes in many pieces.
QImage noisePicture(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    return image;
}

QByteArray pngOf(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 100);
    return bytes;
}

// Offers a PNG; asking for it first ends the event loop the reader waits in, as quitting the
// program while a paste is under way does.
class QuittingMimeData final : public QMimeData {
public:
    explicit QuittingMimeData(const QByteArray &png) { setData(QStringLiteral("image/png"), png); }
    mutable int asked = 0;

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override {
        if (format == QLatin1String("image/png") && asked++ == 0)
            QCoreApplication::exit(0);
        return QMimeData::retrieveData(format, type);
    }
};

// Takes the clipboard on a connection of its own and never answers anything asked of it.
class SilentOwner {
public:
    SilentOwner() {
        connection_ = xcb_connect(nullptr, nullptr);
        const xcb_setup_t *setup = xcb_get_setup(connection_);
        const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "CLIPBOARD";
        xcb_intern_atom_reply_t *clipboard = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
        xcb_set_selection_owner(connection_, window, clipboard->atom, XCB_CURRENT_TIME);
        std::free(clipboard);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_),
                                            nullptr)); // the server has made it the owner
    }
    ~SilentOwner() { xcb_disconnect(connection_); }
    SilentOwner(const SilentOwner &) = delete;
    SilentOwner &operator=(const SilentOwner &) = delete;

private:
    xcb_connection_t *connection_;
};

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
    void quittingDuringTransferFailsTheRead();
    void quittingWhileTheOwnerIsSilentEndsTheRead();
};

void TestClipboardX11Display::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
}

void TestClipboardX11Display::readsContent_data() {
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QString>("text");
    QTest::newRow("small picture, one piece") << QSize(16, 16) << QString();
    QTest::newRow("large picture, many pieces") << QSize(1200, 900) << QString();
    QTest::newRow("text") << QSize() << QStringLiteral("付箋 sticky");
}

void TestClipboardX11Display::readsContent() {
    QFETCH(QSize, pictureSize);
    QFETCH(QString, text);
    const QImage picture =
        pictureSize.isEmpty() ? QImage() : noisePicture(pictureSize.width(), pictureSize.height());
    auto *mime = new QMimeData;
    if (text.isEmpty())
        mime->setData(QStringLiteral("image/png"), pngOf(picture));
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

// The program quits while a picture is being transferred: the read fails rather than handing out
// the picture, whatever part of it has come.
void TestClipboardX11Display::quittingDuringTransferFailsTheRead() {
    auto *mime = new QuittingMimeData(pngOf(noisePicture(1200, 900)));
    QGuiApplication::clipboard()->setMimeData(mime);
    platform::ClipboardX11 clipboard;
    const platform::ClipboardValue value = clipboard.read();
    endQuitting();
    QCOMPARE(mime->asked, 1);
    QCOMPARE(int(value.kind), int(Kind::Failed));
}

// The program quits while the owner keeps the read waiting: the transfer is told to stop and
// its thread joined at once, without waiting for the owner to run out of time.
void TestClipboardX11Display::quittingWhileTheOwnerIsSilentEndsTheRead() {
    SilentOwner owner;
    platform::ClipboardX11 clipboard;
    QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(0); });
    QElapsedTimer clock;
    clock.start();
    const platform::ClipboardValue value = clipboard.read();
    const qint64 elapsed = clock.elapsed();
    endQuitting();
    QVERIFY(value.kind != Kind::Image && value.kind != Kind::Text);
    QVERIFY2(elapsed < platform::SelectionLimits{}.idle.count(),
             qPrintable(QString::number(elapsed) + " ms"));
}

QTEST_MAIN(TestClipboardX11Display)

#include "tst_clipboardx11display.moc"
