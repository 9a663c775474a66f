// Hostile files and clipboard data: damaged, truncated, empty, oversized and misnamed pictures
// of every format the note reads, written by tests/hostile/make_corpus.py at the start of the
// run. Each must end in a picture or a refusal with a reason; a refused drop keeps the picture
// and says which file failed, a refused clipboard image empties the picture without a message,
// and nothing else about the note changes.
#include "FakeServices.h"
#include "PeakMemory.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "platform/MimeClipboard.h"
#include "platform/Services.h"
#include "sticky/Unit1.h"
#include "ui_Unit1.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

const QRgb kBefore = qRgba(0, 0, 255, 255);

QImage filled(int w, int h, QRgb color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// What may change about the note besides its picture: none of it may.
struct NoteState {
    QRect geometry;
    bool visible;
    bool blinking;
    bool watching;
    float margin;
    QString letter;
    bool resizingNow;
    bool operator==(const NoteState &o) const {
        return geometry == o.geometry && visible == o.visible && blinking == o.blinking &&
               watching == o.watching && margin == o.margin && letter == o.letter &&
               resizingNow == o.resizingNow;
    }
};

// A note on screen holding a 20 x 10 blue picture, with fakes for the desktop.
struct Note {
    FakeServices fakes;
    TForm1 form;
    Note() {
        form.show();
        area()->setPicture(filled(20, 10, kBefore));
    }
    ImageControl *area() { return form.form()->ImageControl1; }
    NoteState state() {
        return {form.geometry(),
                form.isVisible(),
                form.Timer2.isActive(),
                form.tmKiiOnOff.isActive(),
                area()->margin(),
                selectedKey,
                resizing};
    }
    bool keptPicture() {
        const QImage &p = area()->picture();
        return p.size() == QSize(20, 10) && p.pixel(0, 0) == kBefore && p.pixel(19, 9) == kBefore;
    }
};

// Drags the files over the note and, when it takes them, drops them; `between` runs after the
// drag was accepted and before the drop.
bool dragAndDrop(QWidget *target, const QStringList &files,
                 const std::function<void()> &between = {}) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &f : files)
        urls << QUrl::fromLocalFile(f);
    mime.setUrls(urls);
    const QPoint at(30, 30);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    if (between)
        between();
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                    Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return true;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void decodeFile_data();
    void decodeFile();
    void drop_data();
    void drop();
    void pasteOfHostileData_data();
    void pasteOfHostileData();
    void dropOfFileThatDisappears_data();
    void dropOfFileThatDisappears();

private:
    void corpusRows();
    QTemporaryDir m_dir;
    QString m_corpus;
    struct Case {
        QString name;
        QString outcome;
        QString what;
    };
    QList<Case> m_cases;
};

void TestHostile::initTestCase() {
    platform::allowLargeImages();
    useProgramFileDecoders();
    // Written before this program starts, by the test that runs make_corpus.py.
    m_corpus = QStringLiteral(STIQLET_CORPUS_DIR);
    QFile manifest(QDir(m_corpus).filePath(QStringLiteral("manifest.tsv")));
    QVERIFY(manifest.open(QIODevice::ReadOnly | QIODevice::Text));
    while (!manifest.atEnd()) {
        const QStringList fields = QString::fromUtf8(manifest.readLine()).trimmed().split('\t');
        if (fields.size() == 3)
            m_cases.append({fields[0], fields[1], fields[2]});
    }
    QVERIFY(!m_cases.isEmpty());
}

void TestHostile::corpusRows() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("outcome");
    for (const Case &c : m_cases)
        QTest::newRow(qPrintable(c.name + QStringLiteral(": ") + c.what))
            << QDir(m_corpus).filePath(c.name) << c.outcome;
}

void TestHostile::decodeFile_data() {
    corpusRows();
}

// Decoding alone: a picture within the limits, or a refusal with a reason; bombs refused
// without their pixels ever being allocated.
void TestHostile::decodeFile() {
    QFETCH(QString, path);
    QFETCH(QString, outcome);
    const qint64 peakBefore = peakResidentMiB();
    QString whyNot;
    QImage image;
    try {
        image = platform::decodeImageFile(path, &whyNot);
    } catch (const platform::ImageTooLarge &tooLarge) {
        QVERIFY2(outcome == QLatin1String("bomb"), tooLarge.what());
        whyNot = QString::fromUtf8(tooLarge.what());
    }
    const qint64 grown = peakResidentMiB() - peakBefore;
    qInfo(
        "%s: %s", qPrintable(QFileInfo(path).fileName()),
        image.isNull()
            ? qPrintable(QStringLiteral("refused (%1)").arg(whyNot))
            : qPrintable(QStringLiteral("decoded %1 x %2").arg(image.width()).arg(image.height())));
    if (image.isNull())
        QVERIFY2(!whyNot.isEmpty(), "refused without a reason");
    else
        QCOMPARE(image.format(), QImage::Format_ARGB32);
    if (outcome == QLatin1String("refused") || outcome == QLatin1String("bomb"))
        QVERIFY2(image.isNull(), "a file that cannot hold a picture was decoded");
    if (outcome == QLatin1String("bomb"))
        QVERIFY2(grown < 64, qPrintable(QStringLiteral("memory grew by %1 MiB").arg(grown)));
    if (outcome.startsWith(QLatin1String("decoded:"))) {
        const QStringList wh = outcome.mid(8).split('x');
        QCOMPARE(image.size(), QSize(wh[0].toInt(), wh[1].toInt()));
    }
}

