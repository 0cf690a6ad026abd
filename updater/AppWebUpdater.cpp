#include "updater/AppWebUpdater.h"

#include "engine/IntegerText.h"
#include "updater/UpdaterText.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QProgressBar>
#include <QSaveFile>
#include <QStatusBar>
#include <QWidget>
#include <QXmlStreamReader>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The separator the run puts between the parts of a longer message.
const std::string kLfCr = "\n\r";
const std::string kCrLf = "\r\n";
const std::string kQm = "\"";

fs::path FsPath(const std::string& gbk) {
    return fs::path(GbkToUtf8(gbk));
}

bool FileExists(const std::string& gbk) {
    std::error_code ec;
    return fs::is_regular_file(FsPath(gbk), ec);
}

bool FolderExists(const std::string& gbk) {
    std::error_code ec;
    return fs::is_directory(FsPath(gbk), ec);
}

bool CreateFolder(const std::string& gbk) {
    std::error_code ec;
    fs::create_directories(FsPath(gbk), ec);
    return FolderExists(gbk);
}

// Trims what the manifest's values may carry around them: every byte up to
// and including the space.
std::string TrimBlanks(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string TrimLeftBlanks(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    return std::string(text.substr(begin));
}

QString TrimmedQ(const QString& value) {
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && value[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && value[end - 1].unicode() <= ' ')
        --end;
    return value.mid(begin, end - begin);
}

// A manifest value read as a path: "\" separates like "/".
QString ManifestPath(const QString& value) {
    QString path = TrimmedQ(value);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string LocalDateTimeText() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    return QToGbk(locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                  locale.toString(now.time(), QLocale::LongFormat));
}

// Copies a file so that the target is either the old or the whole new file:
// the copy goes to a temporary name beside the target and is renamed over
// it, keeping the permissions of the file it replaces.
bool CopyReplacing(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    fs::path temporary = target;
    temporary += ".tmp-update";
    fs::remove(temporary, ec);
    if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec))
        return false;
    if (fs::exists(target, ec)) {
        const fs::perms permissions = fs::status(target, ec).permissions();
        if (!ec)
            fs::permissions(temporary, permissions, ec);
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

// The download service's notification codes the log names.
struct TBindStatus {
    int Code;
    const char* Name;
};
constexpr TBindStatus kConnecting{2, "BINDSTATUS_CONNECTING"};
constexpr TBindStatus kBeginDownloadData{4, "BINDSTATUS_BEGINDOWNLOADDATA"};
constexpr TBindStatus kDownloadingData{5, "BINDSTATUS_DOWNLOADINGDATA"};
constexpr TBindStatus kEndDownloadData{6, "BINDSTATUS_ENDDOWNLOADDATA"};

std::string NotificationLines(const TBindStatus& status, const std::string& statusText,
                              int progress) {
    char head[64];
    std::snprintf(head, sizeof head, "[ %d]:: ", status.Code);
    std::string lines = head + statusText + " - " + std::to_string(progress) + ":100" + kCrLf;
    lines += "Progress: " + std::to_string(progress) + ":  100" + kCrLf;
    lines += "Status: " + statusText + kCrLf;
    lines += kCrLf;
    lines += status.Name;
    return lines;
}

} // namespace

// --- Helpers ------------------------------------------------------------------

namespace webupdater {

bool IsSafeRelativePath(const QString& path) {
    if (path.startsWith(QLatin1Char('/')) || path.contains(QLatin1String("..")))
        return false;
    static const QString kShellCharacters = QStringLiteral("\"'$`;&|<>\\");
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
            return false;
        if (kShellCharacters.contains(c))
            return false;
    }
    return true;
}

double ParseVersionText(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    double value = 0;
    const char* begin = trimmed.data();
    const char* end = begin + trimmed.size();
    const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (trimmed.empty() || ec != std::errc() || stop != end || !std::isfinite(value))
        throw TUpdateError("'" + text + "' is not a valid floating point value");
    return value;
}

std::string FormatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

