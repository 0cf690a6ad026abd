#include "updater/UpdateInstall.h"

#include "updater/UpdaterText.h"

#include <system_error>

using webupdater::FileExists;
using webupdater::kLfCr;

void TUpdateInstaller::EnsureFolder(const QString& folder) {
    const QString path = Folders_.Resolve(folder);
    const std::string shown = QToGbk(folder);
    if (webupdater::FolderExists(path)) {
        Report_.WriteLog("Checking if folder " + shown + " exists. --> OK.");
        return;
    }
    if (webupdater::CreateFolder(path)) {
        Report_.WriteLog("Creating " + shown + " folder.");
        return;
    }
    Report_.WriteLog("Error Creating " + shown + " folder.");
    Report_.ReportError(4, shown);
}

void TUpdateInstaller::CreateRunBackupFolder() {
    const QString& folder = Folders_.RunBackupFolder;
    if (webupdater::CreateFolder(Folders_.Resolve(folder))) {
        Report_.WriteLog("Creating " + QToGbk(folder) + " folder. --> OK.");
        return;
    }
    Report_.ReportError(0);
    Report_.WriteLog("Error Creating " + QToGbk(folder) + " folder.");
}

void TUpdateInstaller::InstallFiles(const std::vector<TUpListItem>& list) {
    for (const TUpListItem& item : list) {
        const TUpRec& entry = *item.Entry;
        if (entry.Name.isEmpty())
            continue;
        BackupFile(entry);
        CopyUpdateFile(Folders_.UpdatesFolder, entry.Destination, entry.Name);
    }
}

void TUpdateInstaller::BackupFile(const TUpRec& entry) {
    if (SaveBackup_ && FileExists(Folders_.Resolve(entry.Destination + entry.Name)))
        CopyUpdateFile(entry.Destination, Folders_.RunBackupFolder, entry.Name);
}

void TUpdateInstaller::CopyUpdateFile(const QString& fromFolder, const QString& toFolder,
                                      const QString& name) {
    Report_.SetProgress(40);
    const QString from = Folders_.Resolve(fromFolder);
    const QString to = Folders_.Resolve(toFolder);
    EnsureFolder(toFolder.isEmpty() ? Folders_.AppFolder : toFolder);
    const QString source = from + name;
    const QString target = to + name;
    if (!FileExists(source)) {
        Report_.ReportError(3, QToGbk(name));
        Report_.WriteLog("File doesn' t exist: " + QToGbk(source) + " !");
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(webupdater::FsPath(target).parent_path(), ec);
    if (!webupdater::CopyReplacing(source, target)) {
        Report_.WriteLog("Error copy file name: " + QToGbk(source) +
                         "  ---> to: " + QToGbk(target));
        Report_.ReportError(1, QToGbk(name));
        return;
    }
    Report_.WriteLog("The File " + QToGbk(source) + kLfCr +
                     " --> has been copied to: " + QToGbk(target));
}
