// The desktop program: start-up in its fixed order, the message loop, and a
// shutdown that ends the process as soon as the main window is closed.

#include "app/GuardedApplication.h"
#include "app/VersionText.h"
#include "engine/DataFolder.h"
#include "engine/RegistryData.h"
#include "ui/QtChineseTexts.h"
#include "ui/Unit_Main.h"
#include "updater/Update.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Jobs still running are not waited for and must not reach the windows and
// lists that tearing down would free: a query job appends to the free list
// itself. Nothing is saved at shutdown, so the process ends here, without
// destroying anything, and the running jobs end with it.
[[noreturn]] void EndProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

// Every top-level window on this desktop is its own taskbar entry, titled with
// its caption, and there is no hidden application window to take it over: the
// main window is a plain top-level window, and the updater window, hidden from
// here on, stays hidden. What remains is that the main window alone is the
// program's window: closing it ends the loop.
void HandTaskbarEntryTo(QWidget& mainWindow) {
    mainWindow.setAttribute(Qt::WA_QuitOnClose, true);
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Without a display Qt would abort with a message about its platform
// plugins; the user is told instead what the windows need, and what works
// without them. A chosen platform (offscreen, vnc, ...) is left to Qt.
bool WindowsCanOpen() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    // Answered before the window system is asked for, so it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs(VersionText("tavirelbrisvane").c_str(), stdout);
        return 0;
    }
    if (!WindowsCanOpen()) {
        std::fputs("tavirelbrisvane: the windows need a desktop session (DISPLAY or "
                   "WAYLAND_DISPLAY), or xvfb-run; the command-line front end "
                   "(./run ARGS, tavirelbrisvane-cli) works without one\n",
                   stderr);
        return 1;
    }
    TGuardedApplication app(argc, argv);
    // Without the file Qt's English texts stay; the program works the same.
    InstallQtChineseTexts(app);

    // Read once, then shared read-only by every query. A data file that
    // cannot be used leaves the shipped one (or the suffix table) in force;
    // the terminal, if any, hears why.
    const TRegistryDataLoad registryData =
        LoadRegistryData(RegistryDataSourcesFor(ProgramDataFolder().string()));
    for (const std::string& problem : registryData.Problems)
        std::fprintf(stderr, "tavirelbrisvane: %s\n", problem.c_str());

    // The main window first: the window whose closing ends the loop. Its
    // timer runs from here on; the window stays hidden until the loop runs.
    // Neither window is ever destroyed (see EndProcess).
    auto* mainWindow = new TForm1(registryData.Data);
    mainWindow->SettingsFile =
        QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    mainWindow->LoadSettings();

    // The update check runs while the updater window is created, before the
    // main window is shown; when a newer version is published it shows the
    // updater modally and returns once the user has closed it. The main
    // window is only the one whose caption an update run changes.
    auto* updater = new TForm3(mainWindow);
    // Closing the updater lets start-up go on; it never ends the program.
    updater->setAttribute(Qt::WA_QuitOnClose, false);
    updater->FormCreate();
    if (updater->QuitRequested())
        EndProcess(0); // a restart script waits for this process to end

    HandTaskbarEntryTo(*mainWindow);

    // The loop shows the main window as its first step; then, over the shown
    // window, it offers to go on with a batch that did not run to its end.
    QMetaObject::invokeMethod(mainWindow, &QWidget::show, Qt::QueuedConnection);
    QMetaObject::invokeMethod(mainWindow, &TForm1::OfferToContinueLastBatch, Qt::QueuedConnection);
    EndProcess(app.exec());
}
