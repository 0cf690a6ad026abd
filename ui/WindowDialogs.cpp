#include "ui/WindowDialogs.h"

#include "ui/ResumeQuestion.h"

#include <QFileDialog>
#include <QMessageBox>

#include <memory>

TWindowDialogs DefaultDialogs(QWidget* owner, QFileDialog* open, QFileDialog* save) {
    TWindowDialogs dialogs;
    dialogs.ShowMessage = [owner](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, owner->windowTitle(), text, QMessageBox::Ok, owner);
        box.exec();
    };
    dialogs.AskYesNo = [owner](const QString& question) {
        const std::unique_ptr<QMessageBox> box(CreateQuestionBox(owner, question));
        return box->exec() == QMessageBox::Yes;
    };
    dialogs.ChooseFileToOpen = [open](const QString& filter) -> std::optional<QString> {
        open->setNameFilter(filter);
        if (open->exec() != QDialog::Accepted || open->selectedFiles().isEmpty())
            return std::nullopt;
        return open->selectedFiles().constFirst();
    };
    // One dialog serves the three save buttons and offers the last name.
    auto lastName = std::make_shared<QString>();
    dialogs.ChooseFileToSave = [save, lastName](const QString& filter) -> std::optional<QString> {
        save->setNameFilter(filter);
        if (!lastName->isEmpty())
            save->selectFile(*lastName);
        if (save->exec() != QDialog::Accepted || save->selectedFiles().isEmpty())
            return std::nullopt;
        *lastName = save->selectedFiles().constFirst();
        return *lastName;
    };
    return dialogs;
}
