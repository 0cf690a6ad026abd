#include "tools/FakeRdapServer.h"

#include "tools/LoopbackServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// A request head longer than this is refused and the connection closed.
constexpr std::size_t KMaxHeadBytes = 16 << 10;
// A request body (never needed by RDAP) longer than this closes the connection.
constexpr std::size_t KMaxBodyBytes = 64 << 10;

struct TStatusText {
    int Status;
    const char* Text;
};

constexpr TStatusText KStatusTexts[] = {
    {200, "OK"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"},
    {503, "Service Unavailable"},
};

const char* StatusText(int status) {
    for (const auto& s : KStatusTexts) {
        if (s.Status == status) {
            return s.Text;
        }
    }
    return "Status";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Only plain names are looked up in the answers folder, so a request cannot
// reach files outside it.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string& out) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

TFakeRdapResponse JsonResponse(int status, std::string body) {
    TFakeRdapResponse response;
    response.Status = status;
    response.Headers.emplace_back("Content-Type", "application/rdap+json");
    response.Body = std::move(body);
    return response;
}

TFakeRdapResponse ErrorResponse(int status) {
    return JsonResponse(status, "{\"errorCode\":" + std::to_string(status) + ",\"title\":\"" +
                                    StatusText(status) + "\"}");
}

std::string SerializeResponse(const TFakeRdapResponse& response, bool close) {
    std::string out =
        "HTTP/1.1 " + std::to_string(response.Status) + " " + StatusText(response.Status) + "\r\n";
    for (const auto& [name, value] : response.Headers) {
        out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(response.Body.size()) + "\r\n";
    if (close) {
        out += "Connection: close\r\n";
    }
    out += "\r\n";
    out += response.Body;
    return out;
}

// What the server needs of one request head.
struct TRequestHead {
    std::string Method;
    std::string Path;
    std::string Accept;
    bool KeepAlive = true;
    std::size_t BodyBytes = 0;
    bool Valid = false;
};

TRequestHead ParseHead(const std::string& head) {
    TRequestHead request;
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = line.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) {
        return request;
    }
    request.Method = line.substr(0, sp1);
    request.Path = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = line.substr(sp2 + 1);
    request.KeepAlive = version == "HTTP/1.1";
    std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (at < head.size()) {
        std::size_t end = head.find("\r\n", at);
        if (end == std::string::npos) {
            end = head.size();
        }
        const std::string field = head.substr(at, end - at);
        at = end + 2;
        const std::size_t colon = field.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = Lower(Trimmed(field.substr(0, colon)));
        const std::string value = Lower(Trimmed(field.substr(colon + 1)));
        if (name == "accept") {
            request.Accept = Trimmed(field.substr(colon + 1));
        } else if (name == "connection") {
            request.KeepAlive =
                value.find("close") == std::string::npos &&
                (request.KeepAlive || value.find("keep-alive") != std::string::npos);
        } else if (name == "content-length") {
            request.BodyBytes = std::strtoull(value.c_str(), nullptr, 10);
        }
    }
    request.Valid = !request.Path.empty() && request.Path[0] == '/';
    return request;
}

// The client's name of the object: what follows the last "/domain/" of the
// path, before any query string.
std::optional<std::string> DomainOfPath(const std::string& path) {
    const std::string bare = path.substr(0, path.find_first_of("?#"));
    constexpr std::string_view marker = "/domain/";
    const std::size_t at = bare.rfind(marker);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return Lower(bare.substr(at + marker.size()));
}

// One side of a connection, plain or TLS, that gives up as soon as the
// server is told to stop.
class TLink {
public:
    TLink(int fd, SSL* ssl, int wakeFd) : FFd(fd), FSsl(ssl), FWake(wakeFd) {}

    // Waits for events on the socket; false when the server stops or the
    // deadline passes (timeoutMs < 0: no deadline).
    bool Wait(short events, int timeoutMs) {
        for (;;) {
            pollfd fds[2] = {{FWake, POLLIN, 0}, {FFd, events, 0}};
            const int n = poll(fds, 2, timeoutMs);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n > 0 && fds[0].revents == 0 && fds[1].revents != 0;
        }
    }

    // Sleeps ms unless the server stops first.
    bool Pause(int ms) {
        if (ms <= 0) {
            return true;
        }
        const auto deadline = TClock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            if (left.count() <= 0) {
                return true;
            }
            pollfd wake{FWake, POLLIN, 0};
            const int n = poll(&wake, 1, static_cast<int>(left.count()) + 1);
            if (n > 0) {
                return false;
            }
        }
    }

    // After a last answer to a client still sending: lets its bytes arrive
    // for a moment, so the close is a normal one and not a reset that could
    // destroy the answer before the client has read it.
    void DrainBriefly(int ms) {
        char buffer[4096];
        while (Wait(POLLIN, ms) && Receive(buffer, sizeof buffer) > 0) {
        }
    }

    bool Handshake() {
        for (;;) {
            const int rc = SSL_accept(FSsl);
            if (rc == 1) {
                return true;
            }
            if (!WaitForSsl(rc)) {
                return false;
            }
        }
    }

    // Bytes received (> 0), 0 when the peer closed, -1 on error or stop.
    long Receive(char* buffer, std::size_t size) {
        for (;;) {
            if (FSsl != nullptr) {
                const int n = SSL_read(FSsl, buffer, static_cast<int>(size));
                if (n > 0) {
                    return n;
                }
                const int error = SSL_get_error(FSsl, n);
                if (error == SSL_ERROR_ZERO_RETURN) {
                    return 0;
                }
                if (!WaitForSsl(n)) {
                    return error == SSL_ERROR_SYSCALL && errno == 0 ? 0 : -1;
                }
                continue;
            }
            const ssize_t n = recv(FFd, buffer, size, 0);
            if (n >= 0) {
                return n;
            }
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, -1)) {
                return -1;
            }
        }
    }

    bool SendAll(const std::string& data) {
        std::size_t at = 0;
        while (at < data.size()) {
            if (FSsl != nullptr) {
                const int n = SSL_write(FSsl, data.data() + at, static_cast<int>(data.size() - at));
                if (n > 0) {
                    at += static_cast<std::size_t>(n);
                } else if (!WaitForSsl(n)) {
                    return false;
                }
                continue;
            }
            const ssize_t n = send(FFd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (n > 0) {
                at += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT, -1)) {
                return false;
            }
        }
        return true;
    }

