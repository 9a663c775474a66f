#include "platform/windows/ClipboardWin.h"

#include "platform/DibDecoder.h"
#include "platform/ImageDecode.h"

#include <windows.h>

#include <climits>
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

// The PNG bytes, copied so that the clipboard can be closed before the slower decoding.
QByteArray readPng(UINT format) {
    const LockedData locked(format);
    if (!locked.data() || locked.size() > SIZE_T(INT_MAX))
        return QByteArray();
    return QByteArray(locked.data(), qsizetype(locked.size()));
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
    , decodePng_(std::move(decodePng)) {}

ClipboardValue ClipboardWin::read() {
    // Programs that offer a picture as PNG alone register the format under this name.
    static const UINT pngFormat = RegisterClipboardFormatW(L"PNG");
    ClipboardValue value;
    QByteArray png;
    {
        const OpenClipboardGuard clipboard;
        if (!clipboard.isOpen())
            throw std::runtime_error("the clipboard is in use by another program");
        if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
            value.kind = ClipboardValue::Kind::Text;
            value.text = readText();
            return value;
        }
        if (IsClipboardFormatAvailable(CF_DIB)) {
            value.kind = ClipboardValue::Kind::Image;
            const LockedData dib(CF_DIB);
            if (dib.data())
                value.image = decodeDib_(dib.data(), qsizetype(dib.size()));
            return value;
        }
        if (!pngFormat || !IsClipboardFormatAvailable(pngFormat))
            return value;
        png = readPng(pngFormat);
    }
    // Bytes that do not decode are an empty picture, as an undecodable bitmap is.
    value.kind = ClipboardValue::Kind::Image;
    if (!png.isEmpty())
        value.image = decodePng_(png);
    return value;
}

} // namespace platform
