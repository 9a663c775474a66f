#include "app/Application.h"

#include "platform/Failure.h"

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv) {
    // The note's own close ends the program; closing any other window never does.
    setQuitOnLastWindowClosed(false);
}

bool Application::notify(QObject *receiver, QEvent *event) {
    // The last net: the handlers report their own failures, this catches what else escapes.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        platform::reportCurrentFailure();
    }
    return false;
}