private:
    // After an SSL call returned rc: waits for what it needs; false when it
    // failed for good.
    bool WaitForSsl(int rc) {
        switch (SSL_get_error(FSsl, rc)) {
        case SSL_ERROR_WANT_READ:
            return Wait(POLLIN, -1);
        case SSL_ERROR_WANT_WRITE:
            return Wait(POLLOUT, -1);
        default:
            return false;
        }
    }

    int FFd;
    SSL* FSsl;
    int FWake;
};

struct TConnection : TServedConnection {};

// Requests a client has made in its current window.
struct TClientWindow {
    TClock::time_point Start;
    int Requests = 0;
};

} // namespace

struct TFakeRdapServer::TState {
    TFakeRdapOptions Options;
    std::string Error;
    TLoopbackServer Listener;
    bool Running = false;
    SSL_CTX* Tls = nullptr;

    mutable std::mutex LogMutex;
    std::vector<std::string> Requests;
    std::FILE* Log = nullptr;

    std::mutex LimitMutex;
    std::map<std::string, TClientWindow> Windows;

    std::atomic<int> RequestCount{0};

    explicit TState(TFakeRdapOptions options) : Options(std::move(options)) {}

    bool Fail(const std::string& what) {
        Error = what + ": " + std::strerror(errno);
        return false;
    }

    bool UsesTls() const { return !Options.CertFile.empty() && !Options.KeyFile.empty(); }
    bool LoadCertificate();

    void Serve(TConnection& conn);
    void ServeRequests(TLink& link, const std::string& client);
    bool ReadHead(TLink& link, std::string& pending, std::string& head);
    bool SkipBody(TLink& link, std::string& pending, std::size_t bytes);
    void Record(const std::string& path);
    std::optional<TFakeRdapResponse> OverLimit(const std::string& client);
    TFakeRdapResponse Answer(const TRequestHead& request) const;
    void StaySilent(TLink& link);
};

