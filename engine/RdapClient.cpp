#include "engine/RdapClient.h"

#include "engine/ProxyConnect.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* KAcceptHeader = "Accept: application/rdap+json";
constexpr const char* KUserAgent = "TavirelBrisvane/1.0";
// Idle connections kept per server beyond what a batch runs at once are closed.
constexpr std::size_t KMaxIdlePerServer = 64;
// An A-label query name longer than this is no domain name.
constexpr std::size_t KMaxNameBytes = 253;
constexpr std::size_t KMaxLabelBytes = 63;

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return out;
}

std::string Seconds(std::chrono::milliseconds bound) {
    const long long ms = bound.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string WithSlash(std::string base) {
    if (base.empty() || base.back() != '/') {
        base += '/';
    }
    return base;
}

// The pieces of a URL a hop is judged by.
struct TUrlParts {
    std::string Scheme; // lower case
    std::string Host;   // as libcurl gives it
    long Port = 0;      // the scheme's default when the URL names none
    bool HasUserInfo = false;

    std::string Origin() const {
        return Scheme + "://" + LowerAscii(Host) + ":" + std::to_string(Port);
    }
};

std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string out(text);
    curl_free(text);
    return out;
}

std::optional<TUrlParts> ParseUrl(const std::string& text) {
    CURLU* url = curl_url();
    if (url == nullptr) {
        return std::nullopt;
    }
    std::optional<TUrlParts> parts;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        TUrlParts p;
        p.Scheme = LowerAscii(UrlPart(url, CURLUPART_SCHEME));
        p.Host = UrlPart(url, CURLUPART_HOST);
        p.Port = std::strtol(UrlPart(url, CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str(), nullptr, 10);
        p.HasUserInfo = !UrlPart(url, CURLUPART_USER).empty();
        if ((p.Scheme == "http" || p.Scheme == "https") && !p.Host.empty()) {
            parts = std::move(p);
        }
    }
    curl_url_cleanup(url);
    return parts;
}

// Letters, digits and hyphens in dot-separated labels: anything else (a
// slash, a query, a U-label) must not reach the URL.
bool IsALabelName(std::string_view name) {
    if (name.empty() || name.size() > KMaxNameBytes) {
        return false;
    }
    std::size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        const bool ldh =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ldh || ++label > KMaxLabelBytes) {
            return false;
        }
    }
    return label > 0;
}

bool IsReadableFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Why a hop may not be made ("redirect to URL", "RDAP base URL"), or "" when
// it may. Plain http and other ports are for the override's own server only;
// https elsewhere on its standard port, and only to a host the guard admits.
std::string HopRefusal(const std::string& hop, const std::string& target,
                       const std::optional<TUrlParts>& parts,
                       const std::optional<TUrlParts>& override, const TRdapHostGuard& guard) {
    if (!parts) {
        return hop + " \"" + target + "\" refused: not an http(s) URL";
    }
    const std::string refused = hop + " " + target + " refused: ";
    if (parts->HasUserInfo) {
        return refused + "it carries a user name";
    }
    const bool overrideOrigin = override && override->Origin() == parts->Origin();
    if (!overrideOrigin && parts->Scheme != "https") {
        return refused + "not https";
    }
    if (!overrideOrigin && parts->Port != 443) {
        return refused + "not the https port";
    }
    if (!guard || !guard(parts->Host)) {
        return refused + "host not allowed";
    }
    return {};
}

// Adds one more trusted authority to the store libcurl set up, which keeps
// the system's authorities as they are.
CURLcode AddAuthority(CURL*, void* sslContext, void* caFile) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    const auto* file = static_cast<const std::string*>(caFile);
    const bool ok = store != nullptr && X509_STORE_load_file(store, file->c_str()) == 1;
    ERR_clear_error();
    return ok ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

struct TBodySink {
    std::string* Body;
    std::size_t Max;
    bool Over = false;
};

// Called by libcurl, so nothing may be thrown through it: a failed append
// ends the transfer like the size bound does.
std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<TBodySink*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = sink->Max - std::min(sink->Max, sink->Body->size());
    try {
        sink->Body->append(data, std::min(bytes, room));
    } catch (...) {
        return 0;
    }
    if (bytes > room) {
        sink->Over = true;
        return 0; // anything but bytes ends the transfer
    }
    return bytes;
}

std::string HeaderValue(CURL* handle, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(handle, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK ||
        header == nullptr || header->value == nullptr) {
        return {};
    }
    return header->value;
}

