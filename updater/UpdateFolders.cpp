#include "updater/UpdateFolders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <system_error>

namespace fs = std::filesystem;

QString TUpdateFolders::Resolve(const QString& path) const {
    if (path.startsWith(QLatin1Char('/')))
        return path;
    return AppFolder + path;
}

namespace webupdater {

QString ProgramFile(const QString& programPath) {
    return programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
}

QString ProgramFolder(const QString& programPath) {
    return WithTrailingSlash(QFileInfo(ProgramFile(programPath)).absolutePath());
}

TUpdateFolders DeriveFolders(const QString& programPath, const QString& updatesFolder,
                             const QString& backupFolder) {
    TUpdateFolders folders;
    const QFileInfo info(ProgramFile(programPath));
    const QString suffix = info.suffix();
    QString script = info.absoluteFilePath();
    if (!suffix.isEmpty())
        script.chop(suffix.size() + 1);
    folders.ScriptPath = script + QStringLiteral(".sh");
    // Not upper-cased: on this platform that would name another folder.
    folders.AppFolder = ProgramFolder(programPath);
    folders.UpdatesFolder = WithTrailingSlash(updatesFolder);
    folders.BackupFolder =
        backupFolder.trimmed().isEmpty() ? folders.AppFolder : WithTrailingSlash(backupFolder);
    folders.RunBackupFolder =
        folders.BackupFolder +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss")) +
        QLatin1Char('/');
    return folders;
}

QString WithTrailingSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// The file system takes names as UTF-8 bytes, as Qt hands them to it.
fs::path FsPath(const QString& path) {
    return fs::path(path.toStdString());
}

bool FileExists(const QString& path) {
    std::error_code ec;
    return fs::is_regular_file(FsPath(path), ec);
}

bool FolderExists(const QString& path) {
    std::error_code ec;
    return fs::is_directory(FsPath(path), ec);
}

bool CreateFolder(const QString& path) {
    std::error_code ec;
    fs::create_directories(FsPath(path), ec);
    return FolderExists(path);
}

bool CanWriteInFolder(const QString& folder) {
    QString existing = QDir::cleanPath(folder);
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            return false;
        existing = parent;
    }
    if (!QFileInfo(existing).isDir())
        return false;
    QTemporaryFile probe(existing + QStringLiteral("/.write-probe-XXXXXX"));
    return probe.open();
}

std::optional<QString> FirstUnwritableFolder(const QStringList& folders) {
    for (const QString& folder : folders)
        if (!CanWriteInFolder(folder))
            return folder;
    return std::nullopt;
}

QString FilledForVersionFile(const QString& updatesFolder) {
    return WithTrailingSlash(updatesFolder) + QStringLiteral(".published-version");
}

QString FilledForVersion(const QString& updatesFolder) {
    QFile file(FilledForVersionFile(updatesFolder));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(64)).trimmed();
}

bool RecordFilledForVersion(const QString& updatesFolder, const QString& version) {
    QSaveFile file(FilledForVersionFile(updatesFolder));
    const QByteArray bytes = version.toUtf8() + '\n';
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The copy goes to a temporary name beside the target and is renamed over
// it, keeping the permissions of the file it replaces.
bool CopyReplacing(const QString& sourcePath, const QString& targetPath) {
    const fs::path source = FsPath(sourcePath);
    const fs::path target = FsPath(targetPath);
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
