#pragma once

// The update run: downloads the update manifest, compares the published
// version with the application's, downloads the listed files into an updates
// folder, backs up what they replace, installs them, and hands the files that
// cannot be replaced while the program runs to a shell script that runs after
// the program has ended and then starts it again. Every step is logged.
//
// Texts are GBK bytes; paths are Unicode (QString) and use "/", relative
// ones taken below the program's folder. Everything runs on the user-interface thread; downloads
// wait in a local event loop so the windows stay responsive.

#include "updater/HttpGet.h"
#include "updater/UpdateDownload.h"
#include "updater/UpdateFolders.h"
#include "updater/UpdateManifest.h"
#include "updater/UpdateReporter.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QProgressBar;
class QStatusBar;
class QWidget;

enum TUpdateFormat { ufStandard, ufNumbers };

// The steps live in units of their own, one step each: UpdateManifest
// (reading the manifest), UpdateDownload, UpdateInstall, RestartScript, with
// UpdateFolders and UpdateLog beside them. This class runs them in order and
// is the one entry point.
class TWebUpdater : public QObject, private TUpdateReporter {
    Q_OBJECT
public:
    explicit TWebUpdater(QObject* parent = nullptr);
    ~TWebUpdater() override;

    // --- Properties ---------------------------------------------------------
    std::string About = "TWebUpdater";
    std::string AbortMessage = "Aborted! (User request).";
    double AppCurrentVer = 0.001;
    std::string ApplicationName = "\xD3\xF2\xC3\xFB\xB2\xE9\xD1\xAF"; // 域名查询
    std::string Author;
    std::string Company;
    std::string EMail;
    QString BackupFolder = QStringLiteral("Backup/");
    std::string Caption = // 正在更新中，请稍等...
        "\xD5\xFD\xD4\xDA\xB8\xFC\xD0\xC2\xD6\xD0\xA3\xAC\xC7\xEB\xC9\xD4\xB5\xC8...";
    Qt::CursorShape Cursor = Qt::BusyCursor;
    bool DeleteOldBackupOnInit = false;
    bool DeleteBatchFileOnComplete = true;
    bool DeleteLogOnComplete = true;
    bool DeleteUpdatesOnComplete = true;
    bool DeleteWebInfoFileOnComplete = true;
    bool Enabled = true;
    std::string ErrorMessage = // 出现错误,请联系我们!
        "\xB3\xF6\xCF\xD6\xB4\xED\xCE\xF3,\xC7\xEB\xC1\xAA\xCF\xB5\xCE\xD2\xC3\xC7!";
    bool LogAddTime = true;
    std::string LogData;
    std::string LogHeaderText;
    QString LogFileName = QStringLiteral("Updater.txt");
    bool MatchDetails = false;
    bool MailErrorReport = false;
    std::function<void(const std::string&)> OnChangeText;
    std::function<void(const std::string&)> OnError;
    std::function<void(int position, int maximum)> OnProgress;
    std::function<void()> OnSuccess;
    bool OpenAppFolderOnComplete = false;
    QPointer<QProgressBar> ProgressBar;
    QPointer<QStatusBar> StatusBar;
    bool QuitOnError = false;
    bool SaveBackup = true;
    // A File entry without a Sha256 digest is refused (config.ini's
    // App/RequireSha256=1); off, such files install unchecked.
    bool RequireSha256 = false;
    bool ShowUserMessages = false;
    bool ShowChangeLog = false;
    bool ShowPersonalDetails = false;
    bool ShowUpdateFilesList = false;
    std::string SuccessMessageText = "\xB8\xFC\xD0\xC2\xB3\xC9\xB9\xA6!"; // 更新成功!
    TUpdateFormat UpdateFormat = ufNumbers;
    std::string UpdateInfoText;
    QString UpdatesFolder = QStringLiteral("Updates/");
    QString WebInfoFileName = QStringLiteral("Update.xml");
    std::string WebURL;

    // The log file's path: LogFileName as it stands when it names a path,
    // otherwise inside the program's folder.
    QString FullLogFileName() const;

