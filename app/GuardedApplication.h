#pragma once

// The desktop program's application object: an error that escapes an event
// handler is shown in a message box and the program carries on, instead of
// unwinding out of the message loop and ending the process.

#include <QApplication>

#include <functional>
#include <string>

// Runs one delivery of an event; an error escaping it is handed to showError
// (as the program's GBK text) and the event counts as not handled.
bool DeliverGuarded(const std::function<bool()>& deliver,
                    const std::function<void(const std::string& gbkText)>& showError);

class TGuardedApplication : public QApplication {
public:
    TGuardedApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    static void ShowEscapedError(const std::string& gbkText);
};
