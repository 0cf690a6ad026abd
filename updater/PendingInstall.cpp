#include "updater/PendingInstall.h"

#include "updater/UpdateFolders.h"
#include "updater/UpdateManifest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace webupdater {

namespace {

// The list is a few lines per file; anything much larger is not ours.
constexpr qint64 kMaxListBytes = 1024 * 1024;

bool IsListedSafely(const TPendingFile& file) {
    return !file.Name.isEmpty() && IsSafeRelativePath(file.Name) &&
           (file.Destination.isEmpty() || (file.Destination.endsWith(QLatin1Char('/')) &&
                                           IsSafeRelativePath(file.Destination))) &&
           IsSha256Text(file.Sha256);
}

} // namespace

QString PendingInstallFile(const QString& updatesFolder) {
    return WithTrailingSlash(updatesFolder) + QStringLiteral(".pending-install");
}

bool RecordPendingInstall(const QString& updatesFolder, const std::vector<TPendingFile>& files) {
    QJsonArray list;
    for (const TPendingFile& file : files)
        list.append(QJsonObject{{QStringLiteral("name"), file.Name},
                                {QStringLiteral("destination"), file.Destination},
                                {QStringLiteral("sha256"), file.Sha256}});
    const QByteArray bytes = QJsonDocument(list).toJson();
    QSaveFile out(PendingInstallFile(updatesFolder));
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

std::vector<TPendingFile> ReadPendingInstall(const QString& updatesFolder) {
    QFile in(PendingInstallFile(updatesFolder));
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxListBytes)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll());
    if (!document.isArray())
        return {};
    std::vector<TPendingFile> files;
    for (const QJsonValue& value : document.array()) {
        const QJsonObject object = value.toObject();
        TPendingFile file{object.value(QStringLiteral("name")).toString(),
                          object.value(QStringLiteral("destination")).toString(),
                          object.value(QStringLiteral("sha256")).toString().toLower()};
        if (!IsListedSafely(file))
            return {};
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace webupdater
