#include "FakeServices.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "pictures/StreamingDecode.h"

#include <QTest>
#include <QtEndian>

namespace {

// A picture with some detail, so that its PNG spans many reads of the decoder.
QImage sample() {
    QImage image(300, 200, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x & 0xff, (x * y) & 0xff, y & 0xff, 128 + (x % 128)));
    return image;
}

quint32 crc32(const QByteArray &bytes) {
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A small PNG whose header claims a size far beyond the limits.
QByteArray bombHeader() {
    QImage one(1, 1, QImage::Format_ARGB32);
    one.fill(Qt::red);
    QByteArray png = encodedImage(one, "PNG");
    // The IHDR chunk follows the signature: length, type, width, height, ..., CRC.
    qToBigEndian<quint32>(100000, png.data() + 16);
    qToBigEndian<quint32>(100000, png.data() + 20);
    qToBigEndian<quint32>(crc32(png.mid(12, 17)), png.data() + 29);
    return png + QByteArray(1 << 20, '\x55');
}

// A scrolling screenshot: 1080 x 20000, a stripe of colour every 1000 rows.
QImage tallScreenshot() {
    QImage image(1080, 20000, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < image.height(); y += 1000)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), image.width(),
                    qRgb(0, y / 100, 200));
    return image;
}

void feedInPieces(platform::StreamingDecode &decode, const QByteArray &bytes, int piece) {
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        decode.feed(bytes.constData() + at, std::min<qsizetype>(piece, bytes.size() - at));
}

} // namespace

class TestStreamingDecode : public QObject {
    Q_OBJECT
private slots:
    void decodesAsItArrives_data();
    void decodesAsItArrives();
    void refuses_data();
    void refuses();
    void throwsForTooLarge();
    void abandonedWithoutFinish();
};

void TestStreamingDecode::decodesAsItArrives_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("piece");
    const QByteArray png = encodedImage(sample(), "PNG");
    QTest::newRow("PNG byte by byte") << png << 1;
    QTest::newRow("PNG in odd pieces") << png << 7777;
    QTest::newRow("PNG in one piece") << png << int(png.size());
    QTest::newRow("BMP, recognised by content") << encodedImage(sample(), "BMP") << 4096;
    QTest::newRow("JPEG, recognised by content") << encodedImage(sample(), "JPEG") << 1000;
    QTest::newRow("PNG taller than 16384") << encodedImage(tallScreenshot(), "PNG") << 65536;
}

// Fed in any pieces, the picture is the one decoding all the bytes at once gives.
void TestStreamingDecode::decodesAsItArrives() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, piece);
    platform::StreamingDecode decode;
    feedInPieces(decode, bytes, piece);
    QString whyNot;
    const QImage image = decode.finish(true, &whyNot);
    QVERIFY2(!image.isNull(), qPrintable(whyNot));
    QCOMPARE(image, platform::decodeImageData(bytes));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
}

void TestStreamingDecode::refuses_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("reason");
    const QByteArray png = encodedImage(sample(), "PNG");
    QTest::newRow("nothing arrived") << QByteArray() << true << "no data";
    QTest::newRow("transfer broke off, all bytes in")
        << png << false << "the transfer did not complete";
    QTest::newRow("transfer broke off halfway")
        << png.left(png.size() / 2) << false << "the transfer did not complete";
    QTest::newRow("truncated but said complete") << png.left(png.size() / 2) << true << QString();
    QTest::newRow("not an image") << QByteArray(5000, 'x') << true << QString();
}

// Each ends in no picture and a reason; a refused header does not wait for the rest.
void TestStreamingDecode::refuses() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(QString, reason);
    platform::StreamingDecode decode;
    feedInPieces(decode, bytes, 4096);
    QString whyNot;
    QVERIFY(decode.finish(complete, &whyNot).isNull());
    QVERIFY(!whyNot.isEmpty());
    if (!reason.isEmpty())
        QVERIFY2(whyNot.contains(reason), qPrintable(whyNot));
}

// A header claiming a picture beyond the limits is thrown as such once the transfer is complete;
// a transfer that broke off is only that.
void TestStreamingDecode::throwsForTooLarge() {
    for (const bool complete : {true, false}) {
        platform::StreamingDecode decode;
        feedInPieces(decode, bombHeader(), 4096);
        try {
            QString whyNot;
            QVERIFY(decode.finish(complete, &whyNot).isNull());
            QVERIFY(!complete);
            QCOMPARE(whyNot, QStringLiteral("the transfer did not complete"));
        } catch (const platform::ImageTooLarge &tooLarge) {
            QVERIFY(complete);
            QCOMPARE(tooLarge.width(), 100000);
            QCOMPARE(tooLarge.height(), 100000);
        }
    }
}

// A decode dropped while the decoder waits for more bytes ends without hanging.
void TestStreamingDecode::abandonedWithoutFinish() {
    const QByteArray png = encodedImage(sample(), "PNG");
    {
        platform::StreamingDecode decode;
        decode.feed(png.constData(), png.size() / 3);
    }
    platform::StreamingDecode unused;
}

QTEST_GUILESS_MAIN(TestStreamingDecode)
#include "tst_streamingdecode.moc"
