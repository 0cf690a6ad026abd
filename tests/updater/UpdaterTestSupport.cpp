#include "tests/updater/UpdaterTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>

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

QByteArray Body(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return bytes;
}

QByteArray Head(qsizetype contentLength, bool close) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(contentLength) + "\r\n" +
           (close ? QByteArray("Connection: close\r\n") : QByteArray()) + "\r\n";
}

QByteArray Chunk(const QByteArray& data) {
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

void Reset(QTcpSocket& socket) {
    socket.flush();
    // QTcpSocket::abort() alone closes in order; without a linger time the
    // close sends a reset.
    const linger abortive{1, 0};
    setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
               sizeof abortive);
    socket.abort();
}

void Send(QTcpSocket& socket, const QByteArray& bytes, bool reset) {
    socket.write(bytes);
    if (reset)
        Reset(socket);
    else
        socket.disconnectFromHost();
}

void SendThenEnd(QTcpSocket& socket, const QByteArray& bytes, bool reset, int afterMs) {
    socket.write(bytes);
    socket.flush();
    QTimer::singleShot(afterMs, &socket, [&socket, reset] {
        if (reset)
            Reset(socket);
        else
            socket.disconnectFromHost();
    });
}

} // namespace updatertest
