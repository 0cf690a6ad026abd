#pragma once

// Putting the downloaded files in place: the run's folders, the backup of
// each file a new one replaces, and the copy of the new file over it.

#include "updater/UpdateFolders.h"
#include "updater/UpdateManifest.h"
#include "updater/UpdateReporter.h"

#include <QString>

#include <vector>

class TUpdateInstaller {
public:
    TUpdateInstaller(TUpdateReporter& report, const TUpdateFolders& folders, bool saveBackup)
        : Report_(report), Folders_(folders), SaveBackup_(saveBackup) {}

    // Makes sure a folder of the run exists; a failure is reported (kind 4)
    // and the run goes on.
    void EnsureFolder(const QString& folder);
    void CreateRunBackupFolder();
    // Backs up each file a new one replaces, then copies the new one from the
    // updates folder into its destination, in list order.
    void InstallFiles(const std::vector<TUpListItem>& list);
    // Copies the file an entry replaces into this run's backup folder.
    void BackupFile(const TUpRec& entry);
    // Copies name from one folder of the run to another, replacing.
    void CopyUpdateFile(const QString& fromFolder, const QString& toFolder, const QString& name);

private:
    TUpdateReporter& Report_;
    const TUpdateFolders& Folders_;
    bool SaveBackup_;
};
