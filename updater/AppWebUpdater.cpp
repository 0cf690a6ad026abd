#include "updater/AppWebUpdater.h"

#include "updater/PendingInstall.h"
#include "updater/RestartScript.h"
#include "updater/UpdateInstall.h"
#include "updater/UpdateLog.h"
#include "updater/UpdateVerify.h"
#include "updater/UpdaterText.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QScopeGuard>
#include <QStatusBar>
#include <QWidget>

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;
using webupdater::FormatNumber;
using webupdater::FsPath;
using webupdater::kCrLf;
using webupdater::kLfCr;
using webupdater::kQm;

namespace {

// The run's error table: the text that follows ErrorMessage, by kind. Kind
// 5 is AbortMessage, 7 an empty message and 13 the cancellation.
struct TErrorKind {
    int Kind;
    const char* Text;
};
constexpr TErrorKind kErrorKinds[] = {
    {0, " trying to create the sub backup folder!"},
    {1, " trying to copy the file"},
    {2, " trying to parse the XML file!"},
    {3, " trying to locate the source folder!"},
    {4, " trying to create the folder!"},
    {6, " trying to locate the current version number!"},
    {8, " downloading the update Info file!"},
    {10, " trying to locate the update version number!"},
    {14, " trying to write into the folder! Nothing was updated."},
};

} // namespace

TWebUpdater::TWebUpdater(QObject* parent) : QObject(parent) {}

