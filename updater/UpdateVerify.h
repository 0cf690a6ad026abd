#pragma once

// The check of the downloaded files against the digests the manifest gives
// them, before anything is installed or written into the restart script.

#include "updater/UpdateFolders.h"
#include "updater/UpdateManifest.h"
#include "updater/UpdateReporter.h"

#include <QString>

#include <optional>

namespace webupdater {

// The SHA-256 digest of a file, in lower-case hexadecimal; none when the file
// cannot be read.
std::optional<QString> FileSha256(const QString& path);

// Every file in the updates folder whose entry names a digest is compared
// with it. A file that differs is refused like an unsafe entry (logged,
// reported with its name, dropped from the lists) and deleted, so that no
// later run takes it for a finished download. The other files go on.
void RefuseMismatchedFiles(TUpdateReporter& report, const TUpdateFolders& folders,
                           TUpdateManifest& manifest);

} // namespace webupdater
