#pragma once

// Every modal wait of the main window goes through these, so that a test can
// answer them at once. The defaults show a message box, a question box and
// the window's two file dialogs (Qt's own, in Chinese with Qt's texts).

#include <QString>

#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

struct TWindowDialogs {
    std::function<void(const QString& text)> ShowMessage;
    // True for yes.
    std::function<bool(const QString& question)> AskYesNo;
    // The path the user confirmed, or nothing when cancelled.
    std::function<std::optional<QString>(const QString& filter)> ChooseFileToOpen;
    std::function<std::optional<QString>(const QString& filter)> ChooseFileToSave;
};

// The boxes above owner; open and save are the dialogs to run (owner's
// children). The save dialog offers the name last saved under.
TWindowDialogs DefaultDialogs(QWidget* owner, QFileDialog* open, QFileDialog* save);
