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

// What one request went through, besides what the reply itself says.
struct TBodyState {
    bool WholeBoundStruck = false;
    bool TooLarge = false;
    // The request went out again after an answer had begun: Qt then appends
    // the new answer's body to what the old one delivered.
    bool Resent = false;
    bool AnswerBegun = false;
    QString WriteError;
    std::int64_t Written = 0;
};

// Why a reply failed, in the order the causes are most telling.
QString FailureText(const QNetworkReply& reply, const TBodyState& state) {
    if (state.WholeBoundStruck)
        return QStringLiteral("the download took longer than its time bound");
    if (state.TooLarge)
        return QStringLiteral("the download is larger than its size bound");
    if (state.Resent)
        return QStringLiteral("the request was sent again after its answer had begun");
    if (!state.WriteError.isEmpty())
        return state.WriteError;
    return reply.errorString();
}

// The announced length, when the answer gave one.
std::optional<std::int64_t> AnnouncedLength(const QNetworkReply& reply) {
    if (!reply.hasRawHeader("Content-Length"))
        return std::nullopt;
    bool ok = false;
    const qlonglong length = reply.rawHeader("Content-Length").trimmed().toLongLong(&ok);
    if (!ok || length < 0)
        return -1; // unreadable: no body can match it
    return length;
}

// A body that does not match its Content-Length is a cut-off (or spliced)
// download, whatever the transport made of it; why, or empty when it matches.
QString LengthMismatch(const QNetworkReply& reply, std::int64_t written) {
    const std::optional<std::int64_t> announced = AnnouncedLength(reply);
    if (!announced || *announced == written)
        return {};
    return QStringLiteral("the body has %1 bytes, its Content-Length announced %2")
        .arg(written)
        .arg(*announced);
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
    // The body is stored as it comes, so that its length can be held
    // against its Content-Length; a request may still ask otherwise.
    netRequest.setRawHeader("Accept-Encoding", "identity");
    for (const auto& [name, value] : request.Headers)
        netRequest.setRawHeader(name, value);

    std::unique_ptr<QNetworkReply> reply(manager.get(netRequest));
    if (request.OnStarted)
        request.OnStarted(reply.get());

    TBodyState state;
    QEventLoop loop;
    QTimer wholeBound;
    wholeBound.setSingleShot(true);
    QObject::connect(&wholeBound, &QTimer::timeout, reply.get(), [&] {
        state.WholeBoundStruck = true;
        reply->abort();
    });
    auto drain = [&] {
        const QByteArray data = reply->readAll();
        if (data.isEmpty() || !state.WriteError.isEmpty() || state.TooLarge || state.Resent)
            return;
        state.AnswerBegun = true;
        state.Written += data.size();
        if (request.Bounds.MaxBytes >= 0 && state.Written > request.Bounds.MaxBytes) {
            state.TooLarge = true;
            reply->abort();
            return;
        }
        if (file.write(data) != data.size()) {
            state.WriteError = file.errorString();
            reply->abort();
        }
    };
    // An announced length above the bound fails before a byte is written.
    auto checkHead = [&] {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() / 100 == 3)
            return; // a redirection's head; the next answer is the one that counts
        if (state.AnswerBegun) {
            state.Resent = true;
            reply->abort();
            return;
        }
        state.AnswerBegun = true;
        const std::optional<std::int64_t> announced = AnnouncedLength(*reply);
        if (announced && request.Bounds.MaxBytes >= 0 && *announced > request.Bounds.MaxBytes) {
            state.TooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, reply.get(), checkHead);
    QObject::connect(reply.get(), &QNetworkReply::requestSent, reply.get(), [&] {
        if (state.AnswerBegun && !state.Resent) {
            state.Resent = true;
            reply->abort();
        }
    });
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

    const bool failed = reply->error() != QNetworkReply::NoError || state.WholeBoundStruck ||
                        state.TooLarge || state.Resent || !state.WriteError.isEmpty();
    if (failed) {
        file.cancelWriting();
        return {false, FailureText(*reply, state), state.TooLarge};
    }
    if (const QString mismatch = LengthMismatch(*reply, state.Written); !mismatch.isEmpty()) {
        file.cancelWriting();
        return {false, mismatch};
    }
    if (!file.commit())
        return {false, file.errorString()};
    return {true, {}};
}
