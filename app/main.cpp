#include "about/Unit3.h"
#include "app/Application.h"
#include "platform/Memory.h"
#include "platform/Services.h"
#include "sticky/Unit1.h"

#include <memory>

int main(int argc, char *argv[]) {
    platform::useOneMemoryPool();
    platform::services::chooseWindowSystem();
    Application app(argc, argv);
    // Lets desktops match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.stiqlet.Stiqlet"));
    platform::services::installDefaults();

    // The note first: it is the main window. The About window is created hidden after it.
    auto form1 = std::make_unique<TForm1>();
    auto form3 = std::make_unique<TForm3>();
    form1->show();
    form1->activateWindow();

    app.exec();

    form3.reset();
    form1.reset();
    return 0;
}
