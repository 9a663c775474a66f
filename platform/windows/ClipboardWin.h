#pragma once

#include "platform/Clipboard.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>

namespace platform {

// The Windows clipboard, read through Win32: CF_UNICODETEXT, else the raw CF_DIB bytes decoded
// by our own decoder (Qt's reading drops the fourth byte of 32-bit bitmaps), else the registered
// format "PNG", which some programs offer alone. The clipboard is read on a worker thread while
// the event loop goes on without user input, so the program's timers keep ticking; an owner that
// does not render what it offered within the bound is given up, and the read fails.
class ClipboardWin final : public Clipboard {
public:
    // Turn the offered bitmap bytes into a picture; null when they cannot be decoded.
    using DibDecoder = std::function<QImage(const char *data, qsizetype size)>;
    using PngDecoder = std::function<QImage(const QByteArray &data)>;

    // Reads with the program's own decoders.
    ClipboardWin();
    // Reads with the given decoders, for tests that make decoding fail.
    ClipboardWin(DibDecoder decodeDib, PngDecoder decodePng);

    ClipboardValue read() override;

private:
    DibDecoder decodeDib_;
    PngDecoder decodePng_;
    // Set while a fetch holds the clipboard, one given up included: another read fails.
    std::shared_ptr<std::atomic<bool>> fetching_;
};

} // namespace platform
