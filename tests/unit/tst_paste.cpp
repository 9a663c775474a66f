#include "FakeServices.h"
#include "platform/JxrDecoder.h"
#include "platform/Services.h"
#include "sticky/MonochromeEffect.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QBuffer>
#include <QDropEvent>
#include <QMimeData>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

using platform::ClipboardValue;
using Kind = platform::ClipboardValue::Kind;

Q_DECLARE_METATYPE(platform::ClipboardValue)

namespace {

const QString kPasteError = QStringLiteral(
    "Stiqlet イメージ貼り付けエラー\r\nクリップボードのデータがイメージ型ではないかもしれません");

QImage filled(int w, int h, QRgb color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

ClipboardValue text(const QString &t) {
    ClipboardValue v;
    v.kind = Kind::Text;
    v.text = t;
    return v;
}

ClipboardValue image(const QImage &i) {
    ClipboardValue v;
    v.kind = Kind::Image;
    v.image = i;
    return v;
}

// A note on screen holding a 20 x 10 blue picture, with fakes for the desktop.
struct Note {
    FakeServices fakes;
    TForm1 form;
    Note() {
        form.show();
        area()->setPicture(filled(20, 10, qRgba(0, 0, 255, 255)));
    }
    ImageControl *area() { return form.form()->ImageControl1; }
};

void sendDrop(QWidget *target, QMimeData *mime, bool *accepted, bool drop) {
    const QPointF at(30, 30);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    *accepted = enter.isAccepted();
    if (drop && *accepted) {
        QDropEvent dropEvent(at, Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton,
                             Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropEvent);
    }
}

void dropFile(QWidget *target, const QString &path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    bool accepted = false;
    sendDrop(target, &mime, &accepted, true);
    QVERIFY(accepted);
}

// Holds the thread pool's only thread while it lives, so that a dropped file's decoding waits
// in the pool's queue until it ends: a decode as slow as the test needs.
class SlowDecodes {
public:
    SlowDecodes() {
        QThreadPool *pool = QThreadPool::globalInstance();
        m_threads = pool->maxThreadCount();
        pool->waitForDone();
        pool->setMaxThreadCount(1);
        pool->start([this] {
            m_started.release();
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait(lock, [this] { return m_release; });
        });
        m_started.acquire();
    }
    ~SlowDecodes() {
        // Released through the standard library, not a Qt semaphore: ThreadSanitizer sees this
        // hand-over (Qt's own locks are not instrumented), so it knows that the decodes queued
        // meanwhile were made before the pool's thread takes them up.
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_release = true;
        }
        m_released.notify_one();
        QThreadPool *pool = QThreadPool::globalInstance();
        pool->waitForDone();
        pool->setMaxThreadCount(m_threads);
        // The decodes' outcomes, queued to the event loop.
        QCoreApplication::processEvents();
    }

private:
    int m_threads = 0;
    QSemaphore m_started;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

// What the user does while a dropped file is still decoding.
enum class Then { Paste, PasteOfText, Clear, DropAnother };

} // namespace

Q_DECLARE_METATYPE(Then)

class TestPaste : public QObject {
    Q_OBJECT
private slots:
    void paste_data();
    void paste();
    void pasteWithoutClipboardDoesNothing();
    void failingReadShowsTheMessage();
    void messageBoxWithoutDialogService();
    void doubleClickPastes();
    void pasteWhileGreyKeepsColours();
    void clear_data();
    void clear();
    void dropAcceptance_data();
    void dropAcceptance();
    void dropReplacesPicture();
    void dropOfBrokenFileKeepsPicture();
    void lastOfSeveralDropsWins();
    void lastActionWinsOverDropStillDecoding_data();
    void lastActionWinsOverDropStillDecoding();
    void dropOfTooLargePictureKeepsPicture();
    void dropWithoutDecoderProgram_data();
    void dropWithoutDecoderProgram();

private:
    QTemporaryDir m_dir;
    QString file(const QString &name, const QByteArray &content);
};

QString TestPaste::file(const QString &name, const QByteArray &content) {
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

void TestPaste::paste_data() {
    QTest::addColumn<ClipboardValue>("clipboard");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<bool>("message");

    QTest::newRow("image replaces picture")
        << image(filled(300, 100, 0xFF00FF00)) << QSize(300, 100) << false;
    QTest::newRow("empty clipboard empties picture") << ClipboardValue{} << QSize(0, 0) << false;
    QTest::newRow("undecodable bitmap empties picture") << image(QImage()) << QSize(0, 0) << false;
    QTest::newRow("text keeps picture") << text(QStringLiteral("hello")) << QSize(20, 10) << true;
    QTest::newRow("empty text keeps picture") << text(QString()) << QSize(20, 10) << true;
    // An owner that stalled or broke off: the read failed, which is no reason to lose the
    // picture.
    QTest::newRow("failed read keeps picture")
        << ClipboardValue::failed(QStringLiteral("the clipboard's owner broke off")) << QSize(20, 10)
        << true;
}

void TestPaste::paste() {
    QFETCH(ClipboardValue, clipboard);
    QFETCH(QSize, pictureSize);
    QFETCH(bool, message);

    Note note;
    note.fakes.clipboard->value = clipboard;
    note.form.acPasteExecute();
    QCOMPARE(note.area()->picture().size(), pictureSize);
    if (message) {
        QCOMPARE(note.fakes.dialogs->shown.size(), 1);
        QCOMPARE(note.fakes.dialogs->shown[0].text, kPasteError);
        QVERIFY(note.fakes.dialogs->shown[0].type == platform::MsgDlgType::Information);
        QCOMPARE(QColor(note.area()->picture().pixel(3, 3)), QColor(Qt::blue));
    } else {
        QVERIFY(note.fakes.dialogs->shown.isEmpty());
    }
    if (clipboard.kind == Kind::Image && !clipboard.image.isNull())
        QCOMPARE(note.area()->picture(), clipboard.image);
    // The window never changes size with the picture.
    QCOMPARE(note.form.size(), QSize(200, 200));
}

void TestPaste::pasteWithoutClipboardDoesNothing() {
    Note note;
    platform::services::setClipboard(nullptr);
    note.form.acPasteExecute();
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
    QVERIFY(note.fakes.dialogs->shown.isEmpty());
}

void TestPaste::failingReadShowsTheMessage() {
    Note note;
    note.fakes.clipboard->onRead = [] { throw std::runtime_error("owner vanished"); };
    note.form.acPasteExecute();
    QCOMPARE(note.fakes.dialogs->shown.size(), 1);
    QCOMPARE(note.fakes.dialogs->shown[0].text, kPasteError);
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
}

void TestPaste::messageBoxWithoutDialogService() {
    Note note;
    QVERIFY(note.form.myMesejBoxOk(&note.form, QStringLiteral("x")));
    platform::services::setDialogs(nullptr);
    QVERIFY(!note.form.myMesejBoxOk(&note.form, QStringLiteral("x")));
    note.fakes.clipboard->value = text(QStringLiteral("t"));
    note.form.acPasteExecute(); // shows nothing, fails nothing
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
}

void TestPaste::doubleClickPastes() {
    Note note;
    note.fakes.clipboard->value = image(filled(1000, 500, 0xFFFF0000));
    QTest::mouseDClick(note.area(), Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(note.area()->picture().size(), QSize(1000, 500));
    QCOMPARE(note.form.size(), QSize(200, 200));
    // A middle or right double-click does not paste.
    note.fakes.clipboard->value = ClipboardValue{};
    QTest::mouseDClick(note.area(), Qt::MiddleButton, {}, QPoint(100, 100));
    QCOMPARE(note.area()->picture().size(), QSize(1000, 500));
}

// The stored picture keeps its colours while the note is shown grey.
void TestPaste::pasteWhileGreyKeepsColours() {
    Note note;
    note.form.MonochromeEffect1()->setEnabled(true);
    note.fakes.clipboard->value = image(filled(10, 10, 0xFFFF0000));
    note.form.acPasteExecute();
    QCOMPARE(QColor(note.area()->picture().pixel(5, 5)), QColor(Qt::red));
}

void TestPaste::clear_data() {
    QTest::addColumn<QImage>("before");
    QTest::newRow("opaque picture") << filled(300, 100, 0xFF123456);
    QTest::newRow("transparent picture") << filled(7, 3, 0x00000000);
    QTest::newRow("empty picture") << QImage();
}

void TestPaste::clear() {
    QFETCH(QImage, before);
    Note note;
    note.area()->setPicture(before);
    note.form.pmclearClick();
    const QImage after = note.area()->picture();
    QCOMPARE(after.size(), before.size());
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            QCOMPARE(after.pixel(x, y), 0xFFFFFFFFu);
}

void TestPaste::dropAcceptance_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("plainText");
    QTest::addColumn<bool>("accepted");

    QVERIFY(m_dir.isValid());
    const QByteArray junk("not really an image");
    const QString png = file(QStringLiteral("a.png"), junk);
    const QString upper = file(QStringLiteral("B.PNG"), junk);
    const QString jpeg = file(QStringLiteral("c.JpEg"), junk);
    const QString hdp = file(QStringLiteral("d.hdp"), junk);
    const QString tiff = file(QStringLiteral("e.tiff"), junk);
    const QString webp = file(QStringLiteral("f.webp"), junk);
    const QString txt = file(QStringLiteral("g.txt"), junk);
    const QString noExt = file(QStringLiteral("png"), junk);
    m_dir.path(); // folders below
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.png"));
    const QString folder = m_dir.filePath(QStringLiteral("folder.png"));
    const QString missing = m_dir.filePath(QStringLiteral("gone.png"));

    QTest::newRow("png") << QStringList{png} << QString() << true;
    QTest::newRow("PNG in capitals") << QStringList{upper} << QString() << true;
    QTest::newRow("mixed-case jpeg") << QStringList{jpeg} << QString() << true;
    QTest::newRow("jpeg xr") << QStringList{hdp} << QString() << true;
    QTest::newRow("tiff") << QStringList{tiff} << QString() << true;
    QTest::newRow("first good, second bad") << QStringList{png, txt} << QString() << true;
    QTest::newRow("webp") << QStringList{webp} << QString() << false;
    QTest::newRow("text file first, png second") << QStringList{txt, png} << QString() << false;
    QTest::newRow("name without dot") << QStringList{noExt} << QString() << false;
    QTest::newRow("folder named like an image") << QStringList{folder} << QString() << false;
    QTest::newRow("file that does not exist") << QStringList{missing} << QString() << false;
    QTest::newRow("plain text") << QStringList{} << QStringLiteral("/tmp/a.png") << false;
    QTest::newRow("nothing") << QStringList{} << QString() << false;
}

void TestPaste::dropAcceptance() {
    QFETCH(QStringList, files);
    QFETCH(QString, plainText);
    QFETCH(bool, accepted);

    Note note;
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &f : files)
        urls << QUrl::fromLocalFile(f);
    if (!urls.isEmpty())
        mime.setUrls(urls);
    if (!plainText.isEmpty())
        mime.setText(plainText);
    bool wasAccepted = false;
    sendDrop(note.area(), &mime, &wasAccepted, false);
    QCOMPARE(wasAccepted, accepted);
}

void TestPaste::dropReplacesPicture() {
    Note note;
    const QString path = m_dir.filePath(QStringLiteral("drop.PNG"));
    QVERIFY(filled(30, 60, 0xFF00FF00).save(path, "PNG"));
    const QString other = m_dir.filePath(QStringLiteral("other.png"));
    QVERIFY(filled(5, 5, 0xFFFF0000).save(other, "PNG"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(other)});
    bool accepted = false;
    sendDrop(note.area(), &mime, &accepted, true);
    QVERIFY(accepted);
    // The drop is answered before the file is decoded; the picture follows.
    QTRY_COMPARE(note.area()->picture().size(), QSize(30, 60));
    QCOMPARE(QColor(note.area()->picture().pixel(1, 1)), QColor(Qt::green));
    QVERIFY(note.fakes.dialogs->shown.isEmpty());
}

// Drops in quick succession: whatever order the decodes end in, the last drop's picture stays.
void TestPaste::lastOfSeveralDropsWins() {
    Note note;
    const QString large = m_dir.filePath(QStringLiteral("large.png"));
    QVERIFY(filled(3000, 2000, 0xFFFF0000).save(large, "PNG"));
    const QString small = m_dir.filePath(QStringLiteral("small.png"));
    QVERIFY(filled(4, 8, 0xFF0000FF).save(small, "PNG"));
    QSignalSpy dropped(note.area(), &ImageControl::pictureDropped);
    for (const QString &path : {large, small}) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        bool accepted = false;
        sendDrop(note.area(), &mime, &accepted, true);
        QVERIFY(accepted);
    }
    QTRY_COMPARE(note.area()->picture().size(), QSize(4, 8));
    // The large picture's decode, still running then, must not replace it afterwards.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(note.area()->picture().size(), QSize(4, 8));
    QCOMPARE(dropped.count(), 1);
}

