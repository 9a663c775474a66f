#include "platform/Failure.h"

#include "platform/Dialogs.h"
#include "platform/Services.h"

#include <QStringDecoder>

#include <cstdio>
#include <exception>

namespace platform {
namespace {

// The program's own messages are UTF-8 (the source files are) and the standard library's are
// ASCII; messages formatted by the system come in its 8-bit code page, which on Windows is no
// UTF-8.
QString messageText(const char *what) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(QByteArrayView(what));
    return utf8.hasError() ? QString::fromLocal8Bit(what) : text;
}

} // namespace

void reportFailure(const QString &message) noexcept {
    // A failure inside the error box itself must not open another box on top of it.
    static bool reporting = false;
    if (reporting)
        return;
    reporting = true;
    try {
        if (Dialogs *dialogs = services::dialogs())
            dialogs->messageDlg(message, MsgDlgType::Error, mbOK, mbOK, 0);
        else
            std::fprintf(stderr, "stiqlet: %s\n", message.toLocal8Bit().constData());
    } catch (...) {
        // Nothing is left to show the failure with.
    }
    reporting = false;
}

void reportCurrentFailure() noexcept {
    try {
        throw;
    } catch (const std::exception &e) {
        try {
            reportFailure(messageText(e.what()));
        } catch (...) {
            // No memory left even for the message's text.
            reportFailure(QStringLiteral("不明なエラーが発生しました"));
        }
    } catch (...) {
        reportFailure(QStringLiteral("不明なエラーが発生しました"));
    }
}

} // namespace platform
