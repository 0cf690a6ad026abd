#include "updater/HttpGet.h"

#include "engine/ProxyConnect.h"

#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QTimer>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// As many redirects as the updater followed before it used libcurl.
constexpr long kMaxRedirects = 50;
// How long a body that reached its Content-Length waits for the close the
// request asked for: a byte in that time makes the body longer than
// announced, while a server that keeps the connection open anyway is taken
// at its word once the time has passed.
constexpr int kTailMs = 1000;

// Serves one libcurl multi handle from the calling thread's event loop: a
// notifier for each socket libcurl watches, a timer for the wake-up it asks
// for. Everything libcurl calls back runs on this thread, inside that loop.
class TCurlPump {
public:
    explicit TCurlPump(std::function<void(CURLcode)> onDone)
        : Multi_(curl_multi_init()), OnDone_(std::move(onDone)) {
        Timer_.setSingleShot(true);
        QObject::connect(&Timer_, &QTimer::timeout, &Timer_,
                         [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
        if (Multi_ == nullptr)
            return;
        curl_multi_setopt(Multi_, CURLMOPT_SOCKETFUNCTION, &TCurlPump::OnSocket);
        curl_multi_setopt(Multi_, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(Multi_, CURLMOPT_TIMERFUNCTION, &TCurlPump::OnTimer);
        curl_multi_setopt(Multi_, CURLMOPT_TIMERDATA, this);
    }
    // The cleanup may still call back, so the notifiers and the timer go after it.
    ~TCurlPump() {
        if (Multi_ != nullptr)
            curl_multi_cleanup(Multi_);
    }
    TCurlPump(const TCurlPump&) = delete;
    TCurlPump& operator=(const TCurlPump&) = delete;

    CURLM* Multi() const { return Multi_; }

private:
    struct TWatch {
        std::unique_ptr<QSocketNotifier> Read;
        std::unique_ptr<QSocketNotifier> Write;
    };

    static int OnSocket(CURL*, curl_socket_t socket, int what, void* user, void*) {
        auto* self = static_cast<TCurlPump*>(user);
        if (what == CURL_POLL_REMOVE) {
            self->Retire(socket);
            return 0;
        }
        TWatch& watch = self->Watches_[socket];
        if (!watch.Read) {
            watch.Read = self->Notifier(socket, QSocketNotifier::Read, CURL_CSELECT_IN);
            watch.Write = self->Notifier(socket, QSocketNotifier::Write, CURL_CSELECT_OUT);
        }
        watch.Read->setEnabled((what & CURL_POLL_IN) != 0);
        watch.Write->setEnabled((what & CURL_POLL_OUT) != 0);
        return 0;
    }

    static int OnTimer(CURLM*, long ms, void* user) {
        auto* self = static_cast<TCurlPump*>(user);
        if (ms < 0)
            self->Timer_.stop();
        else
            self->Timer_.start(static_cast<int>(std::min<long>(ms, INT_MAX)));
        return 0;
    }

    std::unique_ptr<QSocketNotifier> Notifier(curl_socket_t socket, QSocketNotifier::Type type,
                                              int events) {
        auto notifier = std::make_unique<QSocketNotifier>(socket, type);
        notifier->setEnabled(false);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [this, socket, events] { Act(socket, events); });
        return notifier;
    }

    // libcurl may drop a socket from inside that socket's own notification,
    // where its notifier must not be deleted: it is only silenced until the end.
    void Retire(curl_socket_t socket) {
        const auto it = Watches_.find(socket);
        if (it == Watches_.end())
            return;
        for (std::unique_ptr<QSocketNotifier>* notifier : {&it->second.Read, &it->second.Write}) {
            (*notifier)->setEnabled(false);
            Retired_.push_back(std::move(*notifier));
        }
        Watches_.erase(it);
    }

    void Act(curl_socket_t socket, int events) {
        int running = 0;
        curl_multi_socket_action(Multi_, socket, events, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(Multi_, &left))
            if (message->msg == CURLMSG_DONE)
                OnDone_(message->data.result);
    }

    QTimer Timer_;
    std::map<curl_socket_t, TWatch> Watches_;
    std::vector<std::unique_ptr<QSocketNotifier>> Retired_;
    CURLM* Multi_;
    std::function<void(CURLcode)> OnDone_;
};

// What one download went through; libcurl's callbacks fill it in.
struct TDownload {
    TDownload(const THttpRequest& request, QSaveFile& file) : Request(request), File(file) {}

    const THttpRequest& Request;
    QSaveFile& File;
    CURL* Easy = nullptr;
    QEventLoop Loop;
    QTimer Idle;                  // no byte for Bounds.IdleMs
    QTimer Whole;                 // Bounds.WholeMs
    QTimer Tail;                  // the quiet after a body of its announced length
    std::optional<CURLcode> Done; // libcurl ended the transfer so
    bool TakenWhole = false;      // the tail passed with nothing more
    QString Failure;              // our own reason to end it; the first one stands
    bool TooLarge = false;
    long Status = 0; // of the answer whose body is stored; 0 before its head ended
    std::optional<std::int64_t> Announced; // its Content-Length
    bool Chunked = false;
    std::int64_t Written = 0;
    long Requests = 0;
    bool ReachedHttps = false;

    void Fail(const QString& why) {
        if (Failure.isEmpty())
            Failure = why;
        Loop.quit();
    }
    void StartTail() {
        Idle.stop();
        Tail.start();
    }
};

// The comma-separated values of every header of that name in the answer
// being read, trimmed and in lower case.
QList<QByteArray> HeaderTokens(CURL* easy, const char* name) {
    QList<QByteArray> tokens;
    curl_header* header = nullptr;
    for (std::size_t i = 0; curl_easy_header(easy, name, i, CURLH_HEADER, -1, &header) == CURLHE_OK;
         ++i) {
        for (const QByteArray& token : QByteArray(header->value).split(','))
            tokens.push_back(token.trimmed().toLower());
        if (i + 1 >= header->amount)
            break;
    }
    return tokens;
}

// The length Content-Length values give, when they are one number of bytes.
std::optional<std::int64_t> ByteCount(const QList<QByteArray>& values) {
    std::optional<std::int64_t> count;
    for (const QByteArray& value : values) {
        std::int64_t n = 0;
        const char* end = value.constData() + value.size();
        if (value.isEmpty() || value.size() > 18 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::from_chars(value.constData(), end, n).ptr != end || (count && *count != n))
            return std::nullopt;
        count = n;
    }
    return count;
}

// At the end of an answer's head: the final answer's framing is read and
// held against the size bound. False ends the transfer.
bool HeadEnded(TDownload& d) {
    long status = 0;
    curl_easy_getinfo(d.Easy, CURLINFO_RESPONSE_CODE, &status);
    // An interim answer, or a redirection libcurl follows; a redirection it
    // does not follow fails as soon as a byte of its body or its end comes.
    if (status / 100 == 1 || status / 100 == 3)
        return true;
    d.Status = status;
    if (status / 100 != 2) {
        d.Fail(QStringLiteral("the server answered %1").arg(status));
        return false;
    }
    d.Chunked = HeaderTokens(d.Easy, "Transfer-Encoding").contains("chunked");
    const QList<QByteArray> lengths = HeaderTokens(d.Easy, "Content-Length");
    if (lengths.isEmpty())
        return true;
    if (d.Chunked) {
        d.Fail(QStringLiteral("the answer is chunked and gives a Content-Length as well"));
        return false;
    }
    d.Announced = ByteCount(lengths);
    if (!d.Announced) {
        d.Fail(QStringLiteral("the Content-Length \"%1\" is not one number of bytes")
                   .arg(QString::fromLatin1(lengths.join(", "))));
        return false;
    }
    if (d.Request.Bounds.MaxBytes >= 0 && *d.Announced > d.Request.Bounds.MaxBytes) {
        d.TooLarge = true;
        d.Fail(QStringLiteral("the download is larger than its size bound"));
        return false;
    }
    if (*d.Announced == 0)
        d.StartTail();
    return true;
}

// libcurl's callbacks: nothing may be thrown through them.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& d = *static_cast<TDownload*>(user);
    const std::size_t bytes = size * count;
    d.Idle.start();
    if (!d.Failure.isEmpty())
        return 0;
    // Only the empty line that ends a head matters here.
    if (!QByteArray::fromRawData(data, static_cast<qsizetype>(bytes)).trimmed().isEmpty())
        return bytes;
    return HeadEnded(d) ? bytes : 0;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& d = *static_cast<TDownload*>(user);
    const std::size_t bytes = size * count;
    d.Idle.start();
    if (!d.Failure.isEmpty())
        return 0;
    if (d.Status / 100 != 2) {
        long status = 0;
        curl_easy_getinfo(d.Easy, CURLINFO_RESPONSE_CODE, &status);
        d.Fail(QStringLiteral("the server answered %1").arg(status));
        return 0;
    }
    const std::int64_t total = d.Written + static_cast<std::int64_t>(bytes);
    if (d.Announced && total > *d.Announced) {
        d.Fail(QStringLiteral("more than the %1 bytes its Content-Length announced arrived")
                   .arg(*d.Announced));
        return 0;
    }
    if (d.Request.Bounds.MaxBytes >= 0 && total > d.Request.Bounds.MaxBytes) {
        d.TooLarge = true;
        d.Fail(QStringLiteral("the download is larger than its size bound"));
        return 0;
    }
    if (d.File.write(data, static_cast<qint64>(bytes)) != static_cast<qint64>(bytes)) {
        d.Fail(d.File.errorString());
        return 0;
    }
    d.Written = total;
    if (d.Request.OnProgress)
        d.Request.OnProgress(d.Written, d.Announced.value_or(-1));
    if (d.Announced && d.Written == *d.Announced)
        d.StartTail();
    return bytes;
}

// Before every request libcurl sends: one for the address and one for each
// redirect, never one again, and never from https back to http.
int OnRequest(void* user, char*, char*, int, int) {
    auto& d = *static_cast<TDownload*>(user);
    long redirects = 0;
    curl_easy_getinfo(d.Easy, CURLINFO_REDIRECT_COUNT, &redirects);
    if (++d.Requests > redirects + 1) {
        d.Fail(QStringLiteral("the request was sent again"));
        return CURL_PREREQFUNC_ABORT;
    }
    char* url = nullptr;
    curl_easy_getinfo(d.Easy, CURLINFO_EFFECTIVE_URL, &url);
    const bool https = url != nullptr && qstrnicmp(url, "https:", 6) == 0;
    if (d.ReachedHttps && !https) {
        d.Fail(QStringLiteral("a redirect from https to %1 was refused")
                   .arg(QString::fromUtf8(url != nullptr ? url : "")));
        return CURL_PREREQFUNC_ABORT;
    }
    d.ReachedHttps = d.ReachedHttps || https;
    return CURL_PREREQFUNC_OK;
}

// Adds the authorities of a file to the store libcurl set up, which keeps
// the system's as they are.
CURLcode AddAuthorities(CURL*, void* sslContext, void* caFile) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    const auto* file = static_cast<const std::string*>(caFile);
    const bool ok = store != nullptr && X509_STORE_load_file(store, file->c_str()) == 1;
    ERR_clear_error();
    return ok ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

// The file of authorities TAVIREL_UPDATE_CA_FILE adds, "" when none; nothing
// when it holds no certificate, with why in error.
std::optional<std::string> AddedAuthorities(QString& error) {
    const QString caFile = qEnvironmentVariable("TAVIREL_UPDATE_CA_FILE");
    if (caFile.isEmpty())
        return std::string();
    if (QSslCertificate::fromPath(caFile, QSsl::Pem).isEmpty()) {
        error = QStringLiteral("TAVIREL_UPDATE_CA_FILE (%1) holds no PEM certificate").arg(caFile);
        return std::nullopt;
    }
    return QFile::encodeName(caFile).toStdString();
}

// The request's own headers after the ones every download sends: the body
// is stored as it comes, so that its length can be held against its
// Content-Length, and the server closes after it, so that whatever it
// sends past that length is seen.
curl_slist* RequestHeaders(const THttpRequest& request) {
    curl_slist* list = nullptr;
    auto add = [&list](const QByteArray& line) {
        curl_slist* longer = curl_slist_append(list, line.constData());
        if (longer == nullptr)
            curl_slist_free_all(list);
        list = longer;
        return longer != nullptr;
    };
    if (!add("Accept-Encoding: identity") || !add("Connection: close"))
        return nullptr;
    for (const auto& [name, value] : request.Headers)
        if (!add(name + ": " + value))
            return nullptr;
    return list;
}

void SetOptions(CURL* easy, const QByteArray& url, bool https, curl_slist* headers,
                const std::string& caFile, TDownload& d, char* errorBuffer) {
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // From https on, every hop is https; libcurl refuses before it connects.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A connection of its own for every request, closed after it: libcurl
    // then never sends a request again on a fresh connection.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    // libcurl stops reading at Content-Length and drops what follows unseen;
    // read to the close instead and count (OnBody).
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &d);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &d);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &OnRequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &d);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    if (!caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &AddAuthorities);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &caFile);
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
}

