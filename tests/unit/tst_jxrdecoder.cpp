// JPEG XR decoding. The files are made at test time: Qt writes a picture as BMP or TIFF, and
// JxrEncApp (Debian package libjxr-tools) encodes it, losslessly unless a row says otherwise. The
// decoded picture is compared with the picture Qt wrote. Where JxrEncApp cannot run (the Windows
// build's tests run under Wine), the same files come pre-made from tests/data/jxr, named after
// what they were made from; "--write-fixtures DIR" writes them anew.
#include "UnderWine.h"
#include "platform/JxrDecoder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <optional>

namespace {

constexpr quint16 kTagPixelFormat = 0xBC01;
constexpr quint16 kTagTransformation = 0xBC02;
constexpr quint16 kTagImageOffset = 0xBCC0;

// Last byte of the pixel format identifiers of 32-bit BGRA, 32-bit CMYK and one libjxr does not
// know; of premultiplied BGRA and 64-bit RGBA.
constexpr char kBgraFormat = 0x0F;
constexpr char kPbgraFormat = 0x10;
constexpr char kRgba64Format = 0x16;
constexpr char kCmykFormat = 0x1C;
constexpr char kUnknownFormat = char(0xFE);

// The reason a system without a JPEG XR decoder gives.
const QString kNoCodec = QStringLiteral("no JPEG XR decoder is installed");

// The name of the pre-made file for a picture encoded from `suffix` with `options`.
QString fixtureName(const QImage &source, const QString &suffix, const QStringList &options) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const QByteArray header = QByteArray::number(source.format()) + ' ' +
                              QByteArray::number(source.width()) + ' ' +
                              QByteArray::number(source.height()) + ' ' + suffix.toLatin1() + ' ' +
                              options.join(QLatin1Char(' ')).toLatin1();
    hash.addData(header);
    const qsizetype rowBytes = (qsizetype(source.width()) * source.depth() + 7) / 8;
    for (int y = 0; y < source.height(); ++y)
        hash.addData(QByteArrayView(source.constScanLine(y), rowBytes));
    return QString::fromLatin1(hash.result().toHex().left(16)) + QStringLiteral(".jxr");
}

// A picture whose neighbouring pixels all differ, with alpha from 0 to 255 when it has alpha.
QImage pattern(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba((x * 7 + y * 3) & 255, (x * 13 + y * 29 + 100) & 255,
                                 (x * x + y * 5 + 30) & 255, (x * 5 + y * 11) & 255));
    return image.convertToFormat(format);
}

// A smooth picture, for lossy compression.
QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / (width - 1), y * 255 / (height - 1), 128));
    return image;
}

// What a picture stored in 16-bit 5-5-5 or 5-6-5 pixels looks like decoded to 8 bits.
QImage quantized(const QImage &source, int greenBits) {
    const auto widen = [](int v, int bits) { return (v << (8 - bits)) | (v >> (2 * bits - 8)); };
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            image.setPixel(x, y,
                           qRgb(widen(qRed(p) >> 3, 5),
                                widen(qGreen(p) >> (8 - greenBits), greenBits),
                                widen(qBlue(p) >> 3, 5)));
        }
    return image;
}

enum class Channels { All, Colour };

// Largest difference of any channel of any pixel; -1 when the sizes differ.
int largestDifference(const QImage &actual, const QImage &expected, QPoint *where,
                      Channels channels = Channels::All) {
    if (actual.size() != expected.size())
        return -1;
    int largest = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            const int alpha = channels == Channels::All ? qAbs(qAlpha(a) - qAlpha(e)) : 0;
            const int d = qMax(qMax(qAbs(qRed(a) - qRed(e)), qAbs(qGreen(a) - qGreen(e))),
                               qMax(qAbs(qBlue(a) - qBlue(e)), alpha));
            if (d > largest) {
                largest = d;
                *where = QPoint(x, y);
            }
        }
    return largest;
}