bool TFakeRdapServer::TState::LoadCertificate() {
    Tls = SSL_CTX_new(TLS_server_method());
    if (Tls == nullptr || SSL_CTX_use_certificate_chain_file(Tls, Options.CertFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(Tls, Options.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(Tls) != 1) {
        char text[256];
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        Error = "certificate " + Options.CertFile + " / " + Options.KeyFile + ": " + text;
        ERR_clear_error();
        return false;
    }
    return true;
}

void TFakeRdapServer::TState::Serve(TConnection& conn) {
    SSL* ssl = nullptr;
    if (Tls != nullptr) {
        ssl = SSL_new(Tls);
        if (ssl != nullptr) {
            SSL_set_fd(ssl, conn.Fd);
        }
    }
    TLink link(conn.Fd, ssl, Listener.WakeFd());
    if (Tls == nullptr || (ssl != nullptr && link.Handshake())) {
        ServeRequests(link, conn.Peer);
    }
    if (ssl != nullptr) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
        // OpenSSL keeps its error queue per thread; this thread ends here.
        ERR_clear_error();
    }
    close(conn.Fd);
    conn.Done = true;
}

// Answers requests one after the other on the connection until the client
// closes it, asks for the close, or the server stops.
void TFakeRdapServer::TState::ServeRequests(TLink& link, const std::string& client) {
    std::string pending;
    for (;;) {
        std::string head;
        if (!ReadHead(link, pending, head)) {
            if (pending.size() > KMaxHeadBytes &&
                link.SendAll(SerializeResponse(ErrorResponse(431), true))) {
                link.DrainBriefly(200);
            }
            return;
        }
        const TRequestHead request = ParseHead(head);
        ++RequestCount;
        Record(request.Path);
        if (!SkipBody(link, pending, request.BodyBytes)) {
            return;
        }
        if (Options.Mode == TFakeRdapMode::Silent) {
            return StaySilent(link);
        }
        if (!link.Pause(Options.LatencyMs)) {
            return;
        }
        TFakeRdapResponse response;
        if (!request.Valid) {
            response = ErrorResponse(400);
        } else if (auto limited = OverLimit(client)) {
            response = std::move(*limited);
        } else if (Options.Mode == TFakeRdapMode::Error) {
            response = ErrorResponse(500);
        } else {
            response = Answer(request);
        }
        const bool close = !request.Valid || !request.KeepAlive;
        if (request.Method == "HEAD") {
            const std::size_t bytes = response.Body.size();
            std::string head = SerializeResponse(response, close);
            head.resize(head.size() - bytes);
            if (!link.SendAll(head)) {
                return;
            }
        } else if (!link.SendAll(SerializeResponse(response, close))) {
            return;
        }
        if (close) {
            return;
        }
    }
}

bool TFakeRdapServer::TState::ReadHead(TLink& link, std::string& pending, std::string& head) {
    char buffer[4096];
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = pending.substr(0, end);
            pending.erase(0, end + 4);
            return true;
        }
        if (pending.size() > KMaxHeadBytes) {
            return false;
        }
        const long n = link.Receive(buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

bool TFakeRdapServer::TState::SkipBody(TLink& link, std::string& pending, std::size_t bytes) {
    if (bytes > KMaxBodyBytes) {
        return false;
    }
    char buffer[4096];
    while (pending.size() < bytes) {
        const long n = link.Receive(buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
    pending.erase(0, bytes);
    return true;
}

void TFakeRdapServer::TState::Record(const std::string& path) {
    std::lock_guard lock(LogMutex);
    if (Options.KeepRequests) {
        Requests.push_back(path);
    }
    if (Log != nullptr) {
        std::fprintf(Log, "%s\n", path.c_str());
        std::fflush(Log);
    }
}

std::optional<TFakeRdapResponse> TFakeRdapServer::TState::OverLimit(const std::string& client) {
    if (Options.LimitRequests <= 0) {
        return std::nullopt;
    }
    const auto window = std::chrono::milliseconds(std::max(Options.LimitWindowMs, 1));
    const auto now = TClock::now();
    std::lock_guard lock(LimitMutex);
    TClientWindow& w = Windows[client];
    if (w.Requests == 0 || now - w.Start >= window) {
        w.Start = now;
        w.Requests = 0;
    }
    if (++w.Requests <= Options.LimitRequests) {
        return std::nullopt;
    }
    std::string retryAfter = Options.RetryAfter;
    if (retryAfter.empty()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(w.Start + window - now);
        retryAfter = std::to_string((left.count() + 999) / 1000);
    }
    TFakeRdapResponse response = ErrorResponse(429);
    response.Headers.emplace_back("Retry-After", retryAfter);
    return response;
}

TFakeRdapResponse TFakeRdapServer::TState::Answer(const TRequestHead& request) const {
    if (Options.Responder) {
        if (auto answer = Options.Responder({request.Method, request.Path, request.Accept})) {
            return std::move(*answer);
        }
    }
    if (request.Method != "GET" && request.Method != "HEAD") {
        return ErrorResponse(405);
    }
    const auto name = DomainOfPath(request.Path);
    if (!name) {
        return ErrorResponse(400);
    }
    std::string body;
    if (!Options.AnswersDir.empty() && IsPlainFileName(*name)) {
        const std::filesystem::path dir(Options.AnswersDir);
        if (ReadRegularFile(dir / (*name + ".json"), body) || ReadRegularFile(dir / *name, body)) {
            return JsonResponse(200, std::move(body));
        }
    }
    return ErrorResponse(404);
}

// Silence: nothing is ever sent; what the client sends is read and dropped
// until it closes or the server stops.
void TFakeRdapServer::TState::StaySilent(TLink& link) {
    char buffer[4096];
    while (link.Receive(buffer, sizeof buffer) > 0) {
    }
}

TFakeRdapServer::TFakeRdapServer(TFakeRdapOptions options)
    : FState(std::make_unique<TState>(std::move(options))) {}

TFakeRdapServer::~TFakeRdapServer() {
    Stop();
}

bool TFakeRdapServer::Start() {
    TState& s = *FState;
    if (s.Running) {
        s.Error = "already started";
        return false;
    }
    s.Error.clear();
    s.Running = true; // so Stop() cleans up whatever a failed start left
    bool ok =
        s.Options.LogFile.empty() || (s.Log = OpenServerLog(s.Options.LogFile, s.Error)) != nullptr;
    ok = ok && (!s.UsesTls() || s.LoadCertificate());
    if (ok &&
        !(s.Listener.Listen(s.Options.Host, s.Options.Port, SOMAXCONN) &&
          s.Listener.Accept(
              {.Make = [] { return std::make_shared<TConnection>(); },
               .Serve = [&s](TServedConnection& conn) { s.Serve(static_cast<TConnection&>(conn)); },
               .Opened = {},
               .NotStarted = {}}))) {
        s.Error = s.Listener.Error();
        ok = false;
    }
    if (!ok) {
        const std::string error = s.Error;
        Stop();
        s.Error = error;
    }
    return ok;
}

void TFakeRdapServer::Stop() {
    TState& s = *FState;
    if (!s.Running) {
        return;
    }
    s.Listener.Stop();
    if (s.Tls != nullptr) {
        SSL_CTX_free(s.Tls);
        s.Tls = nullptr;
    }
    if (s.Log != nullptr) {
        std::fclose(s.Log);
        s.Log = nullptr;
    }
    s.Running = false;
}

int TFakeRdapServer::Port() const {
    return FState->Listener.Port();
}

std::string TFakeRdapServer::Address() const {
    return FState->Options.Host + ":" + std::to_string(FState->Listener.Port());
}

std::string TFakeRdapServer::BaseUrl() const {
    return std::string(FState->UsesTls() ? "https://" : "http://") + Address() + "/";
}

const std::string& TFakeRdapServer::Error() const {
    return FState->Error;
}

std::vector<std::string> TFakeRdapServer::Requests() const {
    std::lock_guard lock(FState->LogMutex);
    return FState->Requests;
}

int TFakeRdapServer::AcceptedCount() const {
    return FState->Listener.AcceptedCount();
}

int TFakeRdapServer::RequestCount() const {
    return FState->RequestCount.load();
}
