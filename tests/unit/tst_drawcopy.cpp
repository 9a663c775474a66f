#include "pictures/DrawCache.h"
#include "pictures/DrawCopy.h"

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

// Noise in every channel, alpha included unless opaque: what a block average must reproduce
// exactly, pixel by pixel.
QImage noise(const QSize &size, bool opaque) {
    QImage image(size, QImage::Format_ARGB32);
    quint32 state = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = opaque ? (state | 0xff000000u) : state;
        }
    }
    return image;
}

// The average of the factor x factor block at (bx, by) of a premultiplied picture, each channel
// rounded to nearest, over the pixels the block has.
QRgb blockAverage(const QImage &premultiplied, int factor, int bx, int by) {
    quint64 sums[4] = {};
    int count = 0;
    for (int y = by * factor; y < std::min((by + 1) * factor, premultiplied.height()); ++y)
        for (int x = bx * factor; x < std::min((bx + 1) * factor, premultiplied.width()); ++x) {
            const QRgb p = reinterpret_cast<const QRgb *>(premultiplied.constScanLine(y))[x];
            sums[0] += qBlue(p);
            sums[1] += qGreen(p);
            sums[2] += qRed(p);
            sums[3] += qAlpha(p);
            ++count;
        }
    const auto average = [count](quint64 sum) { return int((sum + count / 2) / count); };
    return qRgba(average(sums[2]), average(sums[1]), average(sums[0]), average(sums[3]));
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
    void reducesBlocks_data();
    void reducesBlocks();
    void reductionStaysAtLeastTheSizeShown_data();
    void reductionStaysAtLeastTheSizeShown();
    void cacheReadsThePictureOnlyWhenTheNoteOutgrowsItsCopy();
    void cacheCopiesASmallPictureOnce();
    void cacheForgetsTheOldPicture();
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
    QTest::newRow("scrolling screenshot") << QSize(1080, 20000) << QSize(404, 404)
                                          << QSize(21, 404);
    QTest::newRow("40000 x 100") << QSize(40000, 100) << QSize(404, 404) << QSize(404, 1);
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

void TestDrawCopy::reducesBlocks_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("factor");
    QTest::addColumn<bool>("opaque");
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("blocks fit exactly") << QSize(64, 48) << 8 << true << QImage::Format_ARGB32;
    QTest::newRow("partial blocks at the right and bottom")
        << QSize(70, 53) << 8 << true << QImage::Format_ARGB32;
    QTest::newRow("translucent: straight colour weighed by alpha")
        << QSize(70, 53) << 5 << false << QImage::Format_ARGB32;
    QTest::newRow("premultiplied stays premultiplied")
        << QSize(41, 29) << 3 << false << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("rgb32 stays rgb32") << QSize(41, 29) << 4 << true << QImage::Format_RGB32;
    QTest::newRow("other formats converted") << QSize(41, 29) << 4 << true
                                             << QImage::Format_RGB888;
    QTest::newRow("one block larger than the picture")
        << QSize(10, 7) << 16 << false << QImage::Format_ARGB32;
    QTest::newRow("largest blocks of white") << QSize(600, 300) << 256 << true
                                             << QImage::Format_ARGB32;
    QTest::newRow("enough rows for several threads")
        << QSize(300, 2100) << 2 << false << QImage::Format_ARGB32;
}

// Each pixel of the reduced picture is exactly the rounded average of its block, premultiplied.
void TestDrawCopy::reducesBlocks() {
    QFETCH(QSize, picture);
    QFETCH(int, factor);
    QFETCH(bool, opaque);
    QFETCH(QImage::Format, format);
    QImage image = noise(picture, opaque);
    if (factor == 256)
        image.fill(0xffffffffu); // the largest sums there are
    image = image.convertToFormat(format);
    const QImage reduced = reducedImage(image, QSize(factor, factor));
    const QSize expectedSize((picture.width() + factor - 1) / factor,
                             (picture.height() + factor - 1) / factor);
    QCOMPARE(reduced.size(), expectedSize);
    QCOMPARE(reduced.format(), format == QImage::Format_RGB32
                                   ? QImage::Format_RGB32
                                   : QImage::Format_ARGB32_Premultiplied);
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < reduced.height(); ++y)
        for (int x = 0; x < reduced.width(); ++x) {
            const QRgb got = reinterpret_cast<const QRgb *>(reduced.constScanLine(y))[x];
            const QRgb want = blockAverage(premultiplied, factor, x, y);
            if (got != want)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, the block's average %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got, 8, 16, QLatin1Char('0'))
                                     .arg(want, 8, 16, QLatin1Char('0'))));
        }
}

