#include "updater/HttpGet.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

// Why a reply failed, in the order the causes are most telling.
QString FailureText(const QNetworkReply& reply, bool wholeBoundStruck, bool tooLarge,
                    const QString& writeError) {
    if (wholeBoundStruck)
        return QStringLiteral("the download took longer than its time bound");
    if (tooLarge)
        return QStringLiteral("the download is larger than its size bound");
    if (!writeError.isEmpty())
        return writeError;
    return reply.errorString();
}

// The trust an HTTPS request is checked against; none when the authorities
// the environment adds cannot be read, with why in error.
std::optional<QSslConfiguration> TlsConfiguration(QString& error) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString caFile = qEnvironmentVariable("TAVIREL_UPDATE_CA_FILE");
    if (caFile.isEmpty())
        return configuration;
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (authorities.isEmpty()) {
        error = QStringLiteral("TAVIREL_UPDATE_CA_FILE (%1) holds no PEM certificate").arg(caFile);
        return std::nullopt;
    }
    configuration.addCaCertificates(authorities);
    return configuration;
}

} // namespace

THttpResult HttpGetToFile(QNetworkAccessManager& manager, const THttpRequest& request,
                          const QString& targetPath) {
    QSaveFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly))
        return {false, file.errorString()};

    QNetworkRequest netRequest(request.Url);
    if (request.Url.scheme() == QLatin1String("https")) {
        QString error;
        const std::optional<QSslConfiguration> tls = TlsConfiguration(error);
        if (!tls)
            return {false, error};
        netRequest.setSslConfiguration(*tls);
    }
    netRequest.setTransferTimeout(request.Bounds.IdleMs);
    netRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                            QNetworkRequest::NoLessSafeRedirectPolicy);
    for (const auto& [name, value] : request.Headers)
        netRequest.setRawHeader(name, value);

    std::unique_ptr<QNetworkReply> reply(manager.get(netRequest));
    if (request.OnStarted)
        request.OnStarted(reply.get());

    bool wholeBoundStruck = false;
    bool tooLarge = false;
    QString writeError;
    std::int64_t written = 0;

    QEventLoop loop;
    QTimer wholeBound;
    wholeBound.setSingleShot(true);
    QObject::connect(&wholeBound, &QTimer::timeout, reply.get(), [&] {
        wholeBoundStruck = true;
        reply->abort();
    });
    auto drain = [&] {
        const QByteArray data = reply->readAll();
        if (data.isEmpty() || !writeError.isEmpty() || tooLarge)
            return;
        written += data.size();
        if (request.Bounds.MaxBytes >= 0 && written > request.Bounds.MaxBytes) {
            tooLarge = true;
            reply->abort();
            return;
        }
        if (file.write(data) != data.size()) {
            writeError = file.errorString();
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QIODevice::readyRead, reply.get(), drain);
    if (request.OnProgress)
        QObject::connect(
            reply.get(), &QNetworkReply::downloadProgress, reply.get(),
            [&](qint64 received, qint64 total) { request.OnProgress(received, total); });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    wholeBound.start(request.Bounds.WholeMs);
    if (!reply->isFinished())
        loop.exec();
    wholeBound.stop();
    drain();

    const bool failed = reply->error() != QNetworkReply::NoError || wholeBoundStruck || tooLarge ||
                        !writeError.isEmpty();
    if (failed) {
        file.cancelWriting();
        return {false, FailureText(*reply, wholeBoundStruck, tooLarge, writeError)};
    }
    if (!file.commit())
        return {false, file.errorString()};
    return {true, {}};
}
