#include "platform/Failure.h"

#include "platform/Dialogs.h"
#include "platform/Services.h"

#include <cstdio>
#include <exception>

namespace platform {

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
            reportFailure(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            // No memory left even for the message's text.
            reportFailure(QStringLiteral("不明なエラーが発生しました"));
        }
    } catch (...) {
        reportFailure(QStringLiteral("不明なエラーが発生しました"));
    }
}

} // namespace platform