// Why libcurl ended the transfer, in the words that say most.
QString TransferFailure(CURLcode code, const TDownload& d, const char* errorBuffer) {
    long osError = 0;
    curl_easy_getinfo(d.Easy, CURLINFO_OS_ERRNO, &osError);
    if (osError == ECONNRESET)
        return QStringLiteral("the connection was reset after %1 bytes of the body").arg(d.Written);
    if (code == CURLE_PARTIAL_FILE && d.Chunked)
        return QStringLiteral("the chunked body ended without its last chunk, after %1 bytes")
            .arg(d.Written);
    if (code == CURLE_GOT_NOTHING)
        return QStringLiteral("the server closed the connection without an answer");
    // libcurl has taken the refused address for the transfer's own by then.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && d.ReachedHttps) {
        char* refused = nullptr;
        curl_easy_getinfo(d.Easy, CURLINFO_EFFECTIVE_URL, &refused);
        return QStringLiteral("a redirect from https to %1 was refused")
            .arg(QString::fromUtf8(refused != nullptr ? refused : "another scheme"));
    }
    return QString::fromUtf8(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code));
}

// Why a transfer that libcurl ended well (or that was taken whole) is no
// whole body after all; empty when it is one.
QString BodyFailure(const TDownload& d) {
    if (d.Status / 100 != 2) {
        long status = 0;
        curl_easy_getinfo(d.Easy, CURLINFO_RESPONSE_CODE, &status);
        return QStringLiteral("the server answered %1").arg(status);
    }
    if (d.Announced && d.Written != *d.Announced)
        return QStringLiteral("the connection closed after %1 of %2 bytes")
            .arg(d.Written)
            .arg(*d.Announced);
    return {};
}

} // namespace