void TestPaste::dropOfBrokenFileKeepsPicture() {
    Note note;
    const QString path = file(QStringLiteral("broken.png"), QByteArray("\x89PNG\r\n\x1a\nxx", 10));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    bool accepted = false;
    sendDrop(note.area(), &mime, &accepted, true);
    QVERIFY(accepted);
    QTRY_COMPARE(note.fakes.dialogs->shown.size(), 1);
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
    QVERIFY(note.fakes.dialogs->shown[0].text.contains(QDir::toNativeSeparators(path)));
}

void TestPaste::lastActionWinsOverDropStillDecoding_data() {
    QTest::addColumn<Then>("then");
    QTest::addColumn<bool>("fileDecodes");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QRgb>("pictureColour");
    QTest::addColumn<QStringList>("messages");

    const QRgb blue = 0xFF0000FF, red = 0xFFFF0000, white = 0xFFFFFFFF;
    const QStringList none;
    QTest::newRow("paste") << Then::Paste << true << QSize(10, 20) << red << none;
    QTest::newRow("paste after a drop that fails")
        << Then::Paste << false << QSize(10, 20) << red << none;
    // A paste that fails leaves the picture as it was before the drop.
    QTest::newRow("paste of text")
        << Then::PasteOfText << true << QSize(20, 10) << blue << QStringList{kPasteError};
    QTest::newRow("clear") << Then::Clear << true << QSize(20, 10) << white << none;
    QTest::newRow("another drop") << Then::DropAnother << true << QSize(4, 8) << red << none;
    QTest::newRow("another drop after a drop that fails")
        << Then::DropAnother << false << QSize(4, 8) << red << none;
}

