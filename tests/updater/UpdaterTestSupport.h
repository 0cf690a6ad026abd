#pragma once

// Folders, files and manifests shared by the updater's tests.

#include <QByteArray>
#include <QString>

class QTcpSocket;

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

// Raw answers for the loopback server's Answer mode.
// Bytes that show where a splice or a cut happened.
QByteArray Body(int size);
QByteArray Head(qsizetype contentLength, bool close = true);
QByteArray Chunk(const QByteArray& data);
inline const QByteArray kChunkedHead =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
// Ends the connection with a TCP reset, after what the socket could still send.
void Reset(QTcpSocket& socket);
// How the server ends the connection after its bytes: closed in order, or reset.
void Send(QTcpSocket& socket, const QByteArray& bytes, bool reset = false);
// The same once the client has had time to read every byte: the close then
// finds the client with nothing left to read, which is when a transport may
// send the request again or take the body for whole.
void SendThenEnd(QTcpSocket& socket, const QByteArray& bytes, bool reset = false,
                 int afterMs = 100);

// The GBK texts the tests compare with.
inline const std::string kErrorMessage =
    "\xB3\xF6\xCF\xD6\xB4\xED\xCE\xF3,"
    "\xC7\xEB\xC1\xAA\xCF\xB5\xCE\xD2\xC3\xC7!"; // 出现错误,请联系我们!
inline const std::string kSuccess = "\xB8\xFC\xD0\xC2\xB3\xC9\xB9\xA6!"; // 更新成功!
inline const std::string kLfCr = "\n\r";

} // namespace updatertest