int VersionToWholeNumber(double version) {
    const std::string text = FormatNumber(version * 1000);
    const std::optional<std::int32_t> number = ParseIntegerText(text);
    if (!number || text.find_first_not_of("-0123456789") != std::string::npos)
        throw TUpdateError(NotAnIntegerMessage(text));
    return *number;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace webupdater

using webupdater::FormatNumber;
using webupdater::ShellQuote;

// --- The manifest scanner -------------------------------------------------------

// Goes through the manifest part by part, forward only, with the text parts
// exactly as stored. Reaching the end (or a part the reader cannot read) ends
// every later search too.
class TManifestScanner {
public:
    TManifestScanner(const QString& path, std::function<void(const std::string&)> log,
                     std::function<void()> reportSkippedData)
        : File_(path), Log_(std::move(log)), ReportSkippedData_(std::move(reportSkippedData)) {
        if (File_.open(QIODevice::ReadOnly))
            Reader_.setDevice(&File_);
        else
            Ended_ = true;
    }

    // Moves to the next part; false at the end.
    bool Next() {
        while (!Ended_) {
            const QXmlStreamReader::TokenType token = Reader_.readNext();
            if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument) {
                Ended_ = true;
                return false;
            }
            // Without a declaration the reader still opens the document; that
            // is no part of the file.
            if (token == QXmlStreamReader::StartDocument && Reader_.documentVersion().isEmpty())
                continue;
            return true;
        }
        return false;
    }

    bool IsDeclaration() const { return Reader_.tokenType() == QXmlStreamReader::StartDocument; }
    bool IsTag(const char* name) const {
        return Reader_.tokenType() == QXmlStreamReader::StartElement &&
               Reader_.name() == QLatin1String(name);
    }
    const QXmlStreamReader& Reader() const { return Reader_; }

    bool FindTag(const char* name) {
        while (Next()) {
            if (IsTag(name)) {
                Log_(std::string("Parsing XML tag: ") + name);
                return true;
            }
        }
        return false;
    }

    std::optional<std::string> FindText() {
        while (Next()) {
            if (Reader_.tokenType() == QXmlStreamReader::Characters) {
                Log_("Parsing XML data");
                return QToGbk(Reader_.text().toString());
            }
            ReportSkippedData_();
            Log_("Error parsing XML data");
        }
        return std::nullopt;
    }

private:
    QFile File_;
    QXmlStreamReader Reader_;
    bool Ended_ = false;
    std::function<void(const std::string&)> Log_;
    std::function<void()> ReportSkippedData_;
};

// --- The component ------------------------------------------------------------------

TWebUpdater::TWebUpdater(QObject* parent) : QObject(parent) {
    Http_.setProxy(QNetworkProxy::NoProxy);
}

