#include "FakeServices.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
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

// The file header and bitmap header of a 32-bit BMP claiming width x height pixels, without them.
QByteArray bmpClaiming(qint32 width, qint32 height) {
    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    qToLittleEndian<quint32>(54, bmp.data() + 10); // pixel offset
    qToLittleEndian<quint32>(40, bmp.data() + 14); // header size
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    qToLittleEndian<quint16>(1, bmp.data() + 26);  // planes
    qToLittleEndian<quint16>(32, bmp.data() + 28); // bits per pixel
    return bmp;
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
    void anyShapeWithinTheLimit_data();
    void anyShapeWithinTheLimit();
    void tooLargeFails_data();
    void tooLargeFails();
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
    QTest::newRow("20000 square") << 20000u << 20000u;
    QTest::newRow("sides within 16384, pixels past the limit") << 16384u << 16385u;
    QTest::newRow("one row of 2^28 pixels") << 268435456u << 1u;
}

// Pictures past the limits are refused from their header, before anything is allocated: a
// failure of its own, not bytes that do not decode.
void TestClipboard::sizeLimits() {
    QFETCH(quint32, width);
    QFETCH(quint32, height);
    try {
        platform::decodeImageData(pngClaiming(width, height), "png");
        QFAIL("no ImageTooLarge thrown");
    } catch (const platform::ImageTooLarge &tooLarge) {
        QCOMPARE(tooLarge.width(), qint64(width));
        QCOMPARE(tooLarge.height(), qint64(height));
    }
}

void TestClipboard::anyShapeWithinTheLimit_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("scrolling screenshot, 1080 x 20000") << QSize(1080, 20000);
    QTest::newRow("20000 x 1080") << QSize(20000, 1080);
    QTest::newRow("one row past 16384") << QSize(16385, 1);
    QTest::newRow("40000 x 100") << QSize(40000, 100);
}

// Whatever its shape, a picture within the pixel limit pastes, offered as PNG or as BMP.
void TestClipboard::anyShapeWithinTheLimit() {
    QFETCH(QSize, size);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 200));
    picture.setPixel(size.width() - 1, size.height() - 1, qRgb(200, 0, 0));
    for (const char *format : {"PNG", "BMP"}) {
        QMimeData mime;
        mime.setData(QStringLiteral("image/") + QString::fromLatin1(format).toLower(),
                     encodedImage(picture, format));
        const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
        QCOMPARE(int(value.kind), int(Kind::Image));
        QCOMPARE(value.image.size(), size);
        QCOMPARE(value.image.pixel(0, 0), qRgb(0, 0, 200));
        QCOMPARE(value.image.pixel(size.width() - 1, size.height() - 1), qRgb(200, 0, 0));
    }
}

// A picture offered beyond the limits is no empty clipboard: the read fails, so that the paste
// reports it and keeps the picture.
void TestClipboard::tooLargeFails_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("png claiming 20000 x 20000")
        << QStringLiteral("image/png") << pngClaiming(20000, 20000);
    QTest::newRow("bmp claiming 20000 x 20000")
        << QStringLiteral("image/bmp") << bmpClaiming(20000, 20000);
}

void TestClipboard::tooLargeFails() {
    QFETCH(QString, format);
    QFETCH(QByteArray, payload);
    QMimeData mime;
    mime.setData(format, payload);
    const platform::ClipboardValue value = platform::valueFromMimeData(&mime);
    QCOMPARE(int(value.kind), int(Kind::Failed));
    QVERIFY2(value.text.contains(QStringLiteral("too large")), qPrintable(value.text));
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
