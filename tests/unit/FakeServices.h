#pragma once

#include "platform/Clipboard.h"
#include "platform/Dialogs.h"
#include "platform/KeyState.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

// Stand-ins for the desktop: a keyboard the test presses, a clipboard it fills and a message
// box that records what it was asked to show and answers OK at once.
class FakeKeyState final : public platform::KeyState {
public:
    QSet<int> down;
    int updates = 0;
    std::function<void(int)> onIsDown; // may throw, to stand for a failing reading
    void update() override { ++updates; }
    bool isDown(int virtualKey) const override {
        if (onIsDown)
            onIsDown(virtualKey);
        return down.contains(virtualKey);
    }
};

class FakeClipboard final : public platform::Clipboard {
public:
    platform::ClipboardValue value;
    std::function<void()> onRead; // may throw, to stand for a failing read
    platform::ClipboardValue read() override {
        if (onRead)
            onRead();
        return value;
    }
};

struct ShownMessage {
    QString text;
    platform::MsgDlgType type;
};

class FakeDialogs final : public platform::Dialogs {
public:
    QList<ShownMessage> shown;
    std::function<void(const QString &)> onShow; // may throw, to stand for a box that fails
    int messageDlg(const QString &text, platform::MsgDlgType type, int, int, int) override {
        if (onShow)
            onShow(text);
        shown.append({text, type});
        return platform::mrOK;
    }
};

// Installs a fresh fake of every service and removes them again when it goes out of scope.
struct FakeServices {
    FakeServices();
    ~FakeServices();
    FakeKeyState *keys;
    FakeClipboard *clipboard;
    FakeDialogs *dialogs;
};

// Image files decode as in the program: JPEG XR files, and TIFF files where Qt has no reader for
// them, by the platform's decoders.
void useProgramFileDecoders();

// image encoded as a file of the given format ("PNG", "BMP", ...), as another program would
// offer it on the clipboard or save it.
QByteArray encodedImage(const QImage &image, const char *format);
