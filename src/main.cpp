// Start-up and end of the program, in their fixed order: settings before
// any window, the main window, the message loop, the settings saved after
// the window is gone.

#include "core/Globali.h"
#include "core/gui/CloseOnSignals.h"
#include "core/gui/UPri.h"
#include "notify/Ras.h"
#include "platform/gui/QtMessageBox.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// OCULARA_SCREENSHOT=file.png saves a picture of the window once it has
// settled; with OCULARA_SCREENSHOT_QUIT=1 the program then closes itself.
void ScheduleScreenshot(TPri* window) {
    const char* path = std::getenv("OCULARA_SCREENSHOT");
    if (!path || !*path) return;
    const char* delay = std::getenv("OCULARA_SCREENSHOT_DELAY_MS");
    const int ms = delay ? std::atoi(delay) : 1500;
    const QString file = QString::fromLocal8Bit(path);
    const bool quit = std::getenv("OCULARA_SCREENSHOT_QUIT") != nullptr;
    QTimer::singleShot(ms, window, [window, file, quit] {
        if (!window->grab().save(file))
            std::fprintf(stderr, "Oculara: impossibile salvare %s\n", file.toLocal8Bit().constData());
        if (quit) window->close();
    });
}

}  // namespace

int main(int argc, char** argv) {
    CatchTerminationSignals();
    SetupProgramDir();
    notify::InitializeRas();
    LoadSettings();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Oculara");
    // Lets the desktop tie the window to the menu entry and its icon.
    QApplication::setDesktopFileName("org.oculara.Oculara");
    // Found in the icon theme once installed; the build tree goes without.
    QApplication::setWindowIcon(QIcon::fromTheme("org.oculara.Oculara"));
    InstallQtMessageBox();

    auto* window = new TPri;
    CloseOnTerminationSignals(window);
    window->show();
    ScheduleScreenshot(window);
    const int rc = QApplication::exec();

    delete window;
    SaveSettings();
    notify::FinalizeRas();
    return rc;
}
