#include "engine/ProxyConnect.h"

#include <cerrno>
#include <mutex>

namespace {

TProxiedFailure ProxyFault(TProxyFault fault) {
    return TProxiedFailure{fault, TExchangeEnd::OtherError, 0};
}

TProxiedFailure ServerEnd(TExchangeEnd end, int error = 0) {
    return TProxiedFailure{TProxyFault::None, end, error};
}

bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

// An HTTP proxy's refusal of CONNECT. Gateway errors are the proxy telling
// that the server could not be reached; the rest refuse us.
TProxiedFailure FromConnectStatus(long status) {
    switch (status) {
    case 407:
        return ProxyFault(TProxyFault::AuthRefused);
    case 502:
    case 503:
        return ServerEnd(TExchangeEnd::Refused);
    case 504:
        return ServerEnd(TExchangeEnd::OtherError, ETIMEDOUT);
    default:
        return ProxyFault(TProxyFault::HandshakeRefused);
    }
}

// A SOCKS5 failure: the replies about the server's address are the server's
// failures, as a direct connection would have met them; the rest are the
// proxy's.
TProxiedFailure FromSocksError(long error) {
    switch (error) {
    case CURLPX_REPLY_CONNECTION_REFUSED:
        return ServerEnd(TExchangeEnd::Refused);
    case CURLPX_REPLY_HOST_UNREACHABLE:
        return ServerEnd(TExchangeEnd::OtherError, EHOSTUNREACH);
    case CURLPX_REPLY_NETWORK_UNREACHABLE:
        return ServerEnd(TExchangeEnd::OtherError, ENETUNREACH);
    case CURLPX_REPLY_TTL_EXPIRED:
        return ServerEnd(TExchangeEnd::OtherError, ETIMEDOUT);
    // Proxies answer so when they cannot resolve or reach the server.
    case CURLPX_REPLY_GENERAL_SERVER_FAILURE:
        return ServerEnd(TExchangeEnd::OtherError);
    case CURLPX_RESOLVE_HOST:
    case CURLPX_LONG_HOSTNAME:
        return ServerEnd(TExchangeEnd::NameLookupFailed);
    case CURLPX_NO_AUTH:
    case CURLPX_USER_REJECTED:
    case CURLPX_RECV_AUTH:
    case CURLPX_LONG_USER:
    case CURLPX_LONG_PASSWD:
        return ProxyFault(TProxyFault::AuthRefused);
    default:
        return ProxyFault(TProxyFault::HandshakeRefused);
    }
}

} // namespace

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string CurlProxyAddress(const TProxy& proxy) {
    return std::string(ProxySchemeName(proxy.Scheme)) + "://" + proxy.Host + ":" +
           std::to_string(proxy.Port);
}

void UseProxy(CURL* handle, const TProxy& proxy) {
    const std::string address = CurlProxyAddress(proxy);
    curl_easy_setopt(handle, CURLOPT_PROXY, address.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    curl_easy_setopt(handle, CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (!proxy.User.empty()) {
        curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, proxy.User.c_str());
        curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, proxy.Password.c_str());
    } else {
        curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, nullptr);
    }
}

TProxiedFailureFacts ReadProxiedFailureFacts(CURL* handle, CURLcode code) {
    TProxiedFailureFacts facts;
    facts.Code = code;
    curl_easy_getinfo(handle, CURLINFO_PROXY_ERROR, &facts.ProxyError);
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &facts.ConnectCode);
    // libcurl learns the peer's address once the TCP connection to it (the
    // proxy) stands, before any proxy protocol.
    char* address = nullptr;
    facts.ProxyReached = curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &address) == CURLE_OK &&
                         address != nullptr && address[0] != '\0';
    return facts;
}

TProxiedFailure ClassifyProxiedFailure(const TProxiedFailureFacts& facts) {
    if (facts.ConnectCode != 0 && !IsSuccessStatus(facts.ConnectCode)) {
        return FromConnectStatus(facts.ConnectCode);
    }
    switch (facts.Code) {
    case CURLE_OK:
        return ServerEnd(TExchangeEnd::Closed);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return ProxyFault(TProxyFault::Unreachable);
    case CURLE_OPERATION_TIMEDOUT:
        return facts.ProxyReached ? ServerEnd(TExchangeEnd::ConnectBound)
                                  : ProxyFault(TProxyFault::Unreachable);
    case CURLE_COULDNT_RESOLVE_HOST:
        return ServerEnd(TExchangeEnd::NameLookupFailed);
    case CURLE_PROXY:
        return FromSocksError(facts.ProxyError);
    // Before the tunnel stands, a connection that breaks is the proxy's
    // (an HTTP proxy closing instead of answering CONNECT).
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return ProxyFault(facts.ProxyReached ? TProxyFault::HandshakeRefused
                                             : TProxyFault::Unreachable);
    default:
        return ServerEnd(TExchangeEnd::OtherError);
    }
}