// Where a directory entry's value lies in the container, if the entry is there.
std::optional<qsizetype> entryValue(const QByteArray &file, quint16 tag) {
    const quint32 directory = qFromLittleEndian<quint32>(file.constData() + 4);
    const quint16 entries = qFromLittleEndian<quint16>(file.constData() + directory);
    for (int i = 0; i < entries; ++i) {
        const qsizetype entry = directory + 2 + 12 * i;
        if (qFromLittleEndian<quint16>(file.constData() + entry) == tag)
            return entry + 8;
    }
    return std::nullopt;
}

quint32 valueOf(const QByteArray &file, quint16 tag) {
    return qFromLittleEndian<quint32>(file.constData() + entryValue(file, tag).value());
}

QByteArray withValue(QByteArray file, quint16 tag, quint32 value) {
    qToLittleEndian(value, file.data() + entryValue(file, tag).value());
    return file;
}

// The same file with the entry for `tag` turned into one for `newTag` of type `type`.
QByteArray withEntry(QByteArray file, quint16 tag, quint16 newTag, quint16 type, quint32 count,
                     quint32 value) {
    const qsizetype at = entryValue(file, tag).value() - 8;
    qToLittleEndian(newTag, file.data() + at);
    qToLittleEndian(type, file.data() + at + 2);
    qToLittleEndian(count, file.data() + at + 4);
    qToLittleEndian(value, file.data() + at + 8);
    return file;
}

char pixelFormatOf(const QByteArray &file) {
    return file[valueOf(file, kTagPixelFormat) + 15];
}

// Wine's JPEG XR decoder is libjxr behind WIC: alpha comes out zero wherever the pixel format has
// alpha, as from libjxr when its alpha mode is not set, and premultiplied pixels are not read.
bool wineLosesAlpha(const QByteArray &file, const QImage &expected) {
    if (!runningUnderWine())
        return false;
    const char format = pixelFormatOf(file);
    if (format != kBgraFormat && format != kPbgraFormat && format != kRgba64Format)
        return false;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (qAlpha(expected.pixel(x, y)) != 0)
                return true;
    return false;
}

bool wineRefusesPremultiplied(const QByteArray &file) {
    return runningUnderWine() && pixelFormatOf(file) == kPbgraFormat;
}

QByteArray withPixelFormat(QByteArray file, char lastByte) {
    file[valueOf(file, kTagPixelFormat) + 15] = lastByte;
    return file;
}

// The image header follows the eight bytes "WMPHOTO\0": four bytes of flags, then width - 1 and
// height - 1, in two bytes each when the first bit of the third flag byte (short header) is set,
// else in four.
constexpr int kFlagBytes = 4;
constexpr int kSignatureBytes = 8;
constexpr uchar kShortHeader = 0x80;

// The same file with a long header claiming width x height pixels.
QByteArray withLongHeaderSize(QByteArray file, quint32 width, quint32 height) {
    const qsizetype sizes = valueOf(file, kTagImageOffset) + kSignatureBytes + kFlagBytes;
    file[sizes - 2] = char(uchar(file[sizes - 2]) & ~kShortHeader);
    char longSizes[8];
    qToBigEndian<quint32>(width - 1, longSizes);
    qToBigEndian<quint32>(height - 1, longSizes + 4);
    file.replace(sizes, 4, longSizes, 8);
    const quint16 countTag = 0xBCC1; // image byte count: four bytes more
    return withValue(file, countTag, valueOf(file, countTag) + 4);
}

