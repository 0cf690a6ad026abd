#pragma once

// The folders one update run works in, derived at its start, and the
// file-system operations its steps share. Paths are GBK texts with "/"
// separators; relative ones are taken below the program's folder.

#include <filesystem>
#include <string>

struct TUpdateFolders {
    std::string AppFolder;       // the program's folder, with a trailing "/"
    std::string UpdatesFolder;   // with a trailing "/"
    std::string BackupFolder;    // with a trailing "/", or AppFolder
    std::string RunBackupFolder; // BackupFolder + this run's time stamp + "/"
    std::string ScriptPath;      // the restart script: the program with ".sh"

    // A path of the run: an absolute one as it stands, others below AppFolder.
    std::string Resolve(const std::string& path) const;
};

namespace webupdater {

// The program file: programPath, or this process's own file when it is empty.
std::string ProgramFile(const std::string& programPath);
// The folder of that file, with a trailing "/".
std::string ProgramFolder(const std::string& programPath);
// The folders of a run starting now.
TUpdateFolders DeriveFolders(const std::string& programPath, const std::string& updatesFolder,
                             const std::string& backupFolder);

std::string WithTrailingSlash(std::string folder);
std::filesystem::path FsPath(const std::string& gbk);
bool FileExists(const std::string& gbk);
bool FolderExists(const std::string& gbk);
// Creates the folder and the folders above it; true when it exists afterwards.
bool CreateFolder(const std::string& gbk);
// Copies a file so that the target is either the old or the whole new file.
bool CopyReplacing(const std::filesystem::path& source, const std::filesystem::path& target);

} // namespace webupdater
