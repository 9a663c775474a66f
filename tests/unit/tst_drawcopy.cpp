#include "sticky/DrawCopy.h"

#include <QTest>

namespace {

// Smooth gradients in every channel, alpha included unless opaque: what a resampling filter
// should reproduce closely whatever its footprint.
QImage gradients(const QSize &size, bool opaque) {
    QImage image(size, QImage::Format_ARGB32);
    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba(x * 255 / w, y * 255 / h, (x + y) * 255 / (w + h),
                            opaque ? 255 : 255 - x * 255 / w);
    }
    return image;
}

// The largest difference of any channel between two premultiplied pictures of one size.
int largestDifference(const QImage &a, const QImage &b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)),
                                std::abs(qAlpha(p) - qAlpha(q))});
        }
    return largest;
}

} // namespace

class TestDrawCopy : public QObject {
    Q_OBJECT
private slots:
    void halvesBlocks_data();
    void halvesBlocks();
    void fitsCap_data();
    void fitsCap();
    void matchesSmoothScale_data();
    void matchesSmoothScale();
    void emptyPicture();
};

void TestDrawCopy::halvesBlocks_data() {
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QRgb>("left");  // the left column of each 2 x 2 block
    QTest::addColumn<QRgb>("right"); // the right column
    QTest::addColumn<QImage::Format>("outFormat");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("opaque") << QImage::Format_ARGB32 << qRgb(0, 100, 200) << qRgb(255, 50, 0)
                            << QImage::Format_ARGB32_Premultiplied << qRgb(128, 75, 100);
    // Straight colour under low alpha must not count as much as the opaque half.
    QTest::newRow("half clear") << QImage::Format_ARGB32 << qRgba(255, 0, 0, 0)
                                << qRgba(0, 0, 255, 255) << QImage::Format_ARGB32_Premultiplied
                                << qRgba(0, 0, 128, 128);
    QTest::newRow("translucent") << QImage::Format_ARGB32 << qRgba(200, 100, 0, 128)
                                 << qRgba(200, 100, 0, 128)
                                 << QImage::Format_ARGB32_Premultiplied
                                 << qPremultiply(qRgba(200, 100, 0, 128));
    QTest::newRow("rgb32 stays rgb32") << QImage::Format_RGB32 << qRgb(10, 20, 30)
                                       << qRgb(30, 40, 50) << QImage::Format_RGB32
                                       << qRgb(20, 30, 40);
    QTest::newRow("other formats converted")
        << QImage::Format_RGB888 << qRgb(10, 20, 30) << qRgb(30, 40, 50)
        << QImage::Format_ARGB32_Premultiplied << qRgb(20, 30, 40);
}

// Every output pixel averages its block; an odd last column and row pair with themselves, so the
// picture's edge is kept rather than cut off.
void TestDrawCopy::halvesBlocks() {
    QFETCH(QImage::Format, format);
    QFETCH(QRgb, left);
    QFETCH(QRgb, right);
    QFETCH(QImage::Format, outFormat);
    QFETCH(QRgb, expected);
    QImage image(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x % 2 ? right : left);
    image = image.convertToFormat(format);
    const QImage half = halvedImage(image);
    QCOMPARE(half.size(), QSize(3, 2));
    QCOMPARE(half.format(), outFormat);
    const auto raw = [&half](int x, int y) {
        return reinterpret_cast<const QRgb *>(half.constScanLine(y))[x];
    };
    for (int y = 0; y < 2; ++y) {
        QCOMPARE(raw(0, y), expected);
        QCOMPARE(raw(1, y), expected);
    }
    // The last column of the picture is a left column paired with itself.
    const QRgb edge = format == QImage::Format_ARGB32 ? qPremultiply(left) : left | 0xff000000u;
    QCOMPARE(raw(2, 1), edge);
}

void TestDrawCopy::fitsCap_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("cap");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("smaller than the cap") << QSize(300, 200) << QSize(1280, 1024) << QSize(300, 200);
    QTest::newRow("exactly the cap") << QSize(1280, 1024) << QSize(1280, 1024) << QSize(1280, 1024);
    QTest::newRow("8K on a small screen") << QSize(7680, 4320) << QSize(1280, 1024)
                                          << QSize(1280, 720);
    QTest::newRow("just over the cap") << QSize(1300, 1000) << QSize(1280, 1024)
                                       << QSize(1280, 984);
    QTest::newRow("odd sizes") << QSize(4097, 3001) << QSize(1000, 1000) << QSize(1000, 732);
    QTest::newRow("one tall column") << QSize(1, 5000) << QSize(1280, 1024) << QSize(1, 1024);
    QTest::newRow("one long row") << QSize(9000, 1) << QSize(1280, 1024) << QSize(1280, 1);
}

void TestDrawCopy::fitsCap() {
    QFETCH(QSize, picture);
    QFETCH(QSize, cap);
    QFETCH(QSize, expected);
    QImage image(picture, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 255));
    const QImage copy = makeDrawCopy(image, cap);
    QCOMPARE(copy.size(), expected);
    QCOMPARE(copy.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(copy.pixel(copy.width() / 2, copy.height() / 2), qRgba(10, 200, 30, 255));
}

void TestDrawCopy::matchesSmoothScale_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<bool>("opaque");
    QTest::newRow("opaque, halved twice") << QSize(1600, 1200) << true;
    QTest::newRow("translucent, halved twice") << QSize(1600, 1200) << false;
    QTest::newRow("translucent, odd size") << QSize(1203, 901) << false;
}

// Halving first must look like scaling the whole picture smoothly in one go.
void TestDrawCopy::matchesSmoothScale() {
    QFETCH(QSize, picture);
    QFETCH(bool, opaque);
    const QImage image = gradients(picture, opaque);
    const QSize cap(300, 300);
    const QImage copy = makeDrawCopy(image, cap);
    const QImage reference =
        image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(copy.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QCOMPARE(copy.size(), picture.scaled(cap, Qt::KeepAspectRatio));
    QVERIFY2(largestDifference(copy, reference) <= 2,
             qPrintable(QString::number(largestDifference(copy, reference))));
}

void TestDrawCopy::emptyPicture() {
    QVERIFY(makeDrawCopy(QImage(), QSize(100, 100)).isNull());
    QVERIFY(halvedImage(QImage()).isNull());
}

QTEST_MAIN(TestDrawCopy)
#include "tst_drawcopy.moc"
