#include "updater/UpdateVerify.h"

#include "updater/UpdaterText.h"

#include <QCryptographicHash>
#include <QFile>

#include <memory>
#include <system_error>
#include <vector>

namespace webupdater {

std::optional<QString> FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

void RefuseMismatchedFiles(TUpdateReporter& report, const TUpdateFolders& folders,
                           TUpdateManifest& manifest) {
    std::vector<std::shared_ptr<TUpRec>> checked;
    for (const auto* list : {&manifest.NormalFiles, &manifest.RestartFiles})
        for (const TUpListItem& item : *list)
            if (item.Entry->Sha256 && !item.Entry->Name.isEmpty())
                checked.push_back(item.Entry);

    for (const std::shared_ptr<TUpRec>& entry : checked) {
        const QString path = folders.Resolve(folders.UpdatesFolder + entry->Name);
        if (!FileExists(path))
            continue; // its download failed, which is reported already
        const QString expected = entry->Sha256->toLower();
        const std::optional<QString> actual = FileSha256(path);
        if (actual == expected) {
            report.WriteLog("SHA-256 digest checked: " + QToGbk(entry->Name));
            continue;
        }
        RefuseEntry(report, manifest, entry,
                    "its SHA-256 digest " +
                        QToGbk(actual.value_or(QStringLiteral("(unreadable)"))) +
                        " differs from the manifest's " + QToGbk(expected));
        std::error_code ec;
        std::filesystem::remove(FsPath(path), ec);
    }
}

} // namespace webupdater