TRdapEnd EndOfTransfer(CURLcode code, CURL* handle, const TBodySink& sink) {
    switch (code) {
    case CURLE_OK:
        return TRdapEnd::Answered;
    case CURLE_COULDNT_RESOLVE_HOST:
        return TRdapEnd::NameLookupFailed;
    case CURLE_COULDNT_CONNECT:
        return TRdapEnd::Refused;
    case CURLE_OPERATION_TIMEDOUT: {
        // Until the request could be sent (TCP and TLS done), it is the connect bound.
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        return pretransfer == 0 ? TRdapEnd::ConnectBound : TRdapEnd::WholeBound;
    }
    case CURLE_WRITE_ERROR:
        return sink.Over ? TRdapEnd::SizeBound : TRdapEnd::OtherError;
    case CURLE_FILESIZE_EXCEEDED:
        return TRdapEnd::SizeBound;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return TRdapEnd::Certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
        return TRdapEnd::Tls;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return TRdapEnd::Cut;
    default:
        return TRdapEnd::OtherError;
    }
}

// What one query carries from hop to hop.
struct TQueryPlan {
    std::optional<TUrlParts> Override; // TAVIREL_RDAP_BASE's server, when set
    std::string CaFile;                // TAVIREL_RDAP_CA_FILE, or ""
    TClock::time_point Deadline;
    const TProxy* Proxy = nullptr; // every hop goes through it, when set
};

// Where a hop's connections are kept: its server's origin, and the proxy
// with its credentials (two users of one proxy are two ways in).
std::string ConnectionKey(const TUrlParts& parts, const TQueryPlan& plan) {
    if (plan.Proxy == nullptr) {
        return parts.Origin();
    }
    const TProxy& proxy = *plan.Proxy;
    return parts.Origin() + " via " + CurlProxyAddress(proxy) + '\n' + proxy.User + '\n' +
           proxy.Password;
}

TRdapEnd RdapEndOf(TExchangeEnd end) {
    switch (end) {
    case TExchangeEnd::NameLookupFailed:
        return TRdapEnd::NameLookupFailed;
    case TExchangeEnd::Refused:
        return TRdapEnd::Refused;
    case TExchangeEnd::ConnectBound:
        return TRdapEnd::ConnectBound;
    default:
        return TRdapEnd::OtherError;
    }
}

// A hop through a proxy that failed before its request went out: the
// proxy's own failure, or the server's as the proxy reported it.
void ReadProxyFailure(CURL* handle, CURLcode code, const TProxy& proxy, TRdapAnswer& answer) {
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer != 0) {
        return;
    }
    const TProxiedFailureFacts facts = ReadProxiedFailureFacts(handle, code);
    const TProxiedFailure failure = ClassifyProxiedFailure(facts);
    if (failure.Fault != TProxyFault::None) {
        answer.ProxyFault = failure.Fault;
        answer.End = TRdapEnd::OtherError;
        answer.Error = DescribeProxyFault(failure.Fault, proxy) + ": " + answer.Error;
    } else if (code == CURLE_PROXY ||
               (facts.ConnectCode != 0 && (facts.ConnectCode < 200 || facts.ConnectCode > 299))) {
        // The proxy's report of the server; TLS and the rest keep their ends.
        answer.End = RdapEndOf(failure.ServerEnd);
    }
}

TRdapAnswer NotAsked(TRdapAnswer answer, std::string why) {
    answer.End = TRdapEnd::NotAsked;
    answer.Error = std::move(why);
    return answer;
}

} // namespace

// Easy handles keep the connections they opened; the pool lends each to one
// query at a time. Handles of a server stay with that server, so whoever
// borrows one finds its connection open. libcurl's shared connection cache
// is not safe across threads, hence handles rather than a share of
// connections; name lookups and TLS sessions are shared, with locks.
struct TRdapConnections::TPool {
    CURLSH* Share = nullptr;
    std::mutex ShareLocks[CURL_LOCK_DATA_LAST];
    std::mutex Mutex;
    std::map<std::string, std::vector<CURL*>> Idle; // by origin

