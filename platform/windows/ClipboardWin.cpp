#include "platform/windows/ClipboardWin.h"

#include "platform/DibDecoder.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace platform {
namespace {

// Another program may hold the clipboard open for a moment; try a few times before giving up.
bool openClipboard() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (OpenClipboard(nullptr))
            return true;
        Sleep(10);
    }
    return false;
}

QString readText() {
    HANDLE handle = GetClipboardData(CF_UNICODETEXT);
    if (!handle)
        return QString();
    const auto *chars = static_cast<const wchar_t *>(GlobalLock(handle));
    if (!chars)
        return QString();
    // Never read past the block, even when the text lacks its terminating zero.
    const SIZE_T capacity = GlobalSize(handle) / sizeof(wchar_t);
    SIZE_T length = 0;
    while (length < capacity && chars[length] != 0)
        ++length;
    QString text = QString::fromWCharArray(chars, int(qMin<SIZE_T>(length, INT_MAX)));
    GlobalUnlock(handle);
    return text;
}

QImage readDib() {
    HANDLE handle = GetClipboardData(CF_DIB);
    if (!handle)
        return QImage();
    const void *bytes = GlobalLock(handle);
    if (!bytes)
        return QImage();
    QImage image = decodeDib(static_cast<const char *>(bytes), qsizetype(GlobalSize(handle)));
    GlobalUnlock(handle);
    return image;
}

} // namespace

ClipboardValue ClipboardWin::read() {
    ClipboardValue value;
    if (!openClipboard())
        throw std::runtime_error("the clipboard is in use by another program");
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        value.kind = ClipboardValue::Kind::Text;
        value.text = readText();
    } else if (IsClipboardFormatAvailable(CF_DIB)) {
        value.kind = ClipboardValue::Kind::Image;
        value.image = readDib();
    }
    CloseClipboard();
    return value;
}

} // namespace platform