THttpResult HttpGetToFile(const THttpRequest& request, const QString& targetPath) {
    const QString scheme = request.Url.scheme().toLower();
    const bool https = scheme == QLatin1String("https");
    if (!https && scheme != QLatin1String("http"))
        return {false, QStringLiteral("only http and https addresses are downloaded, not %1")
                           .arg(request.Url.toDisplayString())};
    // A plain address may still redirect to https, where the added
    // authorities count too; only an https one needs them at once.
    QString error;
    const std::optional<std::string> added = AddedAuthorities(error);
    if (!added && https)
        return {false, error};
    const std::string caFile = added.value_or(std::string());
    QSaveFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly))
        return {false, file.errorString()};

    InitCurlOnce();
    TDownload d(request, file);
    TCurlPump pump([&d](CURLcode code) {
        d.Done = code;
        d.Loop.quit();
    });
    const std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), &curl_easy_cleanup);
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(RequestHeaders(request),
                                                                     &curl_slist_free_all);
    char errorBuffer[CURL_ERROR_SIZE] = "";
    if (pump.Multi() == nullptr || !easy || !headers) {
        file.cancelWriting();
        return {false, QStringLiteral("libcurl could not start the download")};
    }
    d.Easy = easy.get();
    const QByteArray url = request.Url.toEncoded();
    SetOptions(easy.get(), url, https, headers.get(), caFile, d, errorBuffer);

    for (QTimer* timer : {&d.Idle, &d.Whole, &d.Tail})
        timer->setSingleShot(true);
    QObject::connect(&d.Idle, &QTimer::timeout, &d.Loop, [&d] {
        d.Fail(QStringLiteral("nothing arrived for %1 ms").arg(d.Request.Bounds.IdleMs));
    });
    QObject::connect(&d.Whole, &QTimer::timeout, &d.Loop, [&d] {
        d.Fail(QStringLiteral("the download took longer than its time bound"));
    });
    QObject::connect(&d.Tail, &QTimer::timeout, &d.Loop, [&d] {
        d.TakenWhole = true;
        d.Loop.quit();
    });
    d.Idle.setInterval(request.Bounds.IdleMs);
    d.Tail.setInterval(std::min(kTailMs, request.Bounds.IdleMs));

    if (curl_multi_add_handle(pump.Multi(), easy.get()) != CURLM_OK) {
        file.cancelWriting();
        return {false, QStringLiteral("libcurl could not start the download")};
    }
    if (request.OnStarted)
        request.OnStarted([&d] { d.Fail(QStringLiteral("the download was aborted")); });
    d.Whole.start(request.Bounds.WholeMs);
    d.Idle.start();
    if (d.Failure.isEmpty())
        d.Loop.exec();
    curl_multi_remove_handle(pump.Multi(), easy.get());

    QString failure = d.Failure;
    if (failure.isEmpty() && !d.TakenWhole && !d.Done)
        failure = QStringLiteral("the download ended unfinished");
    if (failure.isEmpty() && !d.TakenWhole && *d.Done != CURLE_OK)
        failure = TransferFailure(*d.Done, d, errorBuffer);
    if (failure.isEmpty())
        failure = BodyFailure(d);
    if (!failure.isEmpty()) {
        file.cancelWriting();
        return {false, failure, d.TooLarge};
    }
    if (!file.commit())
        return {false, file.errorString()};
    return {true, {}};
}