void TestHostile::drop_data() {
    corpusRows();
}

// The same files dropped on the note: a decoded file becomes the picture; any other keeps the
// picture and names the file in one message. Nothing else about the note changes.
void TestHostile::drop() {
    QFETCH(QString, path);
    QFETCH(QString, outcome);
    Q_UNUSED(outcome);
    QImage expected;
    try {
        expected = platform::decodeImageFile(path);
    } catch (const platform::ImageTooLarge &) {
        // Refused as too large: no picture either.
    }
    Note note;
    const NoteState before = note.state();
    QSignalSpy dropped(note.area(), &ImageControl::pictureDropped);
    QVERIFY(dragAndDrop(note.area(), {path}));
    // The file is decoded after the drop has been answered: wait for its outcome.
    QTRY_VERIFY_WITH_TIMEOUT(dropped.count() == 1 || !note.fakes.dialogs->shown.isEmpty(), 30000);
    if (expected.isNull()) {
        QVERIFY(note.keptPicture());
        QCOMPARE(note.fakes.dialogs->shown.size(), 1);
        QVERIFY(note.fakes.dialogs->shown[0].text.contains(QDir::toNativeSeparators(path)));
    } else {
        QCOMPARE(note.area()->picture(), expected);
        QVERIFY(note.fakes.dialogs->shown.isEmpty());
    }
    QVERIFY(note.state() == before);
}

void TestHostile::pasteOfHostileData_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("mimeType");
    for (const Case &c : m_cases)
        for (const char *type : {"image/png", "image/bmp", "image/tiff"})
            QTest::newRow(qPrintable(c.name + QStringLiteral(" as ") + QLatin1String(type)))
                << QDir(m_corpus).filePath(c.name) << c.outcome << QString::fromLatin1(type);
}

// The files' bytes offered on the clipboard: an image that cannot be decoded empties the
// picture without a message; one that can becomes the picture; one too large fails the paste,
// which keeps the picture.
void TestHostile::pasteOfHostileData() {
    QFETCH(QString, path);
    QFETCH(QString, outcome);
    QFETCH(QString, mimeType);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QMimeData mime;
    mime.setData(mimeType, file.readAll());
    const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
    const bool tooLarge = value.kind == platform::ClipboardValue::Kind::Failed;
    QVERIFY(value.kind == platform::ClipboardValue::Kind::Image ||
            (tooLarge && outcome == QLatin1String("bomb")));
    if (outcome == QLatin1String("bomb") || outcome == QLatin1String("refused"))
        QVERIFY2(value.image.isNull(), "a file that cannot hold a picture was decoded");

    Note note;
    const NoteState before = note.state();
    note.fakes.clipboard->value = value;
    note.form.acPasteExecute();
    QCOMPARE(note.fakes.dialogs->shown.size(), tooLarge ? 1 : 0);
    if (tooLarge)
        QVERIFY(note.keptPicture());
    else if (value.image.isNull())
        QCOMPARE(note.area()->picture().size(), QSize(0, 0));
    else
        QCOMPARE(note.area()->picture(), value.image.convertToFormat(QImage::Format_ARGB32));
    QVERIFY(note.state() == before);
}

void TestHostile::dropOfFileThatDisappears_data() {
    QTest::addColumn<bool>("replaceWithFolder");
    QTest::newRow("file deleted") << false;
    QTest::newRow("file replaced by a folder") << true;
}

// Between the drag and the drop the file goes away: the picture stays and the message names
// the file.
void TestHostile::dropOfFileThatDisappears() {
    QFETCH(bool, replaceWithFolder);
    const QString path = m_dir.filePath(QStringLiteral("going.png"));
    QVERIFY(filled(8, 8, 0xFFFF0000).save(path, "PNG"));
    Note note;
    const NoteState before = note.state();
    const bool dragged = dragAndDrop(note.area(), {path}, [&] {
        QVERIFY(QFile::remove(path));
        if (replaceWithFolder)
            QVERIFY(QDir().mkdir(path));
    });
    QVERIFY(dragged);
    QVERIFY(note.keptPicture());
    QVERIFY(note.fakes.dialogs->shown.size() <= 1);
    if (!note.fakes.dialogs->shown.isEmpty())
        QVERIFY(note.fakes.dialogs->shown[0].text.contains(QDir::toNativeSeparators(path)));
    QVERIFY(note.state() == before);
    QDir().rmdir(path);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
