#pragma once

#include <QImage>
#include <QString>

namespace platform {

// What the clipboard holds, as the note sees it: text wins over an image; anything else is empty.
struct ClipboardValue {
    enum class Kind { Empty, Text, Image };
    Kind kind = Kind::Empty;
    QString text; // set when kind is Text (may be empty text)
    QImage image; // set when kind is Image; null when the offered bitmap could not be decoded
};

// Read-only access to the system clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Reads the current content once; never throws for content it does not understand.
    virtual ClipboardValue read() = 0;
};

} // namespace platform
