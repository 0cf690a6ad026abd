#include "updater/UpdateFolders.h"

#include "updater/UpdateManifest.h"
#include "updater/UpdaterText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <system_error>

namespace fs = std::filesystem;

std::string TUpdateFolders::Resolve(const std::string& path) const {
    if (!path.empty() && path.front() == '/')
        return path;
    return AppFolder + path;
}

namespace webupdater {

std::string ProgramFile(const std::string& programPath) {
    return programPath.empty() ? QCoreApplication::applicationFilePath().toStdString()
                               : programPath;
}

std::string ProgramFolder(const std::string& programPath) {
    const QString program = QString::fromStdString(ProgramFile(programPath));
    return WithTrailingSlash(QToGbk(QFileInfo(program).absolutePath()));
}

TUpdateFolders DeriveFolders(const std::string& programPath, const std::string& updatesFolder,
                             const std::string& backupFolder) {
    TUpdateFolders folders;
    const QFileInfo info(QString::fromStdString(ProgramFile(programPath)));
    const QString suffix = info.suffix();
    QString script = info.absoluteFilePath();
    if (!suffix.isEmpty())
        script.chop(suffix.size() + 1);
    folders.ScriptPath = QToGbk(script + QStringLiteral(".sh"));
    // Not upper-cased: on this platform that would name another folder.
    folders.AppFolder = ProgramFolder(programPath);
    folders.UpdatesFolder = WithTrailingSlash(updatesFolder);
    folders.BackupFolder =
        TrimBlanks(backupFolder).empty() ? folders.AppFolder : WithTrailingSlash(backupFolder);
    folders.RunBackupFolder =
        folders.BackupFolder +
        QToGbk(QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"))) + "/";
    return folders;
}

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

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

// The copy goes to a temporary name beside the target and is renamed over
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

} // namespace webupdater
