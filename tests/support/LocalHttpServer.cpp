#include "tests/support/LocalHttpServer.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

TLocalHttpServer::TLocalHttpServer(QString rootFolder, QObject* parent)
    : QObject(parent), Root_(std::move(rootFolder)) {}

bool TLocalHttpServer::Start() {
    return Listen(std::make_unique<QTcpServer>());
}

bool TLocalHttpServer::StartTls(const QString& certificateFile, const QString& keyFile) {
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    QFile keyText(keyFile);
    if (chain.isEmpty() || !keyText.open(QIODevice::ReadOnly))
        return false;
    const QSslKey key(&keyText, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(configuration);
    Tls_ = true;
    return Listen(std::move(server));
}

// A TLS connection is handed over once its handshake is done, a plain one
// at once: both arrive as pending connections.
bool TLocalHttpServer::Listen(std::unique_ptr<QTcpServer> server) {
    Server_ = std::move(server);
    connect(Server_.get(), &QTcpServer::pendingConnectionAvailable, this,
            &TLocalHttpServer::OnNewConnection);
    return Server_->listen(QHostAddress::LocalHost, 0);
}

QString TLocalHttpServer::BaseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(Tls_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(Port());
}

bool TLocalHttpServer::WasRequested(const QByteArray& path) const {
    for (const TRecordedRequest& request : Requests_)
        if (request.Path == path)
            return true;
    return false;
}

void TLocalHttpServer::OnNewConnection() {
    while (QTcpSocket* socket = Server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TLocalHttpServer::OnReadyRead(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", QByteArray());
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    TRecordedRequest request;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.Method = requestLine.value(0);
    request.RawPath = requestLine.value(1);
    request.Path = QUrl::fromPercentEncoding(request.RawPath).toUtf8();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.Headers[lines[i].left(colon).trimmed().toLower()] =
                lines[i].mid(colon + 1).trimmed();
    }
    Requests_.push_back(request);
    Answer(socket, request);
}

void TLocalHttpServer::Answer(QTcpSocket* socket, const TRecordedRequest& request) {
    const Behaviour behaviour = Behaviours_.value(request.Path);
    const int attempt = ++Attempts_[request.Path];
    switch (behaviour.Kind) {
    case Mode::Serve:
        SendFile(socket, request.Path);
        break;
    case Mode::Status:
        SendStatus(socket, behaviour.Status);
        break;
    case Mode::Delay: {
        const QByteArray path = request.Path;
        QTimer::singleShot(behaviour.DelayMs, socket,
                           [this, socket, path] { SendFile(socket, path); });
        break;
    }
    case Mode::Silent:
        break; // holds the connection open and says nothing
    case Mode::Drip: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
        timer->start(behaviour.DelayMs);
        break;
    }
    case Mode::Answer:
        behaviour.Respond(*socket, attempt);
        break;
    case Mode::Cut:
        socket->write(
            "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\npartial");
        socket->flush();
        socket->abort();
        break;
    }
}

void TLocalHttpServer::SendFile(QTcpSocket* socket, const QByteArray& path) {
    // Only plain names below the root are served.
    if (!path.startsWith('/') || path.contains("..")) {
        SendStatus(socket, 404);
        return;
    }
    QFile file(Root_ + QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly)) {
        SendStatus(socket, 404);
        return;
    }
    const QByteArray body = file.readAll();
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void TLocalHttpServer::SendStatus(QTcpSocket* socket, int status) {
    const QByteArray body = "status " + QByteArray::number(status);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Failure\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}