// The picture as it looks with the container's orientation 0 to 7: flipped vertically,
// horizontally, both; then the same four after a quarter turn clockwise.
QImage orientedByHand(const QImage &in, int orientation) {
    const int w = in.width();
    const int h = in.height();
    const bool turned = orientation >= 4;
    QImage out(turned ? h : w, turned ? w : h, QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            QPoint from;
            switch (orientation) {
            case 0:
                from = {x, y};
                break;
            case 1:
                from = {x, h - 1 - y};
                break;
            case 2:
                from = {w - 1 - x, y};
                break;
            case 3:
                from = {w - 1 - x, h - 1 - y};
                break;
            case 4:
                from = {y, h - 1 - x};
                break;
            case 5:
                from = {w - 1 - y, h - 1 - x};
                break;
            case 6:
                from = {y, x};
                break;
            case 7:
                from = {w - 1 - y, x};
                break;
            }
            out.setPixel(x, y, in.pixel(from));
        }
    return out;
}

} // namespace

class TestJxrDecoder : public QObject {
    Q_OBJECT
public:
    // Encodes `source` as Qt writes it in `suffix` format; empty, with the reason in *error, when
    // it cannot.
    QByteArray encode(const QImage &source, const QString &suffix, const QStringList &options,
                      QString *error);
    bool writeSeeds(const QString &dir);
    // Also keeps each encoded file in `dir`, under its pre-made file name.
    void writeFixturesTo(const QString &dir) { fixturesOut_ = dir; }

private slots:
    void initTestCase();
    void decodesFiles_data();
    void decodesFiles();
    void appliesOrientation_data();
    void appliesOrientation();
    void ignoresMetadata_data();
    void ignoresMetadata();
    void refusesFiles_data();
    void refusesFiles();
    void survivesDamagedFiles_data();
    void survivesDamagedFiles();
    void refusesWithoutLibrary();

private:
    void addEncodedRow(const char *name, const QImage &source, const QString &suffix,
                       const QStringList &options, const QImage &expected, int tolerance = 0);
    QByteArray baseFile(); // a plain 24-bit file, for damaging
    void requireEncoder();
    bool canEncode() const { return !encoder_.isEmpty() || fromFixtures_; }

    std::optional<QTemporaryDir> dir_;
    QString encoder_;
    bool fromFixtures_ = false; // no JxrEncApp: the files come pre-made
    QString fixturesOut_;
    int files_ = 0;
};

QByteArray TestJxrDecoder::encode(const QImage &source, const QString &suffix,
                                  const QStringList &options, QString *error) {
    const QString name = fixtureName(source, suffix, options);
    if (fromFixtures_) {
        QFile fixture(QDir(QStringLiteral(STIQLET_JXR_FIXTURES)).filePath(name));
        if (!fixture.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("no pre-made file %1 for %2 %3: write them anew with "
                                    "--write-fixtures where JxrEncApp runs")
                         .arg(name, suffix, options.join(QLatin1Char(' ')));
            return {};
        }
        return fixture.readAll();
    }
    const QString base = dir_->filePath(QString::number(++files_));
    const QString input = base + QLatin1Char('.') + suffix;
    const QString output = base + QStringLiteral(".jxr");
    QImageWriter writer(input);
    if (!writer.write(source)) {
        *error = QStringLiteral("Qt cannot write %1: %2").arg(input, writer.errorString());
        return {};
    }
    QProcess process;
    process.start(encoder_,
                  QStringList{QStringLiteral("-i"), input, QStringLiteral("-o"), output} + options);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("JxrEncApp %1 failed: %2")
                     .arg(options.join(QLatin1Char(' ')),
                          QString::fromLocal8Bit(process.readAllStandardOutput().right(300)));
        return {};
    }
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) {
        *error = QStringLiteral("JxrEncApp wrote nothing");
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (!fixturesOut_.isEmpty()) {
        QFile fixture(QDir(fixturesOut_).filePath(name));
        if (!fixture.open(QIODevice::WriteOnly) || fixture.write(bytes) != bytes.size())
            qWarning("cannot write %s", qPrintable(fixture.fileName()));
    }
    return bytes;
}

void TestJxrDecoder::initTestCase() {
    dir_.emplace();
    QVERIFY(dir_->isValid());
    encoder_ = QStandardPaths::findExecutable(QStringLiteral("JxrEncApp"));
    fromFixtures_ = encoder_.isEmpty() && QDir(QStringLiteral(STIQLET_JXR_FIXTURES)).exists();
}

