#pragma once

#include <QImage>
#include <QString>

#include <chrono>

namespace platform {

// How long a read waits for the clipboard's owner: without progress, and in all. An owner that
// takes longer is given up, and the read fails.
struct ClipboardLimits {
    std::chrono::milliseconds idle{2000};
    std::chrono::milliseconds total{10000};
};

// What the clipboard holds, as the note sees it: text wins over an image; anything else is empty.
// Failed: the content could not be read at all (its owner stalled, went away during the
// transfer or broke off, or another read was still waiting), which is no reason to empty the
// picture.
struct ClipboardValue {
    enum class Kind { Empty, Text, Image, Failed };
    Kind kind = Kind::Empty;
    QString text; // set when kind is Text (may be empty text), or why the read failed
    QImage image; // set when kind is Image; null when the offered bitmap could not be decoded

    static ClipboardValue failed(const QString &why) {
        ClipboardValue value;
        value.kind = Kind::Failed;
        value.text = why;
        return value;
    }
};

// Read-only access to the system clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Reads the current content once; never throws for content it does not understand.
    virtual ClipboardValue read() = 0;
};

} // namespace platform