TWebUpdater::~TWebUpdater() {
    if (!Busy_)
        return;
    // Destroyed while a run waits for a download: every step now ends the run
    // as if aborted; wait for it, letting window messages through.
    StopRequested_ = true;
    if (CurrentReply_)
        CurrentReply_->abort();
    while (Busy_)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

std::string TWebUpdater::ProgramFolder() const {
    const QString program = ProgramPath.empty() ? QCoreApplication::applicationFilePath()
                                                : QString::fromStdString(ProgramPath);
    return WithTrailingSlash(QToGbk(QFileInfo(program).absolutePath()));
}

std::string TWebUpdater::Resolve(const std::string& path) const {
    if (!path.empty() && path.front() == '/')
        return path;
    return ProgramFolder() + path;
}

std::string TWebUpdater::FullLogFileName() const {
    if (LogFileName.find_first_of("\\:/") != std::string::npos)
        return LogFileName;
    return ProgramFolder() + LogFileName;
}

// --- Status, log, progress ---------------------------------------------------------

void TWebUpdater::WriteLog(const std::string& message) {
    std::ofstream log(FsPath(FullLogFileName()), std::ios::binary | std::ios::app);
    if (!log)
        throw TUpdateError("Unable to create error log file: " + LogFileName);
    if (LogAddTime)
        log << LocalDateTimeText() << kCrLf;
    if (!LogHeaderText.empty())
        log << LogHeaderText << kCrLf;
    log << message << kCrLf << kCrLf;
}

void TWebUpdater::ResetLog() {
    std::ofstream log(FsPath(FullLogFileName()), std::ios::binary | std::ios::trunc);
    if (!log)
        throw TUpdateError("Unable to create error log file: " + LogFileName);
    if (!LogData.empty())
        log << LogData << kCrLf;
    log << LocalDateTimeText() << kCrLf;
}

void TWebUpdater::ChangeText(const std::string& text) {
    WriteLog(text);
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

void TWebUpdater::ReportError(int kind, const std::string& detail) {
    std::string message;
    switch (kind) {
    case 0:
        message = ErrorMessage + " trying to create the sub backup folder!";
        break;
    case 1:
        message = ErrorMessage + " trying to copy the file";
        break;
    case 2:
        message = ErrorMessage + " trying to parse the XML file!";
        break;
    case 3:
        message = ErrorMessage + " trying to locate the source folder!";
        break;
    case 4:
        message = ErrorMessage + " trying to create the folder!";
        break;
    case 5:
        message = AbortMessage;
        break;
    case 6:
        message = ErrorMessage + " trying to locate the current version number!";
        break;
    case 7:
        break;
    case 8:
        message = ErrorMessage + " downloading the update Info file!";
        break;
    case 10:
        message = ErrorMessage + " trying to locate the update version number!";
        break;
    case 13:
        message = "Updates checking was canceled (An error has been found).";
        break;
    default:
        message = ErrorMessage;
        break;
    }
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
    // A second click while a download waits would start a run inside the run.
    if (!Enabled || Busy_)
        return;
    WriteLog("Updater is running... ");
    Busy_ = true;
    try {
        RunSteps();
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
    ResetLog();
    WriteLog("Initializing the updater.");
    RestartPending_ = false;
    ChangeLogLines_.clear();
    PublishedVersion_.reset();
    WriteLog("Updating Application Controls");
    SaveControls();

    SetProgress(10);
    ChangeText("Checking for Updates");
    WriteLog("Start processing file names. ");
    SetProgress(20);
    DeriveNames();
    WriteLog("Finished processing file names.");

    const std::string parseDetail = ErrorMessage + " trying to parse the XML file!";
    WriteLog("Start downloading xml remote file.");
    if (!DownloadFile(InfoURL_, WebInfoFileName)) {
        CancelRun(parseDetail);
        return;
    }
    if (StopRequested_) {
        AbortRun();
        return;
    }
    if (!FileExists(Resolve(WebInfoFileName))) {
        ReportError(3, WebInfoFileName);
        CancelRun(ErrorMessage + "trying to locate the web info file.");
        CancelRun(parseDetail);
        return;
    }
    if (!ReadManifest()) {
        CancelRun(parseDetail);
        return;
    }
    RefuseUnsafeEntries();
    if (NormalFiles_.empty() && RestartFiles_.empty()) {
        CancelRun(parseDetail);
        return;
    }

    if (!IsNewerVersion()) {
        ChangeText("Your application is up to date.");
        ChangeText("There are no new available updates. ");
        FinishRun();
        return;
    }
    ChangeText("A new update is available for: ");
    BuildUpdateInfoText();

    EnsureFolder(UpdatesFolder_);
    EnsureFolder(BackupFolder_);
    CreateRunBackupFolder();

    DownloadListedFiles(NormalFiles_);
    DownloadListedFiles(RestartFiles_);
    if (StopRequested_) {
        AbortRun();
        return;
    }
    InstallNormalFiles();
    if (!RestartFiles_.empty()) {
        OfferRestart();
        return;
    }
    Success();
}

void TWebUpdater::DeriveNames() {
    InfoURL_ = WebURL + "/" + WebInfoFileName;
    const std::string program =
        ProgramPath.empty() ? QCoreApplication::applicationFilePath().toStdString() : ProgramPath;
    const QFileInfo info(QString::fromStdString(program));
    const QString suffix = info.suffix();
    QString script = info.absoluteFilePath();
    if (!suffix.isEmpty())
        script.chop(suffix.size() + 1);
    ScriptPath_ = QToGbk(script + QStringLiteral(".sh"));
    // Not upper-cased: on this platform that would name another folder.
    AppFolder_ = ProgramFolder();
    UpdatesFolder_ = WithTrailingSlash(UpdatesFolder);
    BackupFolder_ = TrimBlanks(BackupFolder).empty() ? AppFolder_ : WithTrailingSlash(BackupFolder);
    RunBackupFolder_ =
        BackupFolder_ +
        QToGbk(QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"))) + "/";
}

// --- Reading the manifest --------------------------------------------------------------

bool TWebUpdater::ReadManifest() {
    auto log = [this](const std::string& line) { WriteLog(line); };
    const QString path = GbkToQ(Resolve(WebInfoFileName));
    const size_t entriesBefore = NormalFiles_.size() + RestartFiles_.size();
    {
        TManifestScanner scanner(path, log, [this] { ReportError(2, " (XML Data Section)"); });
        bool declaration = false;
        while (!declaration && scanner.Next()) {
            if (scanner.IsDeclaration())
                declaration = true;
            else
                ReportError(2, "(  XML Head Section)");
        }
        if (declaration)
            WriteLog("Parsing XML Head section");
        ReadDetails(scanner);
    }
    TManifestScanner scanner(path, log, [this] { ReportError(2, " (XML Data Section)"); });
    ReadInstructions(scanner);
    return NormalFiles_.size() + RestartFiles_.size() > entriesBefore;
}

void TWebUpdater::ReadDetails(TManifestScanner& scanner) {
    scanner.FindTag("Updates");
    scanner.FindTag("Details");
    if (scanner.FindTag("ApplicationName"))
        if (auto text = scanner.FindText())
            ApplicationName = *text;
    if (scanner.FindTag("Author"))
        if (auto text = scanner.FindText())
            Author = *text;
    if (scanner.FindTag("Company"))
        if (auto text = scanner.FindText())
            Company = *text;
    if (scanner.FindTag("Version")) {
        if (auto text = scanner.FindText()) {
            PublishedVersionText_ = *text;
            PublishedVersion_ = webupdater::ParseVersionText(*text);
            WriteLog("Application current version is: " + FormatNumber(AppCurrentVer) + kLfCr +
                     "  Update version is: " + *text);
        }
    }
    scanner.FindTag("ChangeLog");
    ChangeLogLines_.push_back(kLfCr);
    while (scanner.FindTag("Info")) {
        for (const QXmlStreamAttribute& attribute : scanner.Reader().attributes())
            if (attribute.name() == QLatin1String("Text"))
                ChangeLogLines_.push_back(TrimLeftBlanks(QToGbk(attribute.value().toString())));
    }
}

void TWebUpdater::ReadInstructions(TManifestScanner& scanner) {
    scanner.FindTag("Instructions");
    while (scanner.FindTag("File"))
        ReadFileAttributes(scanner);
}

void TWebUpdater::ReadFileAttributes(TManifestScanner& scanner) {
    auto entry = std::make_shared<TUpRec>();
    for (const QXmlStreamAttribute& attribute : scanner.Reader().attributes()) {
        const QString name = TrimmedQ(attribute.name().toString());
        if (name == QLatin1String("Name")) {
            const QString value = ManifestPath(attribute.value().toString());
            entry->Unsafe = entry->Unsafe || !webupdater::IsSafeRelativePath(value);
            entry->Name = QToGbk(value);
        } else if (name == QLatin1String("Destination")) {
            QString value = ManifestPath(attribute.value().toString());
            while (value.endsWith(QLatin1Char('/')) && value.size() > 1)
                value.chop(1);
            value += QLatin1Char('/');
            if (value == QLatin1String("ApplicationFolder/"))
                value.clear();
            entry->Unsafe = entry->Unsafe || !webupdater::IsSafeRelativePath(value);
            entry->Destination = QToGbk(value);
        } else if (name == QLatin1String("Terminate")) {
            const QString value = TrimmedQ(attribute.value().toString());
            if (value == QLatin1String("yes")) {
                entry->Terminate = true;
                RestartFiles_.push_back({entry->Name, entry});
                WriteLog("Adding files which require restart into the update list: " + entry->Name);
            } else if (value == QLatin1String("no")) {
                entry->Terminate = false;
                NormalFiles_.push_back({entry->Name, entry});
                WriteLog("Adding files into the update list: " + entry->Name);
            }
        }
    }
}

// A manifest comes from the network: an entry that could reach outside the
// program's folder, or change the meaning of the restart script, is dropped
// before anything is downloaded, copied or written for it.
void TWebUpdater::RefuseUnsafeEntries() {
    auto refuse = [this](std::vector<TUpListItem>& list) {
        std::vector<TUpListItem> kept;
        for (TUpListItem& item : list) {
            const bool unsafe =
                item.Entry->Unsafe ||
                !webupdater::IsSafeRelativePath(GbkToQ(item.ListedName).replace('\\', '/'));
            if (!unsafe) {
                kept.push_back(std::move(item));
                continue;
            }
            WriteLog("Refused file entry (it points outside the application folder or holds "
                     "characters a file name must not hold): " +
                     item.Entry->Name + "  Destination: " + item.Entry->Destination);
            ReportError(1, item.Entry->Name);
        }
        list = std::move(kept);
    };
    refuse(NormalFiles_);
    refuse(RestartFiles_);
}

// --- Version comparison -----------------------------------------------------------------

bool TWebUpdater::IsNewerVersion() {
    const double published = PublishedVersion_.value_or(0.0);
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

// --- Folders, downloads, copies ---------------------------------------------------------

void TWebUpdater::EnsureFolder(const std::string& folder) {
    const std::string path = Resolve(folder);
    if (FolderExists(path)) {
        WriteLog("Checking if folder " + folder + " exists. --> OK.");
        return;
    }
    if (CreateFolder(path)) {
        WriteLog("Creating " + folder + " folder.");
        return;
    }
    WriteLog("Error Creating " + folder + " folder.");
    ReportError(4, folder);
}

void TWebUpdater::CreateRunBackupFolder() {
    if (CreateFolder(Resolve(RunBackupFolder_))) {
        WriteLog("Creating " + RunBackupFolder_ + " folder. --> OK.");
        return;
    }
    ReportError(0);
    WriteLog("Error Creating " + RunBackupFolder_ + " folder.");
}

void TWebUpdater::DownloadListedFiles(const std::vector<TUpListItem>& list) {
    for (const TUpListItem& item : list) {
        if (StopRequested_)
            return;
        const std::string& name = item.Entry->Name;
        if (name.empty())
            continue;
        if (FileExists(Resolve(UpdatesFolder_ + name))) {
            WriteLog("File name: " + name + " already exists in " + UpdatesFolder_ + " folder." +
                     " (OverWriting.)");
            continue;
        }
        DownloadFile(WebURL + "/" + name, UpdatesFolder_ + name);
    }
}

bool TWebUpdater::DownloadFile(const std::string& address, const std::string& target) {
    const std::string shownTarget = "ApplicationFolder/" + target;
    WriteLog("Trying to download: " + address + "  To: " + shownTarget);

    std::string notifications;
    int lastProgress = 0;
    bool begun = false;
    auto notify = [&](const TBindStatus& status, int progress) {
        if (!notifications.empty())
            notifications += kCrLf;
        notifications += NotificationLines(status, address, progress);
        lastProgress = progress;
    };

    const std::string path = Resolve(target);
    std::error_code ec;
    fs::create_directories(FsPath(path).parent_path(), ec);

    THttpRequest request;
    request.Url = QUrl(GbkToQ(address), QUrl::TolerantMode);
    request.Bounds = DownloadBounds;
    request.OnStarted = [&](QNetworkReply* reply) {
        CurrentReply_ = reply;
        notify(kConnecting, 0);
    };
    request.OnProgress = [&](std::int64_t received, std::int64_t total) {
        const int percent = total > 0 ? static_cast<int>(received * 100 / total) : 0;
        if (!begun) {
            begun = true;
            notify(kBeginDownloadData, percent);
        } else if (percent != lastProgress) {
            notify(kDownloadingData, percent);
        }
    };
    const THttpResult result = HttpGetToFile(Http_, request, GbkToQ(path));
    CurrentReply_ = nullptr;
    if (!result.Ok || StopRequested_) {
        WriteLog("Download failed: " + address + "  (" + QToGbk(result.ErrorText) + ")");
        ReportError(8, address);
        return false;
    }
    notify(kEndDownloadData, 100);
    SetProgress(lastProgress);
    WriteLog(notifications + kLfCr + "Downloading " + address + "  To: " + shownTarget +
             " was successful.");
    return true;
}

void TWebUpdater::CopyUpdateFile(const std::string& fromFolder, const std::string& toFolder,
                                 const std::string& name) {
    SetProgress(40);
    const std::string from = Resolve(fromFolder);
    const std::string to = Resolve(toFolder);
    EnsureFolder(toFolder.empty() ? AppFolder_ : toFolder);
    const std::string source = from + name;
    const std::string target = to + name;
    if (!FileExists(source)) {
        ReportError(3, name);
        WriteLog("File doesn' t exist: " + from + name + " !");
        return;
    }
    std::error_code ec;
    fs::create_directories(FsPath(target).parent_path(), ec);
    if (!CopyReplacing(FsPath(source), FsPath(target))) {
        WriteLog("Error copy file name: " + source + "  ---> to: " + target);
        ReportError(1, name);
        return;
    }
    WriteLog("The File " + from + name + kLfCr + " --> has been copied to: " + to + name);
}

void TWebUpdater::BackupFile(const TUpRec& entry) {
    if (SaveBackup && FileExists(Resolve(entry.Destination + entry.Name)))
        CopyUpdateFile(entry.Destination, RunBackupFolder_, entry.Name);
}

void TWebUpdater::InstallNormalFiles() {
    for (const TUpListItem& item : NormalFiles_) {
        const TUpRec& entry = *item.Entry;
        if (entry.Name.empty())
            continue;
        BackupFile(entry);
        CopyUpdateFile(UpdatesFolder_, entry.Destination, entry.Name);
    }
}

// --- Restart ------------------------------------------------------------------------------

void TWebUpdater::OfferRestart() {
    RestartPending_ = true;
    const std::string question = "Some of the updates require a restart. " + kLfCr + "Press " +
                                 kQm + "Yes" + kQm + " to restart now, or press " + kQm + "Abort" +
                                 kQm + " to run the updates checking later.";
    ChangeText(question);
    const bool yes = AskRestart ? AskRestart(question) : false;
    if (!yes || StopRequested_) {
        ReportError(5);
        FinishRun();
        return;
    }
    for (const TUpListItem& item : RestartFiles_)
        if (!item.Entry->Name.empty())
            BackupFile(*item.Entry);
    WriteRestartScript();
    StartRestartScript();
    Success();
}

void TWebUpdater::WriteRestartScript() {
    WriteLog("Creating a batch file: " + ScriptPath_);
    const qint64 pid = ProgramPid > 0 ? ProgramPid : QCoreApplication::applicationPid();
    const std::string program =
        ProgramPath.empty() ? QCoreApplication::applicationFilePath().toStdString() : ProgramPath;
    auto q = [](const std::string& gbkPath) { return ShellQuote(GbkToUtf8(gbkPath)); };

    std::string script;
    auto line = [&script](const std::string& text) { script += text + "\n"; };
    line("#!/bin/sh");
    line("# Puts in place the updated files that could not be replaced while the program");
    line("# ran, then starts the program again.");
    line("exec </dev/null >/dev/null 2>&1");
    line("cd " + q(AppFolder_) + " || exit 1");
    line("while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 1; done");
    for (const TUpListItem& item : RestartFiles_) {
        const TUpRec& entry = *item.Entry;
        const std::string d = TrimBlanks(entry.Destination);
        const std::string n = TrimBlanks(entry.Name);
        if (n.empty())
            continue;
        if (!d.empty())
            line("[ -d " + q(Resolve(d)) + " ] || mkdir -p " + q(Resolve(d)));
        line("cp -f " + q(Resolve(UpdatesFolder_ + n)) + " " + q(Resolve(d + n)) + " || cp -f " +
             q(Resolve(RunBackupFolder_ + n)) + " " + q(Resolve(d + n)));
    }
    line(ShellQuote(program) + " &");
    if (DeleteUpdatesOnComplete)
        line("rm -rf -- " + q(Resolve(UpdatesFolder_)));
    if (DeleteBatchFileOnComplete)
        line("rm -f -- " + q(ScriptPath_));

    QSaveFile file(GbkToQ(ScriptPath_));
    const QByteArray bytes = QByteArray::fromStdString(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        WriteLog("An error occurred while trying to run the cmd file. ");
        throw TUpdateError("An error occurred while trying to run the cmd file. ");
    }
    WriteLog("Batch File Commands: " + kLfCr + kLfCr + Utf8ToGbk(script));
}

void TWebUpdater::StartRestartScript() {
    WriteLog("Creating a process to run the batch file.");
    const std::string scriptPath = GbkToUtf8(ScriptPath_);
    bool started = false;
    if (StartScript) {
        started = StartScript(scriptPath);
    } else {
        started =
            QProcess::startDetached(QStringLiteral("nice"),
                                    {QStringLiteral("-n"), QStringLiteral("19"),
                                     QStringLiteral("sh"), QString::fromStdString(scriptPath)},
                                    GbkToQ(AppFolder_));
    }
    if (!started) {
        WriteLog("An error occurred while trying to run the cmd file. ");
        throw TUpdateError("An error occurred while trying to run the cmd file. ");
    }
    WriteLog("Restarting.... Hold On.");
    if (QuitApplication)
        QuitApplication();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
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
        fs::remove(FsPath(Resolve(WebInfoFileName)), ec);
    if (!RestartPending_ && DeleteUpdatesOnComplete) {
        for (const auto* list : {&NormalFiles_, &RestartFiles_}) {
            for (const TUpListItem& item : *list) {
                if (item.ListedName.empty())
                    continue;
                const std::string path = Resolve(UpdatesFolder_ + item.ListedName);
                if (fs::remove(FsPath(path), ec))
                    WriteLog("File deleted: " + path);
            }
        }
        const std::string folder = Resolve(UpdatesFolder_);
        if (fs::remove(FsPath(folder), ec))
            WriteLog("Folder deleted: " + folder);
    }
    if (DeleteLogOnComplete)
        fs::remove(FsPath(FullLogFileName()), ec);
    Busy_ = false;
}