void TestJxrDecoder::requireEncoder() {
    if (!platform::jxrSupported())
        QSKIP("built without libjxr");
    if (!canEncode())
        QSKIP("JxrEncApp (libjxr-tools) is not installed");
}

void TestJxrDecoder::addEncodedRow(const char *name, const QImage &source, const QString &suffix,
                                   const QStringList &options, const QImage &expected,
                                   int tolerance) {
    QString error;
    const QByteArray file = encode(source, suffix, options, &error);
    QTest::newRow(name) << file << error << expected.convertToFormat(QImage::Format_ARGB32)
                        << tolerance;
}

void TestJxrDecoder::decodesFiles_data() {
    requireEncoder();
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("encodeError");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<int>("tolerance"); // largest difference of a channel

    const QStringList lossless{QStringLiteral("-q"), QStringLiteral("1")};
    const QString bmp = QStringLiteral("bmp");
    const QString tif = QStringLiteral("tif");
    const auto with = [&](std::initializer_list<const char *> more) {
        QStringList options = lossless;
        for (const char *o : more)
            options << QString::fromLatin1(o);
        return options;
    };

    const QImage rgb = pattern(37, 23, QImage::Format_RGB888);
    const QImage argb = pattern(37, 23, QImage::Format_ARGB32);
    addEncodedRow("24-bit BGR", rgb, bmp, lossless, rgb);
    addEncodedRow("24-bit RGB", rgb, tif, lossless, rgb);
    const QImage grey = rgb.convertToFormat(QImage::Format_Grayscale8);
    addEncodedRow("8-bit grey", grey, tif, lossless, grey);
    const QImage mono = rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    addEncodedRow("black and white", mono, tif, lossless, mono);
    addEncodedRow("16-bit grey", grey.convertToFormat(QImage::Format_Grayscale16), tif, lossless,
                  grey);
    addEncodedRow("16-bit 5-5-5", rgb, tif, with({"-c", "29"}), quantized(rgb, 5));
    addEncodedRow("16-bit 5-6-5", rgb, tif, with({"-c", "30"}), quantized(rgb, 6));
    addEncodedRow("48-bit RGB", rgb.convertToFormat(QImage::Format_RGBX64), tif, lossless, rgb);
    addEncodedRow("BGRA, separate alpha plane", argb, tif, with({"-a", "2"}), argb);
    addEncodedRow("BGRA, interleaved alpha", argb, tif, with({"-a", "3"}), argb);
    addEncodedRow("64-bit RGBA", argb.convertToFormat(QImage::Format_RGBA64), tif,
                  with({"-a", "2"}), argb);
    // Premultiplied pixels carry less colour where alpha is low: compared with what Qt makes of
    // the same premultiplied pixels, give or take rounding.
    const QImage premultiplied = argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    addEncodedRow("premultiplied BGRA", premultiplied, tif, with({"-a", "2"}), premultiplied, 1);

    // A pixel format with alpha, and no alpha stored: opaque.
    QString error;
    const QByteArray opaqueFile = encode(rgb, bmp, lossless, &error);
    QTest::newRow("BGRA without alpha data")
        << (opaqueFile.isEmpty() ? opaqueFile : withPixelFormat(opaqueFile, kBgraFormat)) << error
        << rgb.convertToFormat(QImage::Format_ARGB32) << 0;

    // Sizes around the decoder's 16 x 16 macroblocks.
    for (const QSize size :
         {QSize(1, 1), QSize(2, 3), QSize(16, 16), QSize(17, 33), QSize(100, 1), QSize(1, 40)}) {
        const QByteArray label =
            QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height());
        const QImage opaque = pattern(size.width(), size.height(), QImage::Format_RGB888);
        const QImage alpha = pattern(size.width(), size.height(), QImage::Format_ARGB32);
        addEncodedRow(("24-bit BGR " + label).constData(), opaque, bmp, lossless, opaque);
        addEncodedRow(("BGRA " + label).constData(), alpha, tif, with({"-a", "2"}), alpha);
    }

    // Other ways of laying out the same data.
    const QImage wide = pattern(70, 50, QImage::Format_RGB888);
    addEncodedRow("spatial order", wide, bmp, with({"-f"}), wide);
    addEncodedRow("sequential", wide, bmp, with({"-p"}), wide);
    addEncodedRow("tiles of 2 x 2 macroblocks", wide, bmp, with({"-V", "2", "-H", "2"}), wide);
    addEncodedRow("no overlap", wide, bmp, with({"-l", "0"}), wide);

    // Lossy, with the colour sampled at half resolution: close, not equal.
    const QImage smooth = gradient(96, 64);
    addEncodedRow(
        "lossy 4:2:0", smooth, bmp,
        {QStringLiteral("-q"), QStringLiteral("0.9"), QStringLiteral("-d"), QStringLiteral("1")},
        smooth, 8);
}

