#pragma once

// The restart files an update run left in the updates folder, checked and
// waiting for the restart script: kept in a file of their own beside them,
// with the digest each had when it was checked, so that a later start can
// finish the update without downloading anything again.

#include <QString>

#include <vector>

struct TPendingFile {
    QString Name;        // below the updates folder, as the manifest gave it
    QString Destination; // "" for the program's folder, otherwise ends in "/"
    QString Sha256;      // the file's digest when it was checked, lower case
};

namespace webupdater {

// The file that lists them.
QString PendingInstallFile(const QString& updatesFolder);
bool RecordPendingInstall(const QString& updatesFolder, const std::vector<TPendingFile>& files);
// The files listed; empty when there is no list or it cannot be read. A
// listed name or folder that is not a safe relative path, or a digest that
// is not 64 hexadecimal digits, makes the whole list unreadable: the list is
// the program's own, and one changed by anything else is not acted on.
std::vector<TPendingFile> ReadPendingInstall(const QString& updatesFolder);

} // namespace webupdater