void TestDrawCopy::reductionStaysAtLeastTheSizeShown_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("8K in the note") << QSize(7680, 4320) << QSize(200, 112) << QSize(38, 38);
    QTest::newRow("tall picture") << QSize(1000, 9000) << QSize(22, 200) << QSize(45, 45);
    QTest::newRow("smaller than shown") << QSize(100, 100) << QSize(200, 200) << QSize(1, 1);
    QTest::newRow("less than twice the size shown")
        << QSize(399, 399) << QSize(200, 200) << QSize(1, 1);
    QTest::newRow("nothing shown") << QSize(100, 100) << QSize(0, 0) << QSize(1, 1);
    QTest::newRow("at most 256") << QSize(30000, 30000) << QSize(10, 10) << QSize(256, 256);
    // Shown one pixel wide, a long thin picture is still reduced along its length.
    QTest::newRow("thin column") << QSize(3, 300000) << QSize(1, 404) << QSize(3, 256);
    QTest::newRow("thin row") << QSize(40000, 2) << QSize(404, 1) << QSize(99, 2);
}

void TestDrawCopy::reductionStaysAtLeastTheSizeShown() {
    QFETCH(QSize, picture);
    QFETCH(QSize, shown);
    QFETCH(QSize, expected);
    const QSize factor = reductionFactor(picture, shown);
    QCOMPARE(factor, expected);
    // Never below the size shown, unless the picture itself is smaller.
    QVERIFY((picture.width() + factor.width() - 1) / factor.width() >=
            std::min(picture.width(), shown.width()));
    QVERIFY((picture.height() + factor.height() - 1) / factor.height() >=
            std::min(picture.height(), shown.height()));
}

// The cache reads the picture once for the first frame and again only when the note grows past
// twice that size; every size it draws looks like the whole picture smoothly scaled.
void TestDrawCopy::cacheReadsThePictureOnlyWhenTheNoteOutgrowsItsCopy() {
    DrawCache cache;
    const QImage picture = gradients(QSize(3000, 2000), false);
    const QImage premultiplied = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    cache.setPicture(picture);
    const struct {
        QSize shown;
        int copiesMade;
    } steps[] = {
        {{300, 200}, 1}, // the first frame
        {{450, 300}, 1}, // grown, within twice the first size
        {{600, 400}, 1},
        {{601, 401}, 1}, // a pixel more, as the rounding of a fitted picture may give
        {{150, 100}, 1}, // shrunk: a halving of the copy
        {{40, 27}, 1},
        {{900, 600}, 2}, // past the copy: the picture is read again
        {{300, 200}, 2},
    };
    for (const auto &step : steps) {
        const QImage drawn = cache.scaled(step.shown);
        QCOMPARE(drawn.size(), step.shown);
        QCOMPARE(cache.copiesMade(), step.copiesMade);
        const QImage reference =
            premultiplied.scaled(step.shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY2(largestDifference(drawn, reference) <= 3,
                 qPrintable(QStringLiteral("%1 x %2: %3")
                                .arg(step.shown.width())
                                .arg(step.shown.height())
                                .arg(largestDifference(drawn, reference))));
    }
}

// A picture smaller than the note is copied once, whatever size the note takes.
void TestDrawCopy::cacheCopiesASmallPictureOnce() {
    DrawCache cache;
    cache.setPicture(gradients(QSize(100, 80), true));
    for (const QSize &shown : {QSize(400, 320), QSize(1000, 800), QSize(50, 40), QSize(100, 80)})
        QCOMPARE(cache.scaled(shown).size(), shown);
    QCOMPARE(cache.copiesMade(), 1);
}

// A new picture replaces every copy of the old one.
void TestDrawCopy::cacheForgetsTheOldPicture() {
    DrawCache cache;
    QImage red(2000, 2000, QImage::Format_ARGB32);
    red.fill(qRgb(255, 0, 0));
    cache.setPicture(red);
    QCOMPARE(cache.scaled(QSize(100, 100)).pixel(50, 50), qRgb(255, 0, 0));
    QImage blue(1500, 1500, QImage::Format_ARGB32);
    blue.fill(qRgb(0, 0, 255));
    cache.setPicture(blue);
    QCOMPARE(cache.copiesMade(), 0);
    QCOMPARE(cache.scaled(QSize(100, 100)).pixel(50, 50), qRgb(0, 0, 255));
    QCOMPARE(cache.scaled(QSize(90, 90)).pixel(45, 45), qRgb(0, 0, 255));
    cache.setPicture(QImage());
    QVERIFY(cache.isEmpty());
    QVERIFY(cache.scaled(QSize(80, 80)).isNull());
}

QTEST_MAIN(TestDrawCopy)
#include "tst_drawcopy.moc"
