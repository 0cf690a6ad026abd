#pragma once

// The updater window: at start-up it asks the update server which version is
// published and, when that is higher than the installed one, shows itself
// modally so that the user can start the update run with one button.

#include "updater/AppWebUpdater.h"

#include <QDialog>
#include <QSettings>
#include <QXmlStreamReader>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QWidget;
class TForm3;

// What the updater needs from the process and its user, replaceable so that
// tests can point it at a temporary folder and answer its message boxes.
// Every member left empty takes the program's own.
struct TUpdaterEnvironment {
    QString ProgramPath; // the program file; its folder holds config.ini
    qint64 ProgramPid = 0;
    std::function<void(TForm3&)> ShowModal;
    std::function<void(const std::string& text, const std::string& caption)> ShowWarning;
    std::function<void(const std::string& text)> ShowError;
    std::function<bool(const std::string& question)> AskRestart;
    // Asked at start-up when an update waits to be finished; true: Yes.
    std::function<bool(const std::string& question)> AskFinishUpdate;
    std::function<bool(const QString& scriptPath)> StartScript;
    std::function<void()> QuitApplication;
    int CheckBoundMs = 10'000;
    THttpBounds DownloadBounds;
};

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // mainWindow: the window whose caption the update run changes while it
    // works; it is not this window's parent.
    explicit TForm3(QWidget* mainWindow = nullptr, TUpdaterEnvironment environment = {});
    ~TForm3() override;

    // The start-up check: reads the installed version, offers to finish an
    // update of that version left waiting, fetches the published version
    // and shows this window modally when it is higher. Returns when the
    // user has closed the window, or at once; at once too when finishing
    // has asked the program to end.
    void FormCreate();
    void Button1Click();

    // The version text of a manifest file: the first text after the first
    // "Version" tag following the XML declaration, white space normalised.
    // Throws TUpdateError for a document the scanner cannot read.
    std::optional<std::string> ReadPublishedVersion(const QString& file);

    // True once an update run has started the restart script: the program
    // must end now, so that the script can replace its files.
    bool QuitRequested() const { return QuitRequested_; }
    // The update server's base address: TAVIREL_UPDATE_URL, else "UpdateURL"
    // in section "App" of config.ini; "" when neither is set.
    std::string UpdateBaseAddress() const;

    QPlainTextEdit* Memo1 = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    TWebUpdater* WebUpdater1 = nullptr;

    std::unique_ptr<QSettings> IniFile;
    double CurrentVersion = 1.0;
    double NewVersion = 0.0;
    QXmlStreamReader VersionParser;

private:
    void BuildControls();
    void WireUpdater(QWidget* mainWindow);
    QString ProgramFolder() const;
    double ReadInstalledVersion() const;
    bool FinishWaitingUpdate(); // true: the program is to end for the restart script
    bool FetchPublishedVersion(const QString& localCopy); // throws on any check error
    void ShowWarning(const std::string& text, const std::string& caption);
    void ShowError(const std::string& text);

    TUpdaterEnvironment Environment_;
    bool QuitRequested_ = false;
};
