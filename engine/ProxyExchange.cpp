#include "engine/ProxyExchange.h"

#include "engine/ProxyConnect.h"

#include <curl/curl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

using TClock = std::chrono::steady_clock;
using TTimePoint = TClock::time_point;

struct TCurlFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlFree>;

long Milliseconds(std::chrono::milliseconds bound) {
    return static_cast<long>(std::max<long long>(bound.count(), 1));
}

// Waits until the socket is ready for events or deadline passes; an error
// or hang-up counts as ready, for the next call on the socket to report.
bool WaitForSocket(curl_socket_t socket, short events, TTimePoint deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{socket, events, 0};
        const int rc =
            ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (rc > 0) {
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
    }
}

// The bound that ended a wait: the whole exchange's once it has passed.
TExchangeEnd BoundStruck(TTimePoint whole) {
    return TClock::now() >= whole ? TExchangeEnd::WholeBound : TExchangeEnd::IdleBound;
}

// A broken tunnel is reported by libcurl as a failed send or receive; the
// server (or the proxy for it) reset or dropped it.
TExchangeEnd EndOfStreamError(CURLcode code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR ? TExchangeEnd::Reset
                                                                : TExchangeEnd::OtherError;
}

// The tunnel to the server, or why it could not be made. The URL only
// carries the server's address: with CONNECT_ONLY, libcurl stops once the
// connection stands and speaks no HTTP of its own.
CURLcode OpenTunnel(CURL* handle, const TProxy& proxy, const std::string& host, int port,
                    const TWhoisBounds& bounds, char* errorBuffer) {
    const std::string url = "http://" + host + ":" + std::to_string(port) + "/";
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     Milliseconds(std::min(bounds.Connect, bounds.Whole)));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, Milliseconds(bounds.Whole));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    UseProxy(handle, proxy);
    return curl_easy_perform(handle);
}

// Sends all of data; a send that cannot progress for the idle bound fails.
bool SendAll(CURL* handle, curl_socket_t socket, std::string_view data,
             std::chrono::milliseconds idle, TTimePoint whole, TExchangeEnd& end) {
    while (!data.empty()) {
        std::size_t sent = 0;
        const CURLcode code = curl_easy_send(handle, data.data(), data.size(), &sent);
        if (code == CURLE_OK) {
            data.remove_prefix(std::min(sent, data.size()));
        } else if (code != CURLE_AGAIN) {
            end = EndOfStreamError(code);
            return false;
        } else if (!WaitForSocket(socket, POLLOUT, std::min(TClock::now() + idle, whole))) {
            end = BoundStruck(whole);
            return false;
        }
    }
    return true;
}

// Appends what the server sends until it closes, falls silent for the idle
// bound, the whole bound passes, the size cap is reached or the tunnel
// breaks. libcurl may hold bytes already read from the socket, so it is
// asked before the socket is waited on.
TExchangeEnd ReadReply(CURL* handle, curl_socket_t socket, const TWhoisBounds& bounds,
                       TTimePoint whole, std::string& reply) {
    char buffer[16 * 1024];
    TTimePoint lastByte = TClock::now();
    while (reply.size() < bounds.MaxReplyBytes) {
        std::size_t received = 0;
        const CURLcode code = curl_easy_recv(handle, buffer, sizeof buffer, &received);
        if (code == CURLE_OK && received == 0) {
            return TExchangeEnd::Closed;
        }
        if (code == CURLE_OK) {
            reply.append(buffer, std::min(received, bounds.MaxReplyBytes - reply.size()));
            lastByte = TClock::now();
        } else if (code != CURLE_AGAIN) {
            return EndOfStreamError(code);
        } else if (!WaitForSocket(socket, POLLIN, std::min(lastByte + bounds.Idle, whole))) {
            return BoundStruck(whole);
        }
    }
    return TExchangeEnd::SizeBound;
}

void Exchange(const TProxy& proxy, std::string_view server, std::string_view queryLine,
              const TWhoisBounds& bounds, TProxiedExchange& out) {
    TExchangeResult& result = out.Exchange;
    const TTimePoint whole = TClock::now() + bounds.Whole;
    std::string host;
    int port = 0;
    result.End = TExchangeEnd::NameLookupFailed;
    if (!SplitServerAddress(server, host, port) || !IsPlainHostName(host)) {
        return;
    }
    InitCurlOnce();
    const TCurlHandle handle(curl_easy_init());
    result.End = TExchangeEnd::OtherError;
    if (!handle) {
        result.Errno = ENOMEM;
        return;
    }
    char errorBuffer[CURL_ERROR_SIZE] = "";
    const CURLcode code = OpenTunnel(handle.get(), proxy, host, port, bounds, errorBuffer);
    if (code != CURLE_OK) {
        const TProxiedFailure failure =
            ClassifyProxiedFailure(ReadProxiedFailureFacts(handle.get(), code));
        out.Fault = failure.Fault;
        result.End = failure.ServerEnd;
        result.Errno = failure.Errno;
        out.Detail = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
        return;
    }
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(handle.get(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
        socket == CURL_SOCKET_BAD) {
        return;
    }
    TExchangeEnd end = TExchangeEnd::OtherError;
    if (SendAll(handle.get(), socket, queryLine, bounds.Idle, whole, end)) {
        end = ReadReply(handle.get(), socket, bounds, whole, result.Reply);
    }
    result.End = end;
}

} // namespace

TProxiedExchange RunWhoisExchangeViaProxy(const TProxy& proxy, std::string_view server,
                                          std::string_view queryLine, const TWhoisBounds& bounds) {
    TProxiedExchange out;
    try {
        Exchange(proxy, server, queryLine, bounds, out);
    } catch (...) {
        // Only memory can run out here; what arrived so far is still the reply.
        out.Exchange.End = TExchangeEnd::OtherError;
        out.Exchange.Errno = ENOMEM;
    }
    return out;
}

std::string DescribeProxiedExchangeEnd(const TProxiedExchange& result, const TProxy& proxy,
                                       std::string_view host, const TWhoisBounds& bounds) {
    if (result.Fault != TProxyFault::None) {
        const std::string fault = DescribeProxyFault(result.Fault, proxy);
        return result.Detail.empty() ? fault : fault + ": " + result.Detail;
    }
    const TExchangeResult& exchange = result.Exchange;
    if (exchange.End == TExchangeEnd::Closed) {
        return DescribeExchangeEnd(exchange, host, bounds);
    }
    const bool unnamed =
        exchange.End == TExchangeEnd::OtherError && exchange.Errno == 0 && !result.Detail.empty();
    return (unnamed ? result.Detail : DescribeExchangeEnd(exchange, host, bounds)) +
           " (via proxy " + MaskedProxyUrl(proxy) + ")";
}
