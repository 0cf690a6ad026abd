#pragma once

// The folders one update run works in, derived at its start, and the
// file-system operations its steps share. Paths are Unicode (QString) with
// "/" separators, whatever characters they hold; relative ones are taken
// below the program's folder. GBK appears only where a path is logged.

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>

struct TUpdateFolders {
    QString AppFolder;       // the program's folder, with a trailing "/"
    QString UpdatesFolder;   // with a trailing "/"
    QString BackupFolder;    // with a trailing "/", or AppFolder
    QString RunBackupFolder; // BackupFolder + this run's time stamp + "/"
    QString ScriptPath;      // the restart script: the program with ".sh"

    // A path of the run: an absolute one as it stands, others below AppFolder.
    QString Resolve(const QString& path) const;
};

namespace webupdater {

// The program file: programPath, or this process's own file when it is empty.
QString ProgramFile(const QString& programPath);
// The folder of that file, with a trailing "/".
QString ProgramFolder(const QString& programPath);
// The folders of a run starting now.
TUpdateFolders DeriveFolders(const QString& programPath, const QString& updatesFolder,
                             const QString& backupFolder);

QString WithTrailingSlash(QString folder);
std::filesystem::path FsPath(const QString& path);
bool FileExists(const QString& path);
bool FolderExists(const QString& path);
// Creates the folder and the folders above it; true when it exists afterwards.
bool CreateFolder(const QString& path);
// Whether a file can be created in the folder or, when it does not exist
// yet, in the nearest folder above it, where it would be created. Tried
// rather than read from the permission bits, which a read-only mount, an
// immutable folder or a system folder contradict (and which root ignores).
bool CanWriteInFolder(const QString& folder);
// The first of the folders that cannot be written; none when all can.
std::optional<QString> FirstUnwritableFolder(const QStringList& folders);

// The published version an updates folder was filled for, kept in a file of
// its own inside it; empty when none was recorded.
QString FilledForVersion(const QString& updatesFolder);
bool RecordFilledForVersion(const QString& updatesFolder, const QString& version);
// The file that records it.
QString FilledForVersionFile(const QString& updatesFolder);
// Copies a file so that the target is either the old or the whole new file.
bool CopyReplacing(const QString& source, const QString& target);

} // namespace webupdater
