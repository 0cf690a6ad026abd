#pragma once

// Folders, files and manifests shared by the updater's tests.

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace updatertest {

struct TFileLine {
    std::string Name;        // as written into the attribute (already escaped for XML)
    std::string Destination; // idem
    std::string Terminate;
    std::string MoreAttributes = {}; // written as they stand after Terminate
};

// A manifest as the update server publishes it.
std::string ManifestXml(const std::string& version, const std::vector<TFileLine>& files,
                        bool withInstructions = true);

void WriteFile(const QString& path, const QByteArray& bytes);
// The SHA-256 digest of the bytes, in lower-case hexadecimal.
std::string Sha256Of(const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
bool Exists(const QString& path);
// The names directly inside a folder, sorted.
std::vector<std::string> FolderEntries(const QString& folder);

// The GBK texts the tests compare with.
inline const std::string kErrorMessage =
    "\xB3\xF6\xCF\xD6\xB4\xED\xCE\xF3,"
    "\xC7\xEB\xC1\xAA\xCF\xB5\xCE\xD2\xC3\xC7!"; // 出现错误,请联系我们!
inline const std::string kSuccess = "\xB8\xFC\xD0\xC2\xB3\xC9\xB9\xA6!"; // 更新成功!
inline const std::string kLfCr = "\n\r";

} // namespace updatertest
