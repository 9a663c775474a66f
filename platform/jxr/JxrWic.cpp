// JPEG XR files are decoded on Windows by the Windows Imaging Component, whose JPEG XR decoder
// ships with Windows. The container's orientation is read here and applied afterwards, as on the
// other systems: WIC hands out the pixels as stored.
#include "platform/jxr/JxrWic.h"

#include "platform/ImageLimits.h"
#include "platform/jxr/JxrOrientation.h"

#include <QtEndian>

#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <climits>

namespace platform::jxr {
namespace {

using Microsoft::WRL::ComPtr;

constexpr quint16 kTagTransformation = 0xBC02;
constexpr quint16 kTagImageOffset = 0xBCC0;
constexpr quint16 kTagImageByteCount = 0xBCC1;
constexpr int kEntryBytes = 12;

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

// What the container says before the codec sees it: the orientation, and whether the image data
// lies inside the file. The container is a little-endian TIFF-like directory of 12-byte entries.
struct Container {
    int orientation = 0;
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
    qint64 imageOffset = -1;
    qint64 imageBytes = 0;
    for (qint64 i = 0; i < entries; ++i) {
        const uchar *entry = bytes + directory + 2 + i * kEntryBytes;
        const quint16 tag = qFromLittleEndian<quint16>(entry);
        if (tag == kTagTransformation) {
            const quint32 orientation = entryValue(entry);
            if (orientation > 7) {
                container.whyNot =
                    QStringLiteral("damaged JPEG XR container: orientation %1").arg(orientation);
                return container;
            }
            container.orientation = int(orientation);
        } else if (tag == kTagImageOffset) {
            imageOffset = entryValue(entry);
        } else if (tag == kTagImageByteCount) {
            imageBytes = entryValue(entry);
        }
    }
    if (imageOffset < 0 || imageOffset >= size || imageBytes > size - imageOffset)
        container.whyNot =
            QStringLiteral("truncated JPEG XR file: the image data is not all there");
    return container;
}

} // namespace

QImage decodeWithWic(const QByteArray &data, QString *whyNot) {
    if (data.isEmpty())
        return fail(whyNot, QStringLiteral("no data"));
    const Container container = readContainer(data);
    if (!container.whyNot.isEmpty())
        return fail(whyNot, container.whyNot);
    if (data.size() > qsizetype(UINT_MAX))
        return fail(whyNot, QStringLiteral("file is too large"));

    const ComScope com;
    if (!com.usable())
        return fail(whyNot, withCode(QStringLiteral("cannot start COM"), com.result()));
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&factory));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("no Windows Imaging Component"), hr));
    // The JPEG XR decoder itself, not whichever one recognises the bytes: a missing codec is then
    // told apart from a damaged file.
    ComPtr<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoder(GUID_ContainerFormatWmp, nullptr, &decoder);
    if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
        return fail(whyNot, QStringLiteral("no JPEG XR decoder is installed"));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("cannot create the JPEG XR decoder"), hr));
    ComPtr<IWICStream> stream;
    hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(
            reinterpret_cast<BYTE *>(const_cast<char *>(data.constData())), DWORD(data.size()));
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("cannot read the JPEG XR data"), hr));
    hr = decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged JPEG XR image"), hr));
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, &frame);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged JPEG XR image: no picture"), hr));

    UINT width = 0;
    UINT height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged JPEG XR header"), hr));
    if (width == 0 || height == 0)
        return fail(whyNot, QStringLiteral("JPEG XR image without pixels"));
    // Checked before anything of the picture's size is allocated, by WIC or by us.
    if (width > UINT(kMaxImageSide) || height > UINT(kMaxImageSide) ||
        qint64(width) * height > kMaxImagePixels)
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
        return fail(whyNot, withCode(QStringLiteral("unsupported JPEG XR pixel format"), hr));

    // ARGB32 rows hold blue, green, red and alpha bytes, straight alpha: 32bppBGRA exactly.
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    if (image.isNull())
        return fail(whyNot,
                    QStringLiteral("out of memory for %1 x %2 pixels").arg(width).arg(height));
    const UINT stride = UINT(image.bytesPerLine());
    hr = converter->CopyPixels(nullptr, stride, UINT(image.sizeInBytes()), image.bits());
    if (FAILED(hr))
        return fail(whyNot, withCode(QStringLiteral("damaged JPEG XR image data"), hr));
    return oriented(std::move(image), container.orientation);
}

} // namespace platform::jxr