void TestJxrDecoder::decodesFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QString, encodeError);
    QFETCH(QImage, expected);
    QFETCH(int, tolerance);
    if (file.isEmpty() && fromFixtures_)
        QFAIL(qPrintable(encodeError));
    if (file.isEmpty())
        QSKIP(qPrintable(encodeError));

    QString why;
    const QImage image = platform::decodeJxr(file, &why);
    if (why == kNoCodec)
        QSKIP(qPrintable(why));
    if (wineRefusesPremultiplied(file))
        QEXPECT_FAIL("", "Wine's JPEG XR decoder does not read premultiplied BGRA", Abort);
    QVERIFY2(!image.isNull(), qPrintable(why));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    // Colour first, then alpha, which Wine's decoder loses.
    for (const Channels channels : {Channels::Colour, Channels::All}) {
        QPoint where;
        const int difference = largestDifference(image, expected, &where, channels);
        QVERIFY2(difference >= 0,
                 qPrintable(QStringLiteral("size %1 x %2").arg(image.width()).arg(image.height())));
        if (channels == Channels::All && wineLosesAlpha(file, expected))
            QEXPECT_FAIL("", "Wine's JPEG XR decoder leaves alpha zero", Abort);
        QVERIFY2(difference <= tolerance,
                 qPrintable(QStringLiteral("pixel (%1, %2) is #%3, want #%4")
                                .arg(where.x())
                                .arg(where.y())
                                .arg(image.pixel(where), 8, 16, QLatin1Char('0'))
                                .arg(expected.pixel(where), 8, 16, QLatin1Char('0'))));
    }
}

void TestJxrDecoder::appliesOrientation_data() {
    requireEncoder();
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("encodeError");
    QTest::addColumn<QImage>("expected");

    const QImage source = pattern(37, 23, QImage::Format_ARGB32);
    QString error;
    const QByteArray file =
        encode(source, QStringLiteral("tif"), {QStringLiteral("-q"), QStringLiteral("1")}, &error);
    const char *names[] = {"as stored",
                           "flipped vertically",
                           "flipped horizontally",
                           "flipped both ways",
                           "turned clockwise",
                           "turned clockwise, flipped vertically",
                           "turned clockwise, flipped horizontally",
                           "turned clockwise, flipped both ways"};
    for (int orientation = 0; orientation < 8; ++orientation)
        QTest::newRow(names[orientation])
            << (file.isEmpty() ? file : withValue(file, kTagTransformation, quint32(orientation)))
            << error << orientedByHand(source, orientation);
}

