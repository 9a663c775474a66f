#include "FakeServices.h"
#include "platform/ImageDecode.h"
#include "platform/MimeClipboard.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QtEndian>

using Kind = platform::ClipboardValue::Kind;

namespace {

QImage filled(int w, int h, QRgb color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

quint32 crc32(const QByteArray &data) {
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendChunk(QByteArray &png, const QByteArray &typeAndData) {
    char be[4];
    qToBigEndian(quint32(typeAndData.size() - 4), be);
    png.append(be, 4);
    png.append(typeAndData);
    qToBigEndian(crc32(typeAndData), be);
    png.append(be, 4);
}

// A small, well-formed PNG whose header claims width x height pixels: a decompression bomb.
QByteArray pngClaiming(quint32 width, quint32 height) {
    QByteArray ihdr("IHDR");
    char wh[8];
    qToBigEndian(width, wh);
    qToBigEndian(height, wh + 4);
    ihdr.append(wh, 8);
    ihdr.append("\x08\x06\x00\x00\x00", 5); // 8-bit RGBA, no interlace
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, ihdr);
    appendChunk(png, QByteArray("IDAT\x78\x9c\x03\x00\x00\x00\x00\x01", 12));
    appendChunk(png, QByteArray("IEND"));
    return png;
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { platform::allowLargeImages(); }
    void mimeMapping_data();
    void mimeMapping();
    void pngWinsOverBmp();
    void sizeLimits_data();
    void sizeLimits();
    void screenshotOf8kDecodes();
};

void TestClipboard::mimeMapping_data() {
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QString>("text");

    const QByteArray png = encodedImage(filled(30, 20, 0xFF00FF00), "PNG");
    const QByteArray bmp = encodedImage(filled(12, 7, 0xFF0000FF), "BMP");
    const QByteArray jpeg = encodedImage(filled(16, 8, 0xFFFF0000), "JPEG");
    const QByteArray utf8 = QStringLiteral("貼り付け").toUtf8();

    QTest::newRow("text only") << QStringList{"text/plain"} << QList<QByteArray>{"abc"}
                               << int(Kind::Text) << QSize() << "abc";
    QTest::newRow("utf-8 text") << QStringList{"text/plain;charset=utf-8"}
                                << QList<QByteArray>{utf8} << int(Kind::Text) << QSize()
                                << QStringLiteral("貼り付け");
    QTest::newRow("text wins over png")
        << QStringList{"image/png", "text/plain"} << QList<QByteArray>{png, "t"} << int(Kind::Text)
        << QSize() << "t";
    QTest::newRow("empty text is text")
        << QStringList{"text/plain"} << QList<QByteArray>{""} << int(Kind::Text) << QSize() << "";
    QTest::newRow("png only") << QStringList{"image/png"} << QList<QByteArray>{png}
                              << int(Kind::Image) << QSize(30, 20) << "";
    QTest::newRow("bmp only") << QStringList{"image/bmp"} << QList<QByteArray>{bmp}
                              << int(Kind::Image) << QSize(12, 7) << "";
    QTest::newRow("jpeg only") << QStringList{"image/jpeg"} << QList<QByteArray>{jpeg}
                               << int(Kind::Image) << QSize(16, 8) << "";
    QTest::newRow("undecodable png") << QStringList{"image/png"} << QList<QByteArray>{png.left(40)}
                                     << int(Kind::Image) << QSize(0, 0) << "";
    QTest::newRow("undecodable bmp")
        << QStringList{"image/bmp"} << QList<QByteArray>{QByteArray("BMxx")} << int(Kind::Image)
        << QSize(0, 0) << "";
    QTest::newRow("html only") << QStringList{"text/html"} << QList<QByteArray>{"<b>x</b>"}
                               << int(Kind::Empty) << QSize() << "";
    QTest::newRow("unknown type") << QStringList{"application/x-foo"} << QList<QByteArray>{"x"}
                                  << int(Kind::Empty) << QSize() << "";
    QTest::newRow("nothing") << QStringList{} << QList<QByteArray>{} << int(Kind::Empty) << QSize()
                             << "";
}

void TestClipboard::mimeMapping() {
    QFETCH(QStringList, formats);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(int, kind);
    QFETCH(QSize, imageSize);
    QFETCH(QString, text);

    QMimeData mime;
    for (int i = 0; i < formats.size(); ++i)
        mime.setData(formats[i], payloads[i]);
    const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
    QCOMPARE(int(value.kind), kind);
    if (value.kind == Kind::Text)
        QCOMPARE(value.text, text);
    if (value.kind == Kind::Image) {
        QCOMPARE(value.image.size(), imageSize);
        if (!value.image.isNull())
            QCOMPARE(value.image.format(), QImage::Format_ARGB32);
    }
}

void TestClipboard::pngWinsOverBmp() {
    QMimeData mime;
    mime.setData(QStringLiteral("image/bmp"), encodedImage(filled(12, 7, 0xFF0000FF), "BMP"));
    mime.setData(QStringLiteral("image/png"), encodedImage(filled(30, 20, 0x8000FF00), "PNG"));
    const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
    QCOMPARE(value.image.size(), QSize(30, 20));
    QCOMPARE(qAlpha(value.image.pixel(0, 0)), 0x80);
}

void TestClipboard::sizeLimits_data() {
    QTest::addColumn<quint32>("width");
    QTest::addColumn<quint32>("height");
    QTest::newRow("100000 square") << 100000u << 100000u;
    QTest::newRow("one side past 16384") << 16385u << 1u;
    QTest::newRow("sides within, pixels past the limit") << 16384u << 16385u;
}

// Pictures past the limits are refused from their header, before anything is allocated.
void TestClipboard::sizeLimits() {
    QFETCH(quint32, width);
    QFETCH(quint32, height);
    QString whyNot;
    const QImage image = platform::decodeImageData(pngClaiming(width, height), "png", &whyNot);
    QVERIFY(image.isNull());
    QVERIFY2(whyNot.contains(QStringLiteral("too large")), qPrintable(whyNot));
}

// An 8K screenshot is over Qt's default reading limit; the note must still take it.
void TestClipboard::screenshotOf8kDecodes() {
    QImage shot(7680, 4320, QImage::Format_RGB32);
    shot.fill(0xFF336699);
    const QByteArray png = encodedImage(shot, "PNG");
    QString whyNot;
    const QImage image = platform::decodeImageData(png, "png", &whyNot);
    QVERIFY2(!image.isNull(), qPrintable(whyNot));
    QCOMPARE(image.size(), QSize(7680, 4320));
}

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