    TPool() {
        InitCurlOnce();
        Share = curl_share_init();
        if (Share != nullptr) {
            curl_share_setopt(Share, CURLSHOPT_LOCKFUNC, &TPool::Lock);
            curl_share_setopt(Share, CURLSHOPT_UNLOCKFUNC, &TPool::Unlock);
            curl_share_setopt(Share, CURLSHOPT_USERDATA, this);
            curl_share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }

    ~TPool() {
        for (auto& [origin, handles] : Idle) {
            for (CURL* handle : handles) {
                curl_easy_cleanup(handle);
            }
        }
        if (Share != nullptr) {
            curl_share_cleanup(Share);
        }
    }

    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<TPool*>(user)->ShareLocks[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<TPool*>(user)->ShareLocks[data].unlock();
    }

    // An idle handle of the server, or a new one; null only when libcurl
    // cannot make one.
    CURL* Borrow(const std::string& origin) {
        {
            std::lock_guard lock(Mutex);
            auto it = Idle.find(origin);
            if (it != Idle.end() && !it->second.empty()) {
                CURL* handle = it->second.back();
                it->second.pop_back();
                return handle;
            }
        }
        CURL* handle = curl_easy_init();
        if (handle != nullptr && Share != nullptr) {
            curl_easy_setopt(handle, CURLOPT_SHARE, Share);
        }
        return handle;
    }

    void Return(const std::string& origin, CURL* handle) {
        {
            std::lock_guard lock(Mutex);
            auto& handles = Idle[origin];
            if (handles.size() < KMaxIdlePerServer) {
                handles.push_back(handle);
                return;
            }
        }
        curl_easy_cleanup(handle);
    }
};

namespace {

// A handle borrowed for one hop, given back when the hop is over.
class THandleLease {
public:
    THandleLease(TRdapConnections::TPool& pool, std::string origin)
        : FPool(pool), FOrigin(std::move(origin)), FHandle(pool.Borrow(FOrigin)) {}
    ~THandleLease() {
        if (FHandle != nullptr) {
            FPool.Return(FOrigin, FHandle);
        }
    }
    THandleLease(const THandleLease&) = delete;
    THandleLease& operator=(const THandleLease&) = delete;

    CURL* Handle() const { return FHandle; }

private:
    TRdapConnections::TPool& FPool;
    std::string FOrigin;
    CURL* FHandle;
};

void SetHopOptions(CURL* handle, const std::string& url, const TRdapBounds& bounds,
                   const TQueryPlan& plan, curl_slist* headers, TBodySink& sink,
                   char* errorBuffer) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(plan.Deadline - TClock::now());
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, plan.Override ? "http,https" : "https");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, KUserAgent);
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max<long long>(bounds.Connect.count(), 1)));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::max<long long>(left.count(), 1)));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(bounds.MaxBodyBytes));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    if (plan.Proxy != nullptr) {
        UseProxy(handle, *plan.Proxy);
    }
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!plan.CaFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &AddAuthority);
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &plan.CaFile);
        // A cached store would be shared by later connections; each adds its own.
        curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
}

// One request on a borrowed handle; fills what the answer says of it and
// returns the redirect target of a 3xx answer (made absolute by libcurl), or "".
std::string RunHop(TRdapConnections::TPool& pool, const std::string& url, const TUrlParts& parts,
                   const TRdapBounds& bounds, const TQueryPlan& plan, TRdapAnswer& answer) {
    answer.Url = url;
    answer.Host = parts.Host;
    answer.Status = 0;
    answer.Body.clear();
    answer.RetryAfter.clear();
    answer.Date.clear();
    answer.Error.clear();
    answer.ProxyFault = TProxyFault::None;
    THandleLease lease(pool, ConnectionKey(parts, plan));
    CURL* handle = lease.Handle();
    curl_slist* headers = curl_slist_append(nullptr, KAcceptHeader);
    if (handle == nullptr || headers == nullptr) {
        curl_slist_free_all(headers);
        answer.End = TRdapEnd::OtherError;
        answer.Error = "libcurl could not start a request";
        return {};
    }
    curl_easy_reset(handle); // options only: its connections stay open
    TBodySink sink{&answer.Body, bounds.MaxBodyBytes};
    char errorBuffer[CURL_ERROR_SIZE] = "";
    SetHopOptions(handle, url, bounds, plan, headers, sink, errorBuffer);
    const CURLcode code = curl_easy_perform(handle);
    answer.ReceivedAt = std::chrono::system_clock::now();
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.Status);
    answer.End = EndOfTransfer(code, handle, sink);
    if (answer.End == TRdapEnd::Answered) {
        answer.RetryAfter = HeaderValue(handle, "Retry-After");
        answer.Date = HeaderValue(handle, "Date");
    } else {
        answer.Error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
        if (plan.Proxy != nullptr) {
            ReadProxyFailure(handle, code, *plan.Proxy, answer);
        }
    }
    char* location = nullptr;
    std::string target;
    if (answer.End == TRdapEnd::Answered && IsRedirectStatus(answer.Status) &&
        curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
        location != nullptr) {
        target = location;
    }
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    return target;
}

