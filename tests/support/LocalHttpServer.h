#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests of the program's HTTP
// requests (the updater's check and run, and start-up): serves the
// files of one folder, records every request, and misbehaves on request for
// chosen paths (an error status, a delay, silence, a cut connection). With
// StartTls it speaks HTTPS instead, with the certificate it is given.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

struct TRecordedRequest {
    QByteArray Method;
    QByteArray Path;                      // percent-decoded
    QByteArray RawPath;                   // as the request line wrote it
    QMap<QByteArray, QByteArray> Headers; // names in lower case
};

class TLocalHttpServer : public QObject {
    Q_OBJECT
public:
    // Drip: announces a large body and sends one byte every DelayMs.
    // Answer: Respond writes whatever it likes on the socket and ends the
    // connection its own way; attempt counts the requests of that path, from 1.
    enum class Mode { Serve, Status, Delay, Silent, Cut, Drip, Answer };
    struct Behaviour {
        Mode Kind = Mode::Serve;
        int Status = 200;                                                  // for Mode::Status
        int DelayMs = 0;                                                   // for Mode::Delay
        std::function<void(QTcpSocket& socket, int attempt)> Respond = {}; // for Mode::Answer
    };

    explicit TLocalHttpServer(QString rootFolder, QObject* parent = nullptr);

    bool Start(); // on a free loopback port
    // The same over TLS, with a PEM certificate (for 127.0.0.1) and its key.
    bool StartTls(const QString& certificateFile, const QString& keyFile);
    quint16 Port() const { return Server_ ? Server_->serverPort() : 0; }
    QString BaseUrl() const; // "http://127.0.0.1:PORT", or "https://…" over TLS

    void SetBehaviour(const QByteArray& path, Behaviour behaviour) {
        Behaviours_[path] = behaviour;
    }
    const std::vector<TRecordedRequest>& Requests() const { return Requests_; }
    bool WasRequested(const QByteArray& path) const;

private:
    bool Listen(std::unique_ptr<QTcpServer> server);
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void Answer(QTcpSocket* socket, const TRecordedRequest& request);
    void SendFile(QTcpSocket* socket, const QByteArray& path);
    void SendStatus(QTcpSocket* socket, int status);

    QString Root_;
    std::unique_ptr<QTcpServer> Server_;
    bool Tls_ = false;
    QMap<QByteArray, Behaviour> Behaviours_;
    QMap<QByteArray, int> Attempts_;
    std::vector<TRecordedRequest> Requests_;
};
