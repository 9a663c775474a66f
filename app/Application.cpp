#include "app/Application.h"

#include "platform/Dialogs.h"
#include "platform/Services.h"

#include <cstdio>
#include <exception>

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv) {
    // The note's own close ends the program; closing any other window never does.
    setQuitOnLastWindowClosed(false);
}

bool Application::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        reportFailure(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reportFailure(QStringLiteral("不明なエラーが発生しました"));
    }
    return false;
}

void Application::reportFailure(const QString &message) {
    // A failure inside the error box itself must not open another box on top of it.
    static bool reporting = false;
    if (reporting)
        return;
    reporting = true;
    if (platform::Dialogs *dialogs = platform::services::dialogs()) {
        try {
            dialogs->messageDlg(message, platform::MsgDlgType::Error, platform::mbOK,
                                platform::mbOK, 0);
        } catch (...) {
        }
    } else {
        std::fprintf(stderr, "stiqlet: %s\n", message.toLocal8Bit().constData());
    }
    reporting = false;
}