void TestJxrDecoder::appliesOrientation() {
    QFETCH(QByteArray, file);
    QFETCH(QString, encodeError);
    QFETCH(QImage, expected);
    if (file.isEmpty() && fromFixtures_)
        QFAIL(qPrintable(encodeError));
    if (file.isEmpty())
        QSKIP(qPrintable(encodeError));

    QString why;
    const QImage image = platform::decodeJxr(file, &why);
    if (why == kNoCodec)
        QSKIP(qPrintable(why));
    QVERIFY2(!image.isNull(), qPrintable(why));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QPoint where;
    QCOMPARE(largestDifference(image, expected, &where, Channels::Colour), 0);
    if (wineLosesAlpha(file, expected))
        QEXPECT_FAIL("", "Wine's JPEG XR decoder leaves alpha zero", Abort);
    QCOMPARE(largestDifference(image, expected, &where), 0);
}

void TestJxrDecoder::ignoresMetadata_data() {
    requireEncoder();
    QTest::addColumn<QByteArray>("file");
    const QByteArray file = baseFile();
    if (file.isEmpty())
        QSKIP("JxrEncApp failed");
    // The horizontal resolution's entry is turned into another that the picture does not need.
    // libjxr would assert on the first, read before its buffer for the second and print a line
    // for the third.
    constexpr quint16 resolution = 0xBC82;
    constexpr quint16 byteType = 1;
    QTest::newRow("description stored as a byte")
        << withEntry(file, resolution, 0x010E, byteType, 1, 'x');
    QTest::newRow("caption of one byte") << withEntry(file, resolution, 0x9C9B, byteType, 1, 'x');
    QTest::newRow("unknown tag") << withEntry(file, resolution, 0x1234, 4, 1, 0);
}

void TestJxrDecoder::ignoresMetadata() {
    QFETCH(QByteArray, file);

    QString why;
    const QImage image = platform::decodeJxr(file, &why);
    if (why == kNoCodec)
        QSKIP(qPrintable(why));
    QVERIFY2(!image.isNull(), qPrintable(why));
    QPoint where;
    QCOMPARE(largestDifference(
                 image,
                 pattern(37, 23, QImage::Format_ARGB32).convertToFormat(QImage::Format_RGB32),
                 &where),
             0);
}

QByteArray TestJxrDecoder::baseFile() {
    QString error;
    const QByteArray file = encode(pattern(37, 23, QImage::Format_RGB888), QStringLiteral("bmp"),
                                   {QStringLiteral("-q"), QStringLiteral("1")}, &error);
    if (file.isEmpty())
        qWarning("%s", qPrintable(error));
    return file;
}