// A paste, a clear or another drop made while a dropped file is still decoding wins: the
// decoding's outcome, picture or error box, comes to nothing.
void TestPaste::lastActionWinsOverDropStillDecoding() {
    QFETCH(Then, then);
    QFETCH(bool, fileDecodes);
    QFETCH(QSize, pictureSize);
    QFETCH(QRgb, pictureColour);
    QFETCH(QStringList, messages);

    Note note;
    QSignalSpy dropped(note.area(), &ImageControl::pictureDropped);
    const QString first = m_dir.filePath(QStringLiteral("first.png"));
    if (fileDecodes)
        QVERIFY(filled(300, 200, 0xFF00FF00).save(first, "PNG"));
    else
        file(QStringLiteral("first.png"), QByteArray("\x89PNG\r\n\x1a\nxx", 10));
    const QString second = m_dir.filePath(QStringLiteral("second.png"));
    QVERIFY(filled(4, 8, 0xFFFF0000).save(second, "PNG"));
    {
        SlowDecodes slow;
        dropFile(note.area(), first);
        switch (then) {
        case Then::Paste:
            note.fakes.clipboard->value = image(filled(10, 20, 0xFFFF0000));
            note.form.acPasteExecute();
            break;
        case Then::PasteOfText:
            note.fakes.clipboard->value = text(QStringLiteral("not a picture"));
            note.form.acPasteExecute();
            break;
        case Then::Clear:
            note.form.pmclearClick();
            break;
        case Then::DropAnother:
            dropFile(note.area(), second);
            break;
        }
    }
    QCOMPARE(note.area()->picture().size(), pictureSize);
    QCOMPARE(note.area()->picture().pixel(1, 1), pictureColour);
    QStringList shown;
    for (const auto &message : note.fakes.dialogs->shown)
        shown << message.text;
    QCOMPARE(shown, messages);
    QCOMPARE(dropped.count(), then == Then::DropAnother ? 1 : 0);
}