    // --- What the run needs from the process --------------------------------
    // Replaceable so that a run can be pointed at another folder and its
    // dialogs, its script start and its quit observed.
    QString ProgramPath;          // the program file
    qint64 ProgramPid = 0;        // the process the restart script waits for
    QPointer<QWidget> MainWindow; // whose caption shows that a run is going on
    std::function<bool(const std::string& question)> AskRestart; // true: Yes
    std::function<bool(const QString& scriptPath)> StartScript;
    std::function<void()> QuitApplication;
    THttpBounds DownloadBounds;

    // --- The run --------------------------------------------------------------
    // Returns when the run has ended or when the program has been asked to
    // close for a restart. Throws TUpdateError for a published version that is
    // not a number or has more than three decimals, and when the restart
    // script cannot be started or the log cannot be written.
    void RunUpdate();

    // Whether a run for installedVersion left checked restart files in the
    // updates folder, waiting for the restart script: a declined restart, or
    // a script whose copy failed.
    bool HasPendingInstall(double installedVersion) const;
    // Finishes that update: checks the waiting files' digests again and
    // installs those that still match through the restart script, like an
    // accepted restart; nothing is downloaded. Throws like RunUpdate.
    void FinishPendingInstall();

    bool Busy() const { return Busy_; }
    bool RestartPending() const { return RestartPending_; }
    bool StopRequested() const { return StopRequested_; }
    const std::vector<TUpListItem>& NormalFiles() const { return Manifest_.NormalFiles; }
    const std::vector<TUpListItem>& RestartFiles() const { return Manifest_.RestartFiles; }
    const std::vector<std::string>& ChangeLogLines() const { return Manifest_.ChangeLogLines; }
    // Derived at the start of each run.
    const std::string& InfoURL() const { return InfoURL_; }
    const QString& ScriptPath() const { return Folders_.ScriptPath; }
    const QString& AppFolder() const { return Folders_.AppFolder; }
    const QString& RunBackupFolder() const { return Folders_.RunBackupFolder; }
    std::optional<double> PublishedVersion() const { return Manifest_.PublishedVersion; }

private:
    // Runs steps as one run: refused while another runs or where the
    // program's folders cannot be written; the controls come back if it throws.
    void RunOnce(void (TWebUpdater::*steps)());
    void RunSteps();
    void StartRun();
    bool FetchManifest();
    void InstallUpdate();
    QString ProgramFolder() const; // with a trailing "/"

    // Status, log, progress, error reports.
    void ChangeText(const std::string& text);
    void ShowText(const std::string& text); // status text without a log entry
    void WriteLog(const std::string& message) override;
    void ReportError(int kind, const std::string& detail = {}) override;
    void SetProgress(int position) override;
    std::string ErrorText(int kind) const;

    // Steps.
    QStringList FoldersWrittenFirst() const;
    QStringList DestinationFolders() const;
    void ReportUnwritableBeforeTheLog(const QString& folder);
    bool ReadManifest();
    bool IsNewerVersion();
    void BuildUpdateInfoText();
    void PrepareUpdatesFolder();
    void DownloadListedFiles(const std::vector<TUpListItem>& list);
    THttpBounds FileBounds(const TUpRec& entry) const;
    void DropUndownloadedRestartFiles();
    void OfferRestart();
    void InstallThroughRestart();
    void RecordPendingInstall();
    void FinishPendingSteps();
    void TakePendingFiles();
    void Success();
    void FinishRun();
    void AbortRun();
    void CancelRun(const std::string& detail);
    void DeleteListedUpdates();
    void SaveControls();
    void RestoreControls();

    TUpdateDownloader Downloader_{*this};
    bool Busy_ = false;
    bool RestartPending_ = false;
    bool StopRequested_ = false;
    bool ControlsSaved_ = false;
    QString SavedCaption_;
    TUpdateManifest Manifest_;
    std::string InfoURL_;
    TUpdateFolders Folders_;
};