void TestJxrDecoder::refusesFiles_data() {
    if (!platform::jxrSupported())
        QSKIP("built without libjxr");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason"); // part of the reason given

    QTest::newRow("empty") << QByteArray() << QStringLiteral("no data");
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                         << QStringLiteral("not a JPEG XR image");
    QTest::newRow("TIFF") << QByteArray("II*\0\x08\0\0\0\0\0", 10)
                          << QStringLiteral("not a JPEG XR image");
    QRandomGenerator random(20260518);
    QByteArray noise(4096, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("random bytes") << noise << QString();
    QTest::newRow("random bytes after the signature")
        << QByteArray("II\xBC\x01", 4) + noise << QString();
    // Found by fuzzing: on an image plane of internal colour format 5, libjxr writes far past a
    // buffer (a memset in ImageStrDecDecode) before it reads any image data, and the decoding
    // child dies of SIGSEGV. Whatever libjxr does with it, the file is refused.
    static const char colourFormat5[] =
        "II\xBC\x01\x08\0\0\0"                                             // directory at 8
        "\x02\0"                                                           // of two entries:
        "\x01\xBC\x01\0\x10\0\0\0\x26\0\0\0"                               // pixel format at 38
        "\xC0\xBC\x04\0\x01\0\0\0\x36\0\0\0"                               // image at 54
        "\0\0\0\0"                                                         // and no other
        "\x24\xC3\xDD\x6F\x03\x4E\xFE\x4B\xB1\x85\x3D\x77\x76\x8D\xC9\x0C" // 24-bit BGR
        "WMPHOTO\0\x11\x45\xC0\x71\0\0\0\0" // JxrEncApp's image header for 1 x 1 pixels, then
        "\xA0"; // the image plane's colour format: 5 in the top three bits (JxrEncApp writes 3)
    QTest::newRow("image plane of colour format 5")
        << QByteArray(colourFormat5, sizeof colourFormat5 - 1) << QString();
    // Inputs on which fuzzing made libjxr fail one of its own assertions (the decoding child
    // aborts), kept as the fuzzer found them.
    const QDir regressions(QStringLiteral(STIQLET_JXR_REGRESSIONS));
    const QStringList found = regressions.entryList({QStringLiteral("*.jxr")}, QDir::Files);
    QVERIFY(!found.isEmpty());
    for (const QString &name : found) {
        QFile input(regressions.filePath(name));
        QVERIFY(input.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(QStringLiteral("fuzz finding ") + name))
            << input.readAll() << QString();
    }

    if (!canEncode())
        return;
    const QByteArray file = baseFile();
    if (file.isEmpty())
        return;
    const qsizetype image = valueOf(file, kTagImageOffset);
    for (const qsizetype length : {qsizetype(2), qsizetype(8), qsizetype(20), qsizetype(40), image,
                                   image + 16, file.size() / 2, file.size() - 1})
        QTest::newRow(
            qPrintable(QStringLiteral("cut to %1 of %2 bytes").arg(length).arg(file.size())))
            << file.left(length) << QString();
    QTest::newRow("image data past the end")
        << withValue(file, kTagImageOffset, quint32(file.size())) << QStringLiteral("truncated");
    QTest::newRow("orientation 8")
        << withValue(file, kTagTransformation, 8) << QStringLiteral("damaged");
    QTest::newRow("unknown pixel format")
        << withPixelFormat(file, kUnknownFormat) << QStringLiteral("unknown JPEG XR pixel format");
    QTest::newRow("CMYK") << withPixelFormat(file, kCmykFormat)
                          << QStringLiteral("unsupported JPEG XR pixel format");
    QTest::newRow("100000 x 100000 pixels")
        << withLongHeaderSize(file, 100000, 100000) << QStringLiteral("too large");
}

void TestJxrDecoder::refusesFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);

    QString why;
    QVERIFY(platform::decodeJxr(file, &why).isNull());
    QVERIFY(!why.isEmpty());
    QVERIFY2(why.contains(reason), qPrintable(why));
}

void TestJxrDecoder::survivesDamagedFiles_data() {
    requireEncoder();
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");

    const QByteArray file = baseFile();
    if (file.isEmpty())
        QSKIP("JxrEncApp failed");
    const QSize size(37, 23);
    const qsizetype header = valueOf(file, kTagImageOffset);
    // The byte after the flags holds the colour format and the bit depth: libjxr divides by
    // zero on the first file and fails an assertion on the second.
    const qsizetype format = header + kSignatureBytes + kFlagBytes - 1;
    QByteArray inverted = file;
    inverted[format] = char(~inverted[format]);
    QTest::newRow("colour format inverted") << inverted << size;
    QByteArray lowered = file;
    lowered[format] = char(lowered[format] - 1);
    QTest::newRow("bit depth lowered") << lowered << size;
    // Damaged coefficients: libjxr reads far outside its tables on some of these.
    const qsizetype data = header + 24;
    for (const qsizetype at :
         {data, data + 100, data + 416, qsizetype(file.size()) / 2, file.size() - 40}) {
        QByteArray zeroed = file;
        zeroed.replace(at, 32, QByteArray(32, '\0'));
        QTest::newRow(qPrintable(QStringLiteral("zeros at %1").arg(at))) << zeroed << size;
        QByteArray flipped = file;
        for (qsizetype i = at; i < at + 32; ++i)
            flipped[i] = char(~flipped[i]);
        QTest::newRow(qPrintable(QStringLiteral("inverted at %1").arg(at))) << flipped << size;
        QByteArray one = file;
        one[at] = char(one[at] - 1);
        QTest::newRow(qPrintable(QStringLiteral("one byte lowered at %1").arg(at))) << one << size;
    }
}

