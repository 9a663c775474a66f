#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler is shown in an error box
// with its message, and the event loop goes on with the next event.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