TWebUpdater::~TWebUpdater() {
    if (!Busy_)
        return;
    // Destroyed while a run waits for a download: every step now ends the run
    // as if aborted; wait for it, letting window messages through.
    StopRequested_ = true;
    Downloader_.Abort();
    while (Busy_)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

QString TWebUpdater::ProgramFolder() const {
    return webupdater::ProgramFolder(ProgramPath);
}

QString TWebUpdater::FullLogFileName() const {
    return webupdater::LogFilePath(LogFileName, ProgramFolder());
}

// --- Status, log, progress ---------------------------------------------------------

void TWebUpdater::WriteLog(const std::string& message) {
    webupdater::AppendLogEntry(FullLogFileName(), LogFileName, LogAddTime, LogHeaderText, message);
}

void TWebUpdater::ChangeText(const std::string& text) {
    WriteLog(text);
    ShowText(text);
}

void TWebUpdater::ShowText(const std::string& text) {
    if (OnChangeText)
        OnChangeText(text);
    if (StatusBar)
        StatusBar->showMessage(GbkToQ(text));
}

void TWebUpdater::SetProgress(int position) {
    if (ProgressBar) {
        ProgressBar->setMaximum(100);
        ProgressBar->setValue(position);
    }
    if (OnProgress)
        OnProgress(position, 100);
}

std::string TWebUpdater::ErrorText(int kind) const {
    switch (kind) {
    case 5:
        return AbortMessage;
    case 7:
        return {};
    case 13:
        return "Updates checking was canceled (An error has been found).";
    }
    for (const TErrorKind& row : kErrorKinds)
        if (row.Kind == kind)
            return ErrorMessage + row.Text;
    return ErrorMessage;
}

void TWebUpdater::ReportError(int kind, const std::string& detail) {
    const std::string message = ErrorText(kind);
    const std::string full = detail.empty() ? message : message + kLfCr + detail;
    ChangeText(full);
    if (OnError)
        OnError(full);
}

void TWebUpdater::SaveControls() {
    if (ControlsSaved_)
        return;
    if (MainWindow) {
        SavedCaption_ = MainWindow->windowTitle();
        MainWindow->setWindowTitle(GbkToQ(Caption));
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setOverrideCursor(QCursor(Cursor));
    ControlsSaved_ = true;
}

void TWebUpdater::RestoreControls() {
    if (!ControlsSaved_)
        return;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::restoreOverrideCursor();
    if (MainWindow)
        MainWindow->setWindowTitle(SavedCaption_);
    ControlsSaved_ = false;
}

// --- The run ------------------------------------------------------------------------

void TWebUpdater::RunUpdate() {
    RunOnce(&TWebUpdater::RunSteps);
}

void TWebUpdater::RunOnce(void (TWebUpdater::*steps)()) {
    // A second click while a download waits would start a run inside the run.
    if (!Enabled || Busy_)
        return;
    // A run that cannot write would fail at its first log line, or half-way
    // through the installation: it says so before it downloads anything.
    if (const std::optional<QString> folder =
            webupdater::FirstUnwritableFolder(FoldersWrittenFirst())) {
        ReportUnwritableBeforeTheLog(*folder);
        return;
    }
    WriteLog("Updater is running... ");
    Busy_ = true;
    try {
        (this->*steps)();
    } catch (...) {
        // The run stops where it is, but the user gets the cursor, the
        // caption and a usable updater back.
        RestoreControls();
        Busy_ = false;
        throw;
    }
    Busy_ = false;
}

void TWebUpdater::RunSteps() {
    StartRun();
    if (!FetchManifest())
        return;
    if (!IsNewerVersion()) {
        ChangeText("Your application is up to date.");
        ChangeText("There are no new available updates. ");
        FinishRun();
        return;
    }
    ChangeText("A new update is available for: ");
    BuildUpdateInfoText();
    if (const std::optional<QString> folder =
            webupdater::FirstUnwritableFolder(DestinationFolders())) {
        ReportError(14, QToGbk(*folder));
        FinishRun();
        return;
    }
    InstallUpdate();
}

void TWebUpdater::StartRun() {
    webupdater::StartLog(FullLogFileName(), LogFileName, LogData);
    WriteLog("Initializing the updater.");
    RestartPending_ = false;
    Manifest_.ChangeLogLines.clear();
    Manifest_.PublishedVersion.reset();
    WriteLog("Updating Application Controls");
    SaveControls();

    SetProgress(10);
    ChangeText("Checking for Updates");
    WriteLog("Start processing file names. ");
    SetProgress(20);
    InfoURL_ = WebURL + "/" + QToGbk(WebInfoFileName);
    Folders_ = webupdater::DeriveFolders(ProgramPath, UpdatesFolder, BackupFolder);
    WriteLog("Finished processing file names.");
}

// Downloads and reads the manifest, and drops the entries it must not act
// on. False when the run has ended: no manifest, or no file entry left.
bool TWebUpdater::FetchManifest() {
    const std::string parseDetail = ErrorMessage + " trying to parse the XML file!";
    WriteLog("Start downloading xml remote file.");
    const QString manifest = Folders_.Resolve(WebInfoFileName);
    THttpBounds bounds = DownloadBounds;
    if (bounds.MaxBytes < 0 || bounds.MaxBytes > webupdater::kMaxManifestBytes)
        bounds.MaxBytes = webupdater::kMaxManifestBytes;
    if (!Downloader_.Download(webupdater::FileUrl(WebURL, WebInfoFileName), WebInfoFileName,
                              manifest, bounds)) {
        CancelRun(parseDetail);
        return false;
    }
    if (StopRequested_) {
        AbortRun();
        return false;
    }
    if (!webupdater::FileExists(manifest)) {
        ReportError(3, QToGbk(WebInfoFileName));
        CancelRun(ErrorMessage + "trying to locate the web info file.");
        CancelRun(parseDetail);
        return false;
    }
    if (!ReadManifest()) {
        CancelRun(parseDetail);
        return false;
    }
    webupdater::RefuseUnsafeEntries(*this, Manifest_, RequireSha256);
    if (Manifest_.NormalFiles.empty() && Manifest_.RestartFiles.empty()) {
        CancelRun(parseDetail);
        return false;
    }
    return true;
}

// Downloads the listed files, checks their digests, installs those that can
// be replaced now and offers the restart for the others.
void TWebUpdater::InstallUpdate() {
    TUpdateInstaller installer(*this, Folders_, SaveBackup);
    installer.EnsureFolder(Folders_.UpdatesFolder);
    installer.EnsureFolder(Folders_.BackupFolder);
    installer.CreateRunBackupFolder();

    PrepareUpdatesFolder();
    DownloadListedFiles(Manifest_.NormalFiles);
    DownloadListedFiles(Manifest_.RestartFiles);
    if (StopRequested_) {
        AbortRun();
        return;
    }
    webupdater::RefuseMismatchedFiles(*this, Folders_, Manifest_);
    installer.InstallFiles(Manifest_.NormalFiles);
    DropUndownloadedRestartFiles();
    if (!Manifest_.RestartFiles.empty()) {
        OfferRestart();
        return;
    }
    Success();
}

// The folders every run writes in, whatever the manifest lists: the log's,
// the program's (manifest, restart script), the updates and backup folders.
QStringList TWebUpdater::FoldersWrittenFirst() const {
    const TUpdateFolders folders =
        webupdater::DeriveFolders(ProgramPath, UpdatesFolder, BackupFolder);
    return {QFileInfo(FullLogFileName()).absolutePath(), folders.AppFolder,
            QFileInfo(folders.Resolve(WebInfoFileName)).absolutePath(),
            folders.Resolve(folders.UpdatesFolder), folders.Resolve(folders.BackupFolder)};
}

// The folders the listed files are installed into.
QStringList TWebUpdater::DestinationFolders() const {
    QStringList folders;
    for (const auto* list : {&Manifest_.NormalFiles, &Manifest_.RestartFiles})
        for (const TUpListItem& item : *list)
            folders.append(QFileInfo(Folders_.Resolve(item.Entry->Destination + item.Entry->Name))
                               .absolutePath());
    folders.removeDuplicates();
    return folders;
}

// The log cannot be written either: the message goes to the status text and
// the error notification only.
void TWebUpdater::ReportUnwritableBeforeTheLog(const QString& folder) {
    const std::string message = ErrorText(14) + kLfCr + QToGbk(folder);
    ShowText(message);
    if (OnError)
        OnError(message);
}

// The manifest's details replace the properties' values, even when reading
// stops on a version that is not a number.
bool TWebUpdater::ReadManifest() {
    Manifest_.ApplicationName = ApplicationName;
    Manifest_.Author = Author;
    Manifest_.Company = Company;
    const auto takeDetails = qScopeGuard([this] {
        ApplicationName = Manifest_.ApplicationName;
        Author = Manifest_.Author;
        Company = Manifest_.Company;
    });
    return webupdater::ReadUpdateManifest(Folders_.Resolve(WebInfoFileName), AppCurrentVer, *this,
                                          Manifest_);
}

bool TWebUpdater::IsNewerVersion() {
    const double published = Manifest_.PublishedVersion.value_or(0.0);
    if (AppCurrentVer < 0 || AppCurrentVer > 100000) {
        WriteLog("error has been found in the current version definition");
        ReportError(7, " Definition");
    }
    if (published < 0 || published > 100000) {
        WriteLog("error has been found in the new version definition");
        ReportError(10, " Definition");
    }
    return webupdater::VersionToWholeNumber(AppCurrentVer) <
           webupdater::VersionToWholeNumber(published);
}

void TWebUpdater::BuildUpdateInfoText() {
    const std::string first = "A new update is available for: " + ApplicationName + "!" + kLfCr;
    const std::string last = kLfCr + "Press " + kQm + "OK" + kQm + " to update " + ApplicationName +
                             " or press " + kQm + "Abort" + kQm + ".";
    UpdateInfoText = first + kCrLf + last;
    WriteLog("XML Information: " + kLfCr + UpdateInfoText);
}

// A declined restart leaves the downloaded files in the updates folder, for
// the next run of the same update to use. A run of any other version
// deletes what the folder holds of its listed files first: they would
// install the older update, even where their download now fails.
void TWebUpdater::PrepareUpdatesFolder() {
    const QString folder = Folders_.Resolve(Folders_.UpdatesFolder);
    const QString version =
        QString::fromStdString(FormatNumber(Manifest_.PublishedVersion.value_or(0.0)));
    if (webupdater::FilledForVersion(folder) == version) {
        WriteLog("The " + QToGbk(Folders_.UpdatesFolder) + " folder holds files of version " +
                 QToGbk(version) + ".");
        return;
    }
    std::error_code ec;
    for (const auto* list : {&Manifest_.NormalFiles, &Manifest_.RestartFiles}) {
        for (const TUpListItem& item : *list) {
            const QString path = folder + item.Entry->Name;
            if (!item.Entry->Name.isEmpty() && fs::remove(FsPath(path), ec))
                WriteLog("File of an earlier update deleted: " + QToGbk(path));
        }
    }
    fs::remove(FsPath(webupdater::PendingInstallFile(folder)), ec);
    webupdater::RecordFilledForVersion(folder, version);
}

void TWebUpdater::DownloadListedFiles(const std::vector<TUpListItem>& list) {
    const QString& updates = Folders_.UpdatesFolder;
    for (const TUpListItem& item : list) {
        if (StopRequested_)
            return;
        const QString& name = item.Entry->Name;
        if (name.isEmpty())
            continue;
        const QString path = Folders_.Resolve(updates + name);
        if (webupdater::FileExists(path)) {
            WriteLog("File name: " + QToGbk(name) + " already exists in " + QToGbk(updates) +
                     " folder." + " (OverWriting.)");
            continue;
        }
        Downloader_.Download(webupdater::FileUrl(WebURL, name), updates + name, path,
                             FileBounds(*item.Entry));
    }
}

// A file may have the bytes its entry's Size gives, or else the default
// bound; a smaller bound of the run's own wins.
THttpBounds TWebUpdater::FileBounds(const TUpRec& entry) const {
    THttpBounds bounds = DownloadBounds;
    const std::int64_t allowed = entry.Size.value_or(webupdater::kDefaultMaxFileBytes);
    if (bounds.MaxBytes < 0 || bounds.MaxBytes > allowed)
        bounds.MaxBytes = allowed;
    return bounds;
}

// A restart file whose download failed (reported already) has nothing to
// put in place: the script must not name it, nor a later start wait for it.
void TWebUpdater::DropUndownloadedRestartFiles() {
    std::erase_if(Manifest_.RestartFiles, [this](const TUpListItem& item) {
        const QString& name = item.Entry->Name;
        if (name.isEmpty() ||
            webupdater::FileExists(Folders_.Resolve(Folders_.UpdatesFolder + name)))
            return false;
        WriteLog("Not downloaded, left out of the restart: " + QToGbk(name));
        return true;
    });
}

void TWebUpdater::OfferRestart() {
    RestartPending_ = true;
    const std::string question = "Some of the updates require a restart. " + kLfCr + "Press " +
                                 kQm + "Yes" + kQm + " to restart now, or press " + kQm + "Abort" +
                                 kQm + " to run the updates checking later.";
    ChangeText(question);
    const bool yes = AskRestart ? AskRestart(question) : false;
    if (!yes || StopRequested_) {
        // The checked files wait for the next start, which offers to finish.
        RecordPendingInstall();
        ReportError(5);
        FinishRun();
        return;
    }
    InstallThroughRestart();
}

// Backs up what the restart files replace and hands them to the restart
// script, which runs once the program has ended.
void TWebUpdater::InstallThroughRestart() {
    TUpdateInstaller installer(*this, Folders_, SaveBackup);
    for (const TUpListItem& item : Manifest_.RestartFiles)
        if (!item.Entry->Name.isEmpty())
            installer.BackupFile(*item.Entry);
    // Kept until the script has put every file in place, so that a failed
    // copy is offered again at the next start.
    RecordPendingInstall();
    TRestartScriptSettings settings;
    settings.ProgramFile = webupdater::ProgramFile(ProgramPath);
    settings.ProgramPid = ProgramPid > 0 ? ProgramPid : QCoreApplication::applicationPid();
    settings.DeleteUpdatesOnComplete = DeleteUpdatesOnComplete;
    settings.DeleteBatchFileOnComplete = DeleteBatchFileOnComplete;
    settings.LogFile = FullLogFileName();
    webupdater::WriteRestartScript(*this, Folders_, Manifest_.RestartFiles, settings);
    webupdater::StartRestartScript(*this, Folders_, StartScript);
    if (QuitApplication)
        QuitApplication();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    Success();
}

// Lists the restart files waiting in the updates folder with the digest
// each has now, after its check.
void TWebUpdater::RecordPendingInstall() {
    const QString folder = Folders_.Resolve(Folders_.UpdatesFolder);
    std::vector<TPendingFile> files;
    for (const TUpListItem& item : Manifest_.RestartFiles) {
        const TUpRec& entry = *item.Entry;
        if (entry.Name.isEmpty())
            continue;
        if (const std::optional<QString> digest = webupdater::FileSha256(folder + entry.Name))
            files.push_back({entry.Name, entry.Destination, *digest});
    }
    if (!webupdater::RecordPendingInstall(folder, files))
        WriteLog("Error writing the list of files waiting in " + QToGbk(folder));
}

// --- Finishing an update left waiting ------------------------------------------------------

bool TWebUpdater::HasPendingInstall(double installedVersion) const {
    const TUpdateFolders folders =
        webupdater::DeriveFolders(ProgramPath, UpdatesFolder, BackupFolder);
    const QString folder = folders.Resolve(folders.UpdatesFolder);
    const QString version = webupdater::FilledForVersion(folder);
    try {
        if (version.isEmpty() || webupdater::ParseVersionText(QToGbk(version)) != installedVersion)
            return false;
    } catch (const TUpdateError&) {
        return false;
    }
    const std::vector<TPendingFile> files = webupdater::ReadPendingInstall(folder);
    return std::any_of(files.begin(), files.end(), [&](const TPendingFile& file) {
        return webupdater::FileExists(folder + file.Name);
    });
}

void TWebUpdater::FinishPendingInstall() {
    RunOnce(&TWebUpdater::FinishPendingSteps);
}

void TWebUpdater::FinishPendingSteps() {
    webupdater::StartLog(FullLogFileName(), LogFileName, LogData);
    WriteLog("Finishing the update waiting in " + QToGbk(UpdatesFolder));
    RestartPending_ = false;
    SaveControls();
    Folders_ = webupdater::DeriveFolders(ProgramPath, UpdatesFolder, BackupFolder);
    TakePendingFiles();
    // The files are checked again: they have waited in a folder others
    // may write, and only the digest they had when checked is trusted.
    webupdater::RefuseUnsafeEntries(*this, Manifest_, false);
    webupdater::RefuseMismatchedFiles(*this, Folders_, Manifest_);
    DropUndownloadedRestartFiles();
    if (Manifest_.RestartFiles.empty()) {
        // Nothing left worth installing: the folder is tidied, so that the
        // next start does not offer it again.
        CancelRun(ErrorMessage + " trying to locate the source folder!");
        return;
    }
    TUpdateInstaller installer(*this, Folders_, SaveBackup);
    installer.EnsureFolder(Folders_.BackupFolder);
    installer.CreateRunBackupFolder();
    RestartPending_ = true;
    InstallThroughRestart();
}

// The waiting files become the run's restart list, each with the digest it
// had when it was checked.
void TWebUpdater::TakePendingFiles() {
    const QString folder = Folders_.Resolve(Folders_.UpdatesFolder);
    Manifest_.NormalFiles.clear();
    Manifest_.RestartFiles.clear();
    for (const TPendingFile& file : webupdater::ReadPendingInstall(folder)) {
        auto entry = std::make_shared<TUpRec>();
        entry->Name = file.Name;
        entry->Destination = file.Destination;
        entry->Terminate = true;
        entry->Sha256 = file.Sha256;
        Manifest_.RestartFiles.push_back({file.Name, entry});
    }
}

// --- Endings -----------------------------------------------------------------------------

void TWebUpdater::Success() {
    ChangeText(SuccessMessageText);
    if (OnSuccess)
        OnSuccess();
    FinishRun();
}

void TWebUpdater::AbortRun() {
    ReportError(5);
    FinishRun();
}

void TWebUpdater::CancelRun(const std::string& detail) {
    ReportError(13, detail);
    FinishRun();
}

void TWebUpdater::FinishRun() {
    RestoreControls();
    SetProgress(0);
    UpdateInfoText.clear();
    WriteLog("Cleaning unnecessary files. ");
    std::error_code ec;
    if (DeleteWebInfoFileOnComplete)
        fs::remove(FsPath(Folders_.Resolve(WebInfoFileName)), ec);
    if (!RestartPending_ && DeleteUpdatesOnComplete)
        DeleteListedUpdates();
    if (DeleteLogOnComplete)
        fs::remove(FsPath(FullLogFileName()), ec);
    Busy_ = false;
}

// Deletes every listed file from the updates folder, then the folder when
// nothing else is left in it.
void TWebUpdater::DeleteListedUpdates() {
    std::error_code ec;
    for (const auto* list : {&Manifest_.NormalFiles, &Manifest_.RestartFiles}) {
        for (const TUpListItem& item : *list) {
            if (item.ListedName.isEmpty())
                continue;
            const QString path = Folders_.Resolve(Folders_.UpdatesFolder + item.ListedName);
            if (fs::remove(FsPath(path), ec))
                WriteLog("File deleted: " + QToGbk(path));
        }
    }
    const QString folder = Folders_.Resolve(Folders_.UpdatesFolder);
    fs::remove(FsPath(webupdater::FilledForVersionFile(folder)), ec);
    fs::remove(FsPath(webupdater::PendingInstallFile(folder)), ec);
    if (fs::remove(FsPath(folder), ec))
        WriteLog("Folder deleted: " + QToGbk(folder));
}