// A picture beyond the size limits is no file that cannot be read: the box says so, and the
// picture stays.
void TestPaste::dropOfTooLargePictureKeepsPicture() {
    Note note;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(filled(1, 1, 0xFFFF0000).save(&buffer, "PNG"));
    // The IHDR chunk follows the signature: length, type, width, height; libpng is not asked.
    qToBigEndian<quint32>(20000, png.data() + 16);
    qToBigEndian<quint32>(20000, png.data() + 20);
    const QString path = file(QStringLiteral("huge.png"), png);
    dropFile(note.area(), path);
    QTRY_COMPARE(note.fakes.dialogs->shown.size(), 1);
    QCOMPARE(note.fakes.dialogs->shown[0].text,
             QStringLiteral("Stiqlet 画像ファイル読み込みエラー\r\n%1\r\n"
                            "画像が大きすぎるため読み込めませんでした (20000 × 20000 ピクセル)")
                 .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
}

void TestPaste::dropWithoutDecoderProgram_data() {
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << false << QStringLiteral("が見つかりません");
    QTest::newRow("there, but does not start") << true << QStringLiteral("を起動できません");
}

// A JPEG XR file is decoded by a program of its own: when that program is missing or does not
// start, the box says so instead of blaming the file, and the picture stays.
void TestPaste::dropWithoutDecoderProgram() {
    QFETCH(bool, present);
    QFETCH(QString, reason);
    if (!platform::jxrSupported())
        QSKIP("this build does not decode JPEG XR");
    useProgramFileDecoders();
    Note note;
    // Not a program the system can start: no execute permission, and no executable format.
    const QString program = m_dir.filePath(QStringLiteral("broken/stiqlet-jxr.exe"));
    QVERIFY(QDir().mkpath(QFileInfo(program).path()));
    if (present) {
        QFile f(program);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a program");
    }
    platform::setDecoderProgram(program);
    const auto restore = qScopeGuard([] { platform::setDecoderProgram(QString()); });
    const QString path = file(QStringLiteral("photo.hdp"), QByteArray("II\xBC\x01", 4));
    dropFile(note.area(), path);
    QTRY_COMPARE(note.fakes.dialogs->shown.size(), 1);
    QCOMPARE(note.fakes.dialogs->shown[0].text,
             QStringLiteral("Stiqlet 画像ファイル読み込みエラー\r\n%1\r\n"
                            "この形式を読み込む補助プログラム stiqlet-jxr.exe %2")
                 .arg(QDir::toNativeSeparators(path), reason));
    QCOMPARE(note.area()->picture().size(), QSize(20, 10));
}

QTEST_MAIN(TestPaste)
#include "tst_paste.moc"
