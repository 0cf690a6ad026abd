#include "updater/UpdateInstall.h"

#include <system_error>

using webupdater::FileExists;
using webupdater::FsPath;
using webupdater::kLfCr;

void TUpdateInstaller::EnsureFolder(const std::string& folder) {
    const std::string path = Folders_.Resolve(folder);
    if (webupdater::FolderExists(path)) {
        Report_.WriteLog("Checking if folder " + folder + " exists. --> OK.");
        return;
    }
    if (webupdater::CreateFolder(path)) {
        Report_.WriteLog("Creating " + folder + " folder.");
        return;
    }
    Report_.WriteLog("Error Creating " + folder + " folder.");
    Report_.ReportError(4, folder);
}

void TUpdateInstaller::CreateRunBackupFolder() {
    const std::string& folder = Folders_.RunBackupFolder;
    if (webupdater::CreateFolder(Folders_.Resolve(folder))) {
        Report_.WriteLog("Creating " + folder + " folder. --> OK.");
        return;
    }
    Report_.ReportError(0);
    Report_.WriteLog("Error Creating " + folder + " folder.");
}

void TUpdateInstaller::InstallFiles(const std::vector<TUpListItem>& list) {
    for (const TUpListItem& item : list) {
        const TUpRec& entry = *item.Entry;
        if (entry.Name.empty())
            continue;
        BackupFile(entry);
        CopyUpdateFile(Folders_.UpdatesFolder, entry.Destination, entry.Name);
    }
}

void TUpdateInstaller::BackupFile(const TUpRec& entry) {
    if (SaveBackup_ && FileExists(Folders_.Resolve(entry.Destination + entry.Name)))
        CopyUpdateFile(entry.Destination, Folders_.RunBackupFolder, entry.Name);
}

void TUpdateInstaller::CopyUpdateFile(const std::string& fromFolder, const std::string& toFolder,
                                      const std::string& name) {
    Report_.SetProgress(40);
    const std::string from = Folders_.Resolve(fromFolder);
    const std::string to = Folders_.Resolve(toFolder);
    EnsureFolder(toFolder.empty() ? Folders_.AppFolder : toFolder);
    const std::string source = from + name;
    const std::string target = to + name;
    if (!FileExists(source)) {
        Report_.ReportError(3, name);
        Report_.WriteLog("File doesn' t exist: " + from + name + " !");
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(FsPath(target).parent_path(), ec);
    if (!webupdater::CopyReplacing(FsPath(source), FsPath(target))) {
        Report_.WriteLog("Error copy file name: " + source + "  ---> to: " + target);
        Report_.ReportError(1, name);
        return;
    }
    Report_.WriteLog("The File " + from + name + kLfCr + " --> has been copied to: " + to + name);
}