// Damaged files may still decode to something, or crash libjxr; either way the decoder returns,
// and the program goes on.
void TestJxrDecoder::survivesDamagedFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);

    QString why;
    const QImage image = platform::decodeJxr(file, &why);
    if (image.isNull()) {
        QVERIFY(!why.isEmpty());
    } else {
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format_ARGB32);
    }
}

void TestJxrDecoder::refusesWithoutLibrary() {
    if (platform::jxrSupported())
        QSKIP("this build decodes JPEG XR");
    QString why;
    QVERIFY(platform::decodeJxr(QByteArray("II\xBC\x01", 4), &why).isNull());
    QCOMPARE(why, QStringLiteral("JPEG XR is not supported in this build"));
}

// "--write-seeds DIR": the encoded files above, as the fuzzer's starting corpus.
bool TestJxrDecoder::writeSeeds(const QString &dir) {
    initTestCase();
    if (encoder_.isEmpty() || !QDir().mkpath(dir))
        return false;
    struct Seed {
        const char *name;
        QImage image;
        const char *suffix;
        QStringList options;
    };
    const QStringList lossless{QStringLiteral("-q"), QStringLiteral("1")};
    const QImage rgb = pattern(37, 23, QImage::Format_RGB888);
    const QImage argb = pattern(37, 23, QImage::Format_ARGB32);
    const Seed seeds[] = {
        {"bgr24", rgb, "bmp", lossless},
        {"grey8", rgb.convertToFormat(QImage::Format_Grayscale8), "tif", lossless},
        {"bgra-planar", argb, "tif",
         lossless + QStringList{QStringLiteral("-a"), QStringLiteral("2")}},
        {"bgra-interleaved", argb, "tif",
         lossless + QStringList{QStringLiteral("-a"), QStringLiteral("3")}},
        {"rgba64", argb.convertToFormat(QImage::Format_RGBA64), "tif", lossless},
        {"bgr565", rgb, "tif", lossless + QStringList{QStringLiteral("-c"), QStringLiteral("30")}},
        {"lossy420",
         gradient(64, 48),
         "bmp",
         {QStringLiteral("-q"), QStringLiteral("0.8"), QStringLiteral("-d"), QStringLiteral("1")}},
        {"tiled", pattern(70, 50, QImage::Format_RGB888), "bmp",
         lossless + QStringList{QStringLiteral("-V"), QStringLiteral("2"), QStringLiteral("-H"),
                                QStringLiteral("2")}},
    };
    bool ok = true;
    for (const Seed &seed : seeds) {
        QString error;
        const QByteArray bytes =
            encode(seed.image, QString::fromLatin1(seed.suffix), seed.options, &error);
        QFile file(QDir(dir).filePath(QString::fromLatin1(seed.name) + QStringLiteral(".hdp")));
        ok = !bytes.isEmpty() && file.open(QIODevice::WriteOnly) &&
             file.write(bytes) == bytes.size() && ok;
    }
    return ok;
}

int main(int argc, char *argv[]) {
    // The TIFF writer is a plugin, found through the application object.
    QCoreApplication app(argc, argv);
    TestJxrDecoder test;
    if (argc == 3 && qstrcmp(argv[1], "--write-seeds") == 0)
        return test.writeSeeds(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    // "--write-fixtures DIR [test arguments]": runs the tests, keeping the files they encode.
    if (argc >= 3 && qstrcmp(argv[1], "--write-fixtures") == 0) {
        const QString dir = QString::fromLocal8Bit(argv[2]);
        if (!QDir().mkpath(dir))
            return 1;
        test.writeFixturesTo(dir);
        argv[2] = argv[0];
        return QTest::qExec(&test, argc - 2, argv + 2);
    }
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jxrdecoder.moc"
