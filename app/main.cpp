// The desktop program: the main window and its message loop.

#include "ui/Unit_Main.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    // Never destroyed: the process ends right after the loop (below).
    auto* mainWindow = new TForm1;
    mainWindow->show();
    const int status = app.exec();

    // Jobs still running are not waited for and must not reach the windows
    // and lists that tearing down would free: a query job appends to the free
    // list itself. Nothing is saved at shutdown, so the process ends here,
    // and the running jobs end with it.
    std::fflush(nullptr);
    std::_Exit(status);
}
