#include "platform/windows/ClipboardWin.h"

#include "pictures/DibDecoder.h"
#include "pictures/ImageDecode.h"
#include "platform/BackgroundJob.h"

#include <QScopeGuard>

#include <windows.h>

#include <climits>
#include <limits>
#include <stdexcept>

namespace platform {
namespace {

// The clipboard, open for as long as this lives. Every other program's copy and paste waits
// while it is open, so it is closed on every way out, a failed allocation included.
class OpenClipboardGuard {
public:
    OpenClipboardGuard() {
        // Another program may hold the clipboard open for a moment; try a few times.
        for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
            open_ = OpenClipboard(nullptr);
            if (!open_)
                Sleep(10);
        }
    }
    ~OpenClipboardGuard() {
        if (open_)
            CloseClipboard();
    }
    OpenClipboardGuard(const OpenClipboardGuard &) = delete;
    OpenClipboardGuard &operator=(const OpenClipboardGuard &) = delete;
    bool isOpen() const { return open_; }

private:
    bool open_ = false;
};

// The bytes of one clipboard format, locked for as long as this lives; null when the format is
// not there or cannot be locked.
class LockedData {
public:
    explicit LockedData(UINT format)
        : handle_(GetClipboardData(format)) {
        if (handle_)
            data_ = static_cast<const char *>(GlobalLock(handle_));
        if (data_)
            size_ = GlobalSize(handle_);
    }
    ~LockedData() {
        if (data_)
            GlobalUnlock(handle_);
    }
    LockedData(const LockedData &) = delete;
    LockedData &operator=(const LockedData &) = delete;
    const char *data() const { return data_; }
    // The size of the block, which nothing here reads beyond.
    SIZE_T size() const { return size_; }

private:
    HANDLE handle_;
    const char *data_ = nullptr;
    SIZE_T size_ = 0;
};

QString readText() {
    const LockedData locked(CF_UNICODETEXT);
    if (!locked.data())
        return QString();
    // The text ends at its terminating zero, or at the end of the block when it lacks one.
    const auto *chars = reinterpret_cast<const wchar_t *>(locked.data());
    const SIZE_T capacity = locked.size() / sizeof(wchar_t);
    SIZE_T length = 0;
    while (length < capacity && chars[length] != 0)
        ++length;
    return QString::fromWCharArray(chars, int(qMin<SIZE_T>(length, INT_MAX)));
}

// What the clipboard offered, copied out while it was open, so that it is closed before the
// slower decoding.
struct Offer {
    enum class Picture { None, Dib, Png };
    ClipboardValue::Kind kind = ClipboardValue::Kind::Empty;
    QString text;
    Picture picture = Picture::None;
    QByteArray bytes;
    bool delivered = true; // false: the owner offered a picture and handed over nothing
};

QByteArray copyOf(UINT format, bool &delivered) {
    const LockedData locked(format);
    delivered = locked.data() != nullptr;
    if (!delivered || locked.size() > SIZE_T(std::numeric_limits<qsizetype>::max()))
        return QByteArray();
    return QByteArray(locked.data(), qsizetype(locked.size()));
}

// Opens the clipboard and copies out what the note reads. An owner that renders its content
// only when asked (WM_RENDERFORMAT) is asked here, and may never answer.
Offer fetchOffer() {
    // Programs that offer a picture as PNG alone register the format under this name.
    static const UINT pngFormat = RegisterClipboardFormatW(L"PNG");
    Offer offer;
    const OpenClipboardGuard clipboard;
    if (!clipboard.isOpen())
        throw std::runtime_error("the clipboard is in use by another program");
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        offer.kind = ClipboardValue::Kind::Text;
        offer.text = readText();
        return offer;
    }
    if (IsClipboardFormatAvailable(CF_DIB))
        offer.picture = Offer::Picture::Dib;
    else if (pngFormat && IsClipboardFormatAvailable(pngFormat))
        offer.picture = Offer::Picture::Png;
    else
        return offer;
    offer.kind = ClipboardValue::Kind::Image;
    offer.bytes = copyOf(offer.picture == Offer::Picture::Dib ? CF_DIB : pngFormat,
                         offer.delivered);
    return offer;
}

QImage decodeDibBytes(const char *data, qsizetype size) {
    return decodeDib(data, size);
}

QImage decodePngBytes(const QByteArray &data) {
    return decodeImageData(data, "png");
}

} // namespace

ClipboardWin::ClipboardWin()
    : ClipboardWin(decodeDibBytes, decodePngBytes) {}

ClipboardWin::ClipboardWin(DibDecoder decodeDib, PngDecoder decodePng)
    : decodeDib_(std::move(decodeDib))
    , decodePng_(std::move(decodePng))
    , fetching_(std::make_shared<std::atomic<bool>>(false)) {}

ClipboardValue ClipboardWin::read() {
    // A read started by a timer while this one waits, or after one whose owner was given up
    // and has not answered yet: that fetch still holds the clipboard open.
    if (fetching_->exchange(true))
        return ClipboardValue::failed(QStringLiteral("another read of the clipboard is waiting"));
    auto clearFetching = qScopeGuard([this] { fetching_->store(false); });
    // The fetch owns what it uses: once given up it goes on alone, until the owner answers or
    // goes away, and then closes the clipboard; what it fetched is dropped.
    auto offer = std::make_shared<Offer>();
    BackgroundJob fetch([offer, fetching = fetching_] {
        const auto cleared = qScopeGuard([&fetching] { fetching->store(false); });
        *offer = fetchOffer();
    });
    clearFetching.dismiss();
    // The owner hands over its content in one answer, with no progress to see before it: the
    // bound of a whole transfer applies.
    switch (fetch.wait(ClipboardLimits{}.total)) {
    case BackgroundJob::End::Finished:
        break;
    case BackgroundJob::End::TimedOut:
        fetch.abandon();
        return ClipboardValue::failed(QStringLiteral("the clipboard's owner did not answer"));
    case BackgroundJob::End::Interrupted:
        fetch.abandon();
        return {};
    }

    ClipboardValue value;
    value.kind = offer->kind;
    value.text = offer->text;
    if (offer->picture == Offer::Picture::None)
        return value;
    if (!offer->delivered)
        return ClipboardValue::failed(QStringLiteral("the clipboard's owner did not hand over "
                                                     "the picture it offered"));
    // Bytes that do not decode are an empty picture. The decoding runs beside the event loop
    // too, so that a large picture does not hold up the timers; it always ends, so it is waited
    // for even when the program is quitting.
    {
        BackgroundJob decode([&] {
            if (offer->picture == Offer::Picture::Dib)
                value.image = decodeDib_(offer->bytes.constData(), offer->bytes.size());
            else if (!offer->bytes.isEmpty())
                value.image = decodePng_(offer->bytes);
        });
        decode.wait();
    }
    return value;
}

} // namespace platform
