// JPEG XR decoding through libjxr. libjxr's headers define min, max, Bool and hundreds of
// Windows annotation macros (__in, __out, ...): they are included last, and in this file only.
#include "platform/jxr/JxrLibrary.h"

#include "pictures/ImageLimits.h"

#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <JXRGlue.h>

#undef min
#undef max

namespace platform::jxr {
namespace {

// The container is a little TIFF: "II", 0xBC, a version byte (0 or 1), the offset of the first
// directory, and in that directory a count of 12-byte entries.
constexpr qsizetype kContainerHeaderBytes = 8;
constexpr qsizetype kDirectoryEntryBytes = 12;

// Directory tags the decode itself needs (pixel format, orientation, sizes, where the image and
// the alpha plane lie) and the ones libjxr already skips.
constexpr quint16 kTagPixelFormat = 0xBC01;
constexpr quint16 kTagTransformation = 0xBC02;
constexpr quint16 kTagCompression = 0xBC03;
constexpr quint16 kTagImageType = 0xBC04;
constexpr quint16 kTagImageWidth = 0xBC80;
constexpr quint16 kTagImageHeight = 0xBC81;
constexpr quint16 kTagImageOffset = 0xBCC0;
constexpr quint16 kTagImageByteCount = 0xBCC1;
constexpr quint16 kTagAlphaOffset = 0xBCC2;
constexpr quint16 kTagAlphaByteCount = 0xBCC3;
constexpr quint16 kTagImageDataDiscard = 0xBCC4;
constexpr quint16 kTagAlphaDataDiscard = 0xBCC5;

// Each image plane (the picture, and its alpha when stored apart) starts with this signature.
constexpr char kSignature[] = "WMPHOTO"; // and its terminating zero
constexpr qsizetype kSignatureBytes = sizeof kSignature;

// The decoder writes whole macroblocks of 16 x 16 pixels: its buffer is rounded up to them.
constexpr int kMacroblock = 16;

// Working buffers beyond the largest picture's own size are refused: formats of 64 or 128 bits
// a pixel would otherwise ask for up to four times as much.
constexpr qint64 kMaxWorkingBytes = kMaxImagePixels * 4;

// Alpha modes of the decoder: without alpha, or the image and its alpha.
constexpr U8 kAlphaNone = 0;
constexpr U8 kAlphaWithImage = 2;

bool isDecodeTag(quint16 tag) {
    switch (tag) {
    case kTagPixelFormat:
    case kTagTransformation:
    case kTagCompression:
    case kTagImageType:
    case kTagImageWidth:
    case kTagImageHeight:
    case kTagImageOffset:
    case kTagImageByteCount:
    case kTagAlphaOffset:
    case kTagAlphaByteCount:
    case kTagImageDataDiscard:
    case kTagAlphaDataDiscard:
        return true;
    default:
        return false;
    }
}

// Checks the container and renames every directory entry the decode does not need (metadata,
// colour profile, unknown tags) to a tag libjxr skips. libjxr's metadata readers assert on
// malformed values, which would end the program, and it prints a line for each tag it does not
// know; the picture needs none of them. An orientation outside the eight defined ones, which
// libjxr also asserts on, is refused here, and so is a file that ends before its image data.
Failure prepareContainer(QByteArray &bytes) {
    const qsizetype size = bytes.size();
    if (size < kContainerHeaderBytes)
        return Failure::NotJxr;
    const char *p = bytes.constData();
    if (p[0] != 'I' || p[1] != 'I' || uchar(p[2]) != 0xBC || uchar(p[3]) > 1)
        return Failure::NotJxr;
    const quint32 directory = qFromLittleEndian<quint32>(p + 4);
    if (directory < kContainerHeaderBytes || qint64(directory) + 2 > size)
        return Failure::DamagedContainer;
    const quint16 entries = qFromLittleEndian<quint16>(p + directory);
    if (entries == 0 || qint64(directory) + 2 + qint64(entries) * kDirectoryEntryBytes > size)
        return Failure::DamagedContainer;
    qint64 imageOffset = 0;
    qint64 imageBytes = 0;
    qint64 alphaOffset = 0;
    qint64 alphaBytes = 0;
    for (quint16 i = 0; i < entries; ++i) {
        const qsizetype entry = directory + 2 + qsizetype(i) * kDirectoryEntryBytes;
        const quint16 tag = qFromLittleEndian<quint16>(bytes.constData() + entry);
        // libjxr reads every value as four bytes, whatever its type says.
        const quint32 value = qFromLittleEndian<quint32>(bytes.constData() + entry + 8);
        switch (tag) {
        case kTagTransformation:
            if (value >= O_MAX)
                return Failure::DamagedContainer;
            break;
        case kTagImageOffset:
            imageOffset = value;
            break;
        case kTagImageByteCount:
            imageBytes = value;
            break;
        case kTagAlphaOffset:
            alphaOffset = value;
            break;
        case kTagAlphaByteCount:
            alphaBytes = value;
            break;
        default:
            if (!isDecodeTag(tag))
                qToLittleEndian<quint16>(kTagCompression, bytes.data() + entry);
            break;
        }
    }
    if (imageOffset < kContainerHeaderBytes)
        return Failure::DamagedContainer;
    if (imageOffset >= size || imageOffset + imageBytes > size || alphaOffset >= size)
        return Failure::Truncated;
    // libjxr compares a plane's signature with strstr(), which reads on past its eight bytes
    // unless they end in a zero.
    const auto signedAt = [&bytes](qint64 offset) {
        return offset + kSignatureBytes <= bytes.size() &&
               std::memcmp(bytes.constData() + offset, kSignature, kSignatureBytes) == 0;
    };
    if (!signedAt(imageOffset) || (alphaOffset != 0 && alphaBytes != 0 && !signedAt(alphaOffset)))
        return Failure::DamagedContainer;
    return Failure::None;
}

// Reads like libjxr's own memory stream, but fills what lies past the end of the data with
// zeros. The decoder reads whole packets beyond the end of a stream by design; libjxr's reader
// leaves that part of its buffer as it was, so a truncated file would decode from stale memory.
ERR readZeroPadded(struct WMPStream *stream, void *out, size_t count) {
    auto &buf = stream->state.buf;
    const size_t available = buf.cbCur < buf.cbBuf ? buf.cbBuf - buf.cbCur : 0;
    const size_t copied = count < available ? count : available;
    if (copied > 0)
        std::memcpy(out, buf.pbBuf + buf.cbCur, copied);
    if (copied < count)
        std::memset(static_cast<U8 *>(out) + copied, 0, count - copied);
    buf.cbCur += copied;
    return WMP_errSuccess;
}

struct StreamCloser {
    void operator()(struct WMPStream *stream) const { CloseWS_Memory(&stream); }
};
struct DecoderReleaser {
    void operator()(PKImageDecode *decoder) const { decoder->Release(&decoder); }
};
struct ConverterReleaser {
    void operator()(PKFormatConverter *converter) const { converter->Release(&converter); }
};
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// Pixel layouts converted here. Everything else goes through libjxr's format converter to one of
// them first.
enum class Layout {
    Gray8,
    Bgr555,
    Bgr565,
    Rgb24,
    Bgr24,
    Rgbx32,
    Bgrx32,
    Rgba32,
    Bgra32,
    PremultipliedRgba32,
    PremultipliedBgra32,
};

struct KnownFormat {
    const PKPixelFormatGUID *format;
    Layout layout;
};

bool sameFormat(const PKPixelFormatGUID &a, const PKPixelFormatGUID &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const KnownFormat *knownFormat(const PKPixelFormatGUID &format) {
    static const KnownFormat formats[] = {
        {&GUID_PKPixelFormat8bppGray, Layout::Gray8},
        {&GUID_PKPixelFormat16bppRGB555, Layout::Bgr555},
        {&GUID_PKPixelFormat16bppRGB565, Layout::Bgr565},
        {&GUID_PKPixelFormat24bppRGB, Layout::Rgb24},
        {&GUID_PKPixelFormat24bppBGR, Layout::Bgr24},
        {&GUID_PKPixelFormat32bppRGB, Layout::Rgbx32},
        {&GUID_PKPixelFormat32bppBGR, Layout::Bgrx32},
        {&GUID_PKPixelFormat32bppRGBA, Layout::Rgba32},
        {&GUID_PKPixelFormat32bppBGRA, Layout::Bgra32},
        {&GUID_PKPixelFormat32bppPRGBA, Layout::PremultipliedRgba32},
        {&GUID_PKPixelFormat32bppPBGRA, Layout::PremultipliedBgra32},
    };
    for (const KnownFormat &known : formats)
        if (sameFormat(*known.format, format))
            return &known;
    return nullptr;
}

bool hasAlpha(const PKPixelInfo &info) {
    return (info.grBit & PK_pixfmtHasAlpha) != 0;
}

bool lookUp(const PKPixelFormatGUID &format, PKPixelInfo *info) {
    *info = {};
    info->pGUIDPixFmt = &format;
    return !Failed(PixelFormatLookup(info, LOOKUP_FORWARD));
}

// Bytes a row of the format takes.
qint64 rowBytes(const PKPixelInfo &info, qint64 width) {
    if (info.bdBitDepth == BD_1)
        return (width + 7) / 8;
    return qint64((info.cbitUnit + 7) / 8) * width;
}

// The first format libjxr converts `format` to in one step that is converted here, one with
// alpha when the source has alpha; null when there is none.
const KnownFormat *conversionTarget(const PKPixelFormatGUID &format, bool wantAlpha) {
    const KnownFormat *fallback = nullptr;
    const PKPixelFormatGUID *target = nullptr;
    for (U32 i = 0; !Failed(PKFormatConverter_EnumConversions(&format, i, &target)); ++i) {
        const KnownFormat *known = knownFormat(*target);
        PKPixelInfo info;
        if (!known || !lookUp(*target, &info))
            continue;
        if (hasAlpha(info) == wantAlpha)
            return known;
        if (!fallback)
            fallback = known;
    }
    return fallback;
}

QRgb unpremultiplied(uint r, uint g, uint b, uint a) {
    if (a == 0)
        return 0;
    // Values above alpha cannot come from premultiplying: they are clamped, not wrapped.
    const auto straight = [a](uint c) { return c >= a ? 255u : (c * 255 + a / 2) / a; };
    return qRgba(int(straight(r)), int(straight(g)), int(straight(b)), int(a));
}

uint expand5(uint v) {
    return (v << 3) | (v >> 2);
}
uint expand6(uint v) {
    return (v << 2) | (v >> 4);
}

void convertRow(Layout layout, const uchar *s, QRgb *out, int width) {
    switch (layout) {
    case Layout::Gray8:
        for (int x = 0; x < width; ++x)
            out[x] = qRgb(s[x], s[x], s[x]);
        break;
    case Layout::Bgr555:
    case Layout::Bgr565:
        for (int x = 0; x < width; ++x) {
            quint16 v;
            std::memcpy(&v, s + 2 * x, sizeof v); // written by the decoder in host order
            if (layout == Layout::Bgr555)
                out[x] = qRgb(int(expand5((v >> 10) & 31)), int(expand5((v >> 5) & 31)),
                              int(expand5(v & 31)));
            else
                out[x] =
                    qRgb(int(expand5(v >> 11)), int(expand6((v >> 5) & 63)), int(expand5(v & 31)));
        }
        break;
    case Layout::Rgb24:
        for (int x = 0; x < width; ++x, s += 3)
            out[x] = qRgb(s[0], s[1], s[2]);
        break;
    case Layout::Bgr24:
        for (int x = 0; x < width; ++x, s += 3)
            out[x] = qRgb(s[2], s[1], s[0]);
        break;
    case Layout::Rgbx32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = qRgb(s[0], s[1], s[2]);
        break;
    case Layout::Bgrx32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = qRgb(s[2], s[1], s[0]);
        break;
    case Layout::Rgba32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = qRgba(s[0], s[1], s[2], s[3]);
        break;
    case Layout::Bgra32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = qRgba(s[2], s[1], s[0], s[3]);
        break;
    case Layout::PremultipliedRgba32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = unpremultiplied(s[0], s[1], s[2], s[3]);
        break;
    case Layout::PremultipliedBgra32:
        for (int x = 0; x < width; ++x, s += 4)
            out[x] = unpremultiplied(s[2], s[1], s[0], s[3]);
        break;
    }
}

// The same layout without its alpha, for a pixel format with alpha in a file that holds no alpha
// plane: the decoder then leaves the alpha bytes as they were.
Layout withoutAlpha(Layout layout) {
    switch (layout) {
    case Layout::Rgba32:
    case Layout::PremultipliedRgba32:
        return Layout::Rgbx32;
    case Layout::Bgra32:
    case Layout::PremultipliedBgra32:
        return Layout::Bgrx32;
    default:
        return layout;
    }
}

// libjxr closes a decoding context only once the whole picture has come out of it: a failure
// half-way leaves it open, and with it buffers as wide as the picture. Its row counter is set only
// after the context's rows are done, so a context still recorded with a counter of 0 after a
// failure is one that was opened and not closed. The same holds for a separate alpha plane.
void closeAbandonedContexts(PKImageDecode &decoder) {
    if (decoder.WMP.DecoderCurrMBRow == 0 && decoder.WMP.ctxSC) {
        ImageStrDecTerm(decoder.WMP.ctxSC);
        decoder.WMP.ctxSC = nullptr;
    }
    if (decoder.WMP.DecoderCurrAlphaMBRow == 0 && decoder.WMP.ctxSC_Alpha) {
        ImageStrDecTerm(decoder.WMP.ctxSC_Alpha);
        decoder.WMP.ctxSC_Alpha = nullptr;
    }
}

} // namespace

Failure decode(const QByteArray &data, Picture *picture, Sink &sink) {
    *picture = {};
    QByteArray bytes = data; // shares the data unless a directory entry has to be renamed
    if (const Failure failure = prepareContainer(bytes); failure != Failure::None)
        return failure;

    // Created from memory, the decoder takes the data for what it is, whatever a file name would
    // have said.
    struct WMPStream *rawStream = nullptr;
    if (Failed(CreateWS_Memory(&rawStream, bytes.data(), size_t(bytes.size()))))
        return Failure::OutOfMemory;
    const std::unique_ptr<struct WMPStream, StreamCloser> stream(rawStream);
    stream->Read = readZeroPadded;

    PKImageDecode *rawDecoder = nullptr;
    if (Failed(PKImageDecode_Create_WMP(&rawDecoder)))
        return Failure::OutOfMemory;
    const std::unique_ptr<PKImageDecode, DecoderReleaser> decoder(rawDecoder);
    if (Failed(decoder->Initialize(decoder.get(), stream.get())))
        return Failure::DamagedHeader;

    PKPixelInfo source;
    if (!lookUp(decoder->guidPixFormat, &source))
        return Failure::UnknownFormat;
    const KnownFormat *known = knownFormat(decoder->guidPixFormat);
    const KnownFormat *target =
        known ? known : conversionTarget(decoder->guidPixFormat, hasAlpha(source));
    if (!target)
        return Failure::UnsupportedFormat;
    PKPixelInfo output;
    lookUp(*target->format, &output);

    CWMImageInfo &info = decoder->WMP.wmiI;
    const qint64 width = qint64(info.cWidth);
    const qint64 height = qint64(info.cHeight);
    picture->width = width;
    picture->height = height;
    if (width <= 0 || height <= 0)
        return Failure::NoPixels;
    if (!fitsImageLimits(width, height))
        return Failure::TooLarge;
    const qint64 paddedWidth = (width + kMacroblock - 1) / kMacroblock * kMacroblock;
    const qint64 paddedHeight = (height + kMacroblock - 1) / kMacroblock * kMacroblock;
    const qint64 stride = qMax(rowBytes(source, paddedWidth), rowBytes(output, paddedWidth));
    if (stride * paddedHeight > kMaxWorkingBytes)
        return Failure::TooLargeToDecode;

    // The whole picture at full resolution, in the file's own pixel format, with its alpha: the
    // decoder leaves alpha out unless asked for it. libjxr cannot turn a picture it decodes whole,
    // so the orientation is left to the caller.
    picture->orientation = info.oOrientation;
    decoder->WMP.wmiSCP.uAlphaMode = hasAlpha(source) ? kAlphaWithImage : kAlphaNone;
    decoder->WMP.wmiSCP.sbSubband = SB_ALL;
    decoder->WMP.wmiSCP.bVerbose = FALSE;
    decoder->WMP.bIgnoreOverlap = FALSE;
    info.cfColorFormat = source.cfColorFormat;
    info.bdBitDepth = source.bdBitDepth;
    info.cBitsPerUnit = source.cbitUnit;
    info.cThumbnailWidth = info.cWidth;
    info.cThumbnailHeight = info.cHeight;
    info.bSkipFlexbits = FALSE;
    info.cROILeftX = 0;
    info.cROITopY = 0;
    info.cROIWidth = info.cWidth;
    info.cROIHeight = info.cHeight;
    info.oOrientation = O_NONE;
    info.cPostProcStrength = 0;

    std::unique_ptr<PKFormatConverter, ConverterReleaser> converter;
    if (!known) {
        PKFormatConverter *rawConverter = nullptr;
        if (Failed(PKCodecFactory_CreateFormatConverter(&rawConverter)))
            return Failure::OutOfMemory;
        converter.reset(rawConverter);
        if (Failed(converter->Initialize(converter.get(), decoder.get(), nullptr, *target->format)))
            return Failure::UnsupportedFormat;
    }

    // Zeroed, so that nothing the decoder leaves unwritten shows earlier contents of memory.
    const std::unique_ptr<uchar, FreeDeleter> pixels(
        static_cast<uchar *>(std::calloc(size_t(paddedHeight), size_t(stride))));
    const std::unique_ptr<QRgb, FreeDeleter> row(
        static_cast<QRgb *>(std::calloc(size_t(width), sizeof(QRgb))));
    if (!pixels || !row)
        return Failure::OutOfMemory;
    const PKRect rect{0, 0, I32(width), I32(height)};
    const ERR copied = converter
                           ? converter->Copy(converter.get(), &rect, pixels.get(), U32(stride))
                           : decoder->Copy(decoder.get(), &rect, pixels.get(), U32(stride));
    if (Failed(copied)) {
        closeAbandonedContexts(*decoder);
        return Failure::DamagedData;
    }

    // Decoding clears the alpha mode when neither the image nor a plane of its own holds alpha.
    const Layout layout = hasAlpha(source) && decoder->WMP.wmiSCP.uAlphaMode == kAlphaNone
                              ? withoutAlpha(target->layout)
                              : target->layout;
    if (!sink.start(*picture))
        return Failure::Stopped;
    for (qint64 y = 0; y < height; ++y) {
        convertRow(layout, pixels.get() + y * stride, row.get(), int(width));
        if (!sink.row(row.get()))
            return Failure::Stopped;
    }
    return Failure::None;
}

QString describe(Failure failure, const Picture &picture) {
    switch (failure) {
    case Failure::None:
        return {};
    case Failure::NotJxr:
        return QStringLiteral("not a JPEG XR image");
    case Failure::DamagedContainer:
        return QStringLiteral("damaged JPEG XR container");
    case Failure::Truncated:
        return QStringLiteral("truncated JPEG XR file");
    case Failure::DamagedHeader:
        return QStringLiteral("damaged or unsupported JPEG XR header");
    case Failure::UnknownFormat:
        return QStringLiteral("unknown JPEG XR pixel format");
    case Failure::UnsupportedFormat:
        return QStringLiteral("unsupported JPEG XR pixel format");
    case Failure::NoPixels:
        return QStringLiteral("picture has no pixels");
    case Failure::TooLarge:
        return QStringLiteral("picture of %1 x %2 pixels is too large")
            .arg(picture.width)
            .arg(picture.height);
    case Failure::TooLargeToDecode:
        return QStringLiteral("picture of %1 x %2 pixels is too large to decode")
            .arg(picture.width)
            .arg(picture.height);
    case Failure::OutOfMemory:
        return QStringLiteral("out of memory");
    case Failure::DamagedData:
        return QStringLiteral("damaged JPEG XR image data");
    case Failure::Stopped:
        return QStringLiteral("decoding stopped");
    }
    return QStringLiteral("JPEG XR decoding failed");
}

} // namespace platform::jxr
