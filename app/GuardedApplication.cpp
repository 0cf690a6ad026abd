#include "app/GuardedApplication.h"

#include "batch/GbkQt.h"

#include <QMessageBox>

#include <exception>

namespace {

// What is shown for an error that carries no text of its own.
const char* const kUnexpectedError = "unexpected error";

} // namespace

bool DeliverGuarded(const std::function<bool()>& deliver,
                    const std::function<void(const std::string& gbkText)>& showError) {
    try {
        return deliver();
    } catch (const std::exception& error) {
        showError(error.what());
    } catch (...) {
        showError(kUnexpectedError);
    }
    return false;
}

TGuardedApplication::TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverGuarded([&] { return QApplication::notify(receiver, event); },
                          &TGuardedApplication::ShowEscapedError);
}

void TGuardedApplication::ShowEscapedError(const std::string& gbkText) {
    // Above the window the user works in: the main window stays on top of
    // every window that is not its own.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    GbkToQString(gbkText), QMessageBox::Ok, owner);
    if (!owner)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}
