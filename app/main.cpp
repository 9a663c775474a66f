#include "about/Unit3.h"
#include "app/Application.h"
#include "app/FirstFrame.h"
#include "platform/BlockedClose.h"
#include "platform/JxrDecoder.h"
#include "platform/Memory.h"
#include "platform/Services.h"
#include "platform/SessionEnd.h"
#include "platform/WindowHints.h"
#include "sticky/Unit1.h"

#include <memory>

int main(int argc, char *argv[]) {
    platform::useOneMemoryPool();
    platform::services::chooseWindowSystem();
    Application app(argc, argv);
    // Lets desktops match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.stiqlet.Stiqlet"));
    platform::services::installDefaults();

    // The note first: it is the main window. The About window is created hidden after it, once
    // the note is on screen: laying out its help text loads the fonts, which the note's first
    // frame does without, and that is most of the start-up's work.
    auto form1 = std::make_unique<TForm1>();
    std::unique_ptr<TForm3> form3;
    form1->show();
    form1->activateWindow();
    // The desktop's close of the note is carried out also when it comes while a box is open.
    platform::passCloseWhileBlocked(form1.get());
    // Log-off, shut-down and the end signals are the ordinary close, at once: the session does
    // not wait for an open box to be answered, and the box has nothing to keep.
    platform::watchSessionEnd([] { QCoreApplication::exit(0); });
    // The icon at all its sizes waits for the first frame too: the note shows without it.
    afterFirstFrame(form1.get(), [&form3] {
        platform::useProgramIcon();
        form3 = std::make_unique<TForm3>();
    });

    app.exec();

    // A dropped file still decoding in a child process is given up: the application object
    // waits for its thread when it ends.
    platform::stopDecoding();
    form3.reset();
    form1.reset();
    return 0;
}
