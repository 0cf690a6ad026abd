#include "tests/updater/UpdaterTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace updatertest {

std::string ManifestXml(const std::string& version, const std::vector<TFileLine>& files,
                        bool withInstructions) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Updates>\n"
                      "  <Details>\n"
                      "    <ApplicationName>TestApp</ApplicationName>\n"
                      "    <Author>Author</Author>\n"
                      "    <Company>Company</Company>\n"
                      "    <Version>" +
                      version +
                      "</Version>\n"
                      "  </Details>\n"
                      "  <ChangeLog>\n"
                      "    <Info Text=\"  first change\"/>\n"
                      "  </ChangeLog>\n";
    if (withInstructions) {
        xml += "  <Instructions>\n";
        for (const TFileLine& file : files)
            xml += "    <File Name=\"" + file.Name + "\" Destination=\"" + file.Destination +
                   "\" Terminate=\"" + file.Terminate + "\" " + file.MoreAttributes + "/>\n";
        xml += "  </Instructions>\n";
    }
    return xml + "</Updates>\n";
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

std::string Sha256Of(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool Exists(const QString& path) {
    return QFileInfo::exists(path);
}

std::vector<std::string> FolderEntries(const QString& folder) {
    std::vector<std::string> names;
    for (const QString& name :
         QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        names.push_back(name.toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace updatertest
