// JPEG XR files are decoded on Windows by the Windows Imaging Component, whose JPEG XR decoder
// ships with Windows. The container is checked here first; WIC gets it with the orientation
// cleared and hands out the pixels as stored, which are then oriented as on the other systems.
// TIFF files, for which the program carries no reader of its own on Windows, go to WIC's TIFF
// decoder the same way.
#include "platform/jxr/JxrWic.h"

#include "pictures/ImageDecode.h"
#include "pictures/ImageLimits.h"
#include "pictures/JxrOrientation.h"

#include <QtEndian>

#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform::jxr {
namespace {

using Microsoft::WRL::ComPtr;

constexpr quint16 kTagPixelFormat = 0xBC01;
constexpr quint16 kTagTransformation = 0xBC02;
constexpr quint16 kTagImageOffset = 0xBCC0;
constexpr quint16 kTagImageByteCount = 0xBCC1;
constexpr int kEntryBytes = 12;
constexpr int kGuidBytes = 16;

// The entries the picture needs: pixel format, transformation, compression, image type, size,
// resolution, where the image and alpha data lie and which of their bands are left out.
constexpr quint16 kPictureTags[] = {0xBC01, 0xBC02, 0xBC03, 0xBC04, 0xBC80, 0xBC81, 0xBC82,
                                    0xBC83, 0xBCC0, 0xBCC1, 0xBCC2, 0xBCC3, 0xBCC4, 0xBCC5};

// JPEG XR pixel formats share the first 15 bytes of their identifier; the last tells them apart.
constexpr char kPixelFormatFamily[] =
    "\x24\xC3\xDD\x6F\x03\x4E\xFE\x4B\xB1\x85\x3D\x77\x76\x8D\xC9";
// Formats of ink or of unnamed channels, which hold no colour picture the note can show.
constexpr uchar kNoColourPicture[] = {
    0x1C, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D,
    0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x43, 0x54, 0x55, 0x56};

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

QString withCode(const QString &reason, HRESULT result) {
    return QStringLiteral("%1 (error 0x%2)")
        .arg(reason)
        .arg(quint32(result), 8, 16, QLatin1Char('0'));
}

// COM on this thread while a decode runs. A thread where COM already runs, in either model, is
// fine as it is: WIC's objects work in both.
class ComScope {
public:
    ComScope()
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        // Every successful call, S_FALSE for an apartment already there included, is undone.
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComScope(const ComScope &) = delete;
    ComScope &operator=(const ComScope &) = delete;
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// What the container says before the codec sees it. The container is a little-endian TIFF-like
// directory of 12-byte entries.
struct Container {
    int orientation = 0;
    // The file as the codec gets it: the entries the picture needs, the orientation cleared, since
    // it is applied afterwards (Wine's decoder fails on a rotation), and no metadata, which the
    // codec has no use for and which libjxr, behind Wine's decoder, misreads.
    QByteArray forCodec;
    QString whyNot; // empty when the container is usable
};

quint32 entryValue(const uchar *entry) {
    switch (qFromLittleEndian<quint16>(entry + 2)) {
    case 1: // byte
        return entry[8];
    case 3: // short
        return qFromLittleEndian<quint16>(entry + 8);
    default:
        return qFromLittleEndian<quint32>(entry + 8);
    }
}

// Why the pixel format stored at `offset` is not decoded; empty when it may be.
QString pixelFormatProblem(const QByteArray &data, qint64 offset) {
    if (offset < 0 || offset > data.size() - kGuidBytes)
        return QStringLiteral("damaged JPEG XR container: no pixel format");
    const QByteArray guid = data.mid(offset, kGuidBytes);
    const uchar id = uchar(guid.back());
    if (!guid.startsWith(QByteArray(kPixelFormatFamily, kGuidBytes - 1)) || id < 0x05 ||
        id == 0x06 || id == 0x07 || id == 0x3C || id > 0x56)
        return QStringLiteral("unknown JPEG XR pixel format");
    if (std::find(std::begin(kNoColourPicture), std::end(kNoColourPicture), id) !=
        std::end(kNoColourPicture))
        return QStringLiteral("unsupported JPEG XR pixel format");
    return QString();
}

Container readContainer(const QByteArray &data) {
    Container container;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    if (size < 8 || !data.startsWith("II\xBC")) {
        container.whyNot = QStringLiteral("not a JPEG XR image");
        return container;
    }
    const qint64 directory = qFromLittleEndian<quint32>(bytes + 4);
    if (directory > size - 2) {
        container.whyNot = QStringLiteral("damaged JPEG XR container: directory past the end");
        return container;
    }
    const qint64 entries = qFromLittleEndian<quint16>(bytes + directory);
    if (entries * kEntryBytes > size - directory - 2) {
        container.whyNot = QStringLiteral("damaged JPEG XR container: directory cut short");
        return container;
    }

    container.forCodec = data;
    uchar *out = reinterpret_cast<uchar *>(container.forCodec.data()) + directory + 2;
    qint64 kept = 0;
    qint64 pixelFormat = -1;
    qint64 imageOffset = -1;
    qint64 imageBytes = 0;
    for (qint64 i = 0; i < entries; ++i) {
        const uchar *entry = bytes + directory + 2 + i * kEntryBytes;
        const quint16 tag = qFromLittleEndian<quint16>(entry);
        if (std::find(std::begin(kPictureTags), std::end(kPictureTags), tag) ==
            std::end(kPictureTags))
            continue;
        std::memmove(out + kept * kEntryBytes, entry, kEntryBytes);
        if (tag == kTagTransformation) {
            const quint32 orientation = entryValue(entry);
            if (orientation > 7) {
                container.whyNot =
                    QStringLiteral("damaged JPEG XR container: orientation %1").arg(orientation);
                return container;
            }
            container.orientation = int(orientation);
            std::memset(out + kept * kEntryBytes + 8, 0, 4);
        } else if (tag == kTagPixelFormat) {
            pixelFormat = entryValue(entry);
        } else if (tag == kTagImageOffset) {
            imageOffset = entryValue(entry);
        } else if (tag == kTagImageByteCount) {
            imageBytes = entryValue(entry);
        }
        ++kept;
    }
    if (imageOffset < 0 || imageOffset >= size || imageBytes > size - imageOffset) {
        container.whyNot =
            QStringLiteral("truncated JPEG XR file: the image data is not all there");
        return container;
    }
    container.whyNot = pixelFormatProblem(data, pixelFormat);
    qToLittleEndian(quint16(kept), out - 2);
    // No directory follows this one.
    if (kept < entries)
        std::memset(out + kept * kEntryBytes, 0, 4);
    return container;
}

// Decodes the first frame of `bytes` with WIC's decoder for `container` to straight-alpha
// ARGB32, as stored. `kind` names the format in the reasons.
QImage decodeFrame(const GUID &container, const QByteArray &bytes, const QString &kind,
                   QString *whyNot) {
    if (bytes.size() > qsizetype(UINT_MAX))
        return fail(whyNot, QStringLiteral("file is too large"));

    const ComScope com;
    if (!com.usable())
        return fail(whyNot, withCode(QStringLiteral("cannot start COM"), com.result()));
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&factory));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("no Windows Imaging Component"), hr));
    // The format's own decoder, not whichever one recognises the bytes: a missing codec is then
    // told apart from a damaged file.
    ComPtr<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoder(container, nullptr, &decoder);
    if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
        return fail(whyNot, QStringLiteral("no %1 decoder is installed").arg(kind));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("cannot create the %1 decoder").arg(kind), hr));
    ComPtr<IWICStream> stream;
    hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        // WIC only reads the memory it is given; the cast spares a copy of the whole file.
        hr = stream->InitializeFromMemory(
            const_cast<BYTE *>(reinterpret_cast<const BYTE *>(bytes.constData())),
            DWORD(bytes.size()));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("cannot read the %1 data").arg(kind), hr));
    hr = decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged %1 image").arg(kind), hr));
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, &frame);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged %1 image: no picture").arg(kind), hr));

    UINT width = 0;
    UINT height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged %1 header").arg(kind), hr));
    if (width == 0 || height == 0)
        return fail(whyNot, QStringLiteral("%1 image without pixels").arg(kind));
    // Checked before anything of the picture's size is allocated, by WIC or by us.
    if (!fitsImageLimits(width, height))
        return fail(
            whyNot,
            QStringLiteral("picture of %1 x %2 pixels is too large").arg(width).arg(height));

    ComPtr<IWICFormatConverter> converter;
    hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        return fail(whyNot,
                    withCode(QStringLiteral("unsupported %1 pixel format").arg(kind), hr));

    // ARGB32 rows hold blue, green, red and alpha bytes, straight alpha: 32bppBGRA exactly.
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    if (image.isNull())
        return fail(whyNot,
                    QStringLiteral("out of memory for %1 x %2 pixels").arg(width).arg(height));
    const UINT stride = UINT(image.bytesPerLine());
    hr = converter->CopyPixels(nullptr, stride, UINT(image.sizeInBytes()), image.bits());
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged %1 image data").arg(kind), hr));
    return image;
}

QImage decodeTiffWithWic(const QByteArray &data, QString *whyNot) {
    // The first page, as stored: the orientation tag is not applied, as with Qt's own reader.
    return decodeFrame(GUID_ContainerFormatTiff, data, QStringLiteral("TIFF"), whyNot);
}

} // namespace

QImage decodeWithWic(const QByteArray &data, QString *whyNot) {
    if (data.isEmpty())
        return fail(whyNot, QStringLiteral("no data"));
    if (isTiffData(data))
        return decodeTiffWithWic(data, whyNot);
    Container container = readContainer(data);
    if (!container.whyNot.isEmpty())
        return fail(whyNot, container.whyNot);
    QImage image =
        decodeFrame(GUID_ContainerFormatWmp, container.forCodec, QStringLiteral("JPEG XR"), whyNot);
    if (image.isNull())
        return image;
    return oriented(std::move(image), container.orientation);
}

} // namespace platform::jxr