TRdapAnswer RunQuery(const TRdapRequest& request, TRdapConnections::TPool& pool) {
    TRdapAnswer answer;
    answer.Base = RdapBaseToAsk(request.Base);
    const std::string overrideText = EnvText("TAVIREL_RDAP_BASE");
    TQueryPlan plan;
    if (!overrideText.empty()) {
        plan.Override = ParseUrl(WithSlash(overrideText));
        if (!plan.Override) {
            return NotAsked(answer, "TAVIREL_RDAP_BASE is not an http(s) URL: " + overrideText);
        }
    }
    const auto baseParts = ParseUrl(answer.Base);
    if (!baseParts || (!plan.Override && baseParts->Scheme != "https")) {
        return NotAsked(answer, "RDAP base is not an https URL: " + answer.Base);
    }
    // A base from the registry data is judged as a redirect is: whoever
    // wrote the data must not lead the query to this host or its network.
    if (!plan.Override) {
        std::string refusal =
            HopRefusal("RDAP base", answer.Base, baseParts, std::nullopt, request.Guard);
        if (!refusal.empty()) {
            return NotAsked(answer, std::move(refusal));
        }
    }
    if (!IsALabelName(request.Name)) {
        return NotAsked(answer, "not an A-label domain name: " + request.Name);
    }
    plan.CaFile = EnvText("TAVIREL_RDAP_CA_FILE");
    if (!plan.CaFile.empty() && !IsReadableFile(plan.CaFile)) {
        return NotAsked(answer, "cannot read TAVIREL_RDAP_CA_FILE " + plan.CaFile);
    }
    plan.Deadline = TClock::now() + request.Bounds.Whole;
    plan.Proxy = request.Proxy ? &*request.Proxy : nullptr;

    std::string url = answer.Base + "domain/" + LowerAscii(request.Name);
    TUrlParts parts = *baseParts;
    for (;;) {
        const std::string target = RunHop(pool, url, parts, request.Bounds, plan, answer);
        if (target.empty()) {
            return answer;
        }
        if (answer.Redirects >= request.Bounds.MaxRedirects) {
            answer.End = TRdapEnd::TooManyRedirects;
            return answer;
        }
        const auto targetParts = ParseUrl(target);
        std::string refusal =
            HopRefusal("redirect to", target, targetParts, plan.Override, request.Guard);
        if (!refusal.empty()) {
            answer.End = TRdapEnd::RedirectRefused;
            answer.Error = std::move(refusal);
            return answer;
        }
        ++answer.Redirects;
        url = target;
        parts = *targetParts;
    }
}

} // namespace

TRdapConnections::TRdapConnections() : FPool(std::make_unique<TPool>()) {}

TRdapConnections::~TRdapConnections() = default;

TRdapAnswer QueryRdap(const TRdapRequest& request, TRdapConnections& connections) {
    try {
        return RunQuery(request, *connections.FPool);
    } catch (...) {
        TRdapAnswer answer;
        answer.Error = "out of memory";
        return answer;
    }
}

TRdapAnswer QueryRdap(const TRdapRequest& request) {
    try {
        TRdapConnections connections;
        return QueryRdap(request, connections);
    } catch (...) {
        TRdapAnswer answer;
        answer.Error = "out of memory";
        return answer;
    }
}

std::string RdapBaseToAsk(std::string_view base) {
    const std::string override = EnvText("TAVIREL_RDAP_BASE");
    return WithSlash(override.empty() ? std::string(base) : override);
}

std::string DescribeRdapEnd(const TRdapAnswer& answer, const TRdapBounds& bounds) {
    const std::string& host = answer.Host;
    switch (answer.End) {
    case TRdapEnd::Answered:
        return "HTTP " + std::to_string(answer.Status) + " from " + host;
    case TRdapEnd::NameLookupFailed:
        return "name lookup of " + host + " failed";
    case TRdapEnd::Refused:
        return "connection refused by " + host;
    case TRdapEnd::ConnectBound:
        return "no connection to " + host + " within " + Seconds(bounds.Connect);
    case TRdapEnd::WholeBound:
        return "no whole answer from " + host + " within " + Seconds(bounds.Whole);
    case TRdapEnd::SizeBound:
        return "answer from " + host + " beyond " + std::to_string(bounds.MaxBodyBytes) + " bytes";
    case TRdapEnd::Certificate:
        return "certificate of " + host + " not trusted: " + answer.Error;
    case TRdapEnd::Tls:
        return "TLS with " + host + " failed: " + answer.Error;
    case TRdapEnd::Cut:
        return "connection to " + host + " broke: " + answer.Error;
    case TRdapEnd::TooManyRedirects:
        return "more than " + std::to_string(bounds.MaxRedirects) + " redirects";
    case TRdapEnd::NotAsked:
    case TRdapEnd::RedirectRefused:
    case TRdapEnd::OtherError:
        break;
    }
    return answer.Error.empty() ? "RDAP query failed" : answer.Error;
}
