#include "engine/WhoisExchange.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;
using TTimePoint = TClock::time_point;

constexpr int DefaultWhoisPort = 43;

// Owns one socket descriptor so that every way out of an exchange closes it.
class TSocket {
public:
    explicit TSocket(int fd) : FFd(fd) {}
    ~TSocket() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    TSocket(TSocket&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TSocket& operator=(TSocket&& other) noexcept {
        if (this != &other) {
            if (FFd >= 0)
                ::close(FFd);
            FFd = other.FFd;
            other.FFd = -1;
        }
        return *this;
    }
    int Fd() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }

private:
    int FFd = -1;
};

struct TAddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using TAddrInfoList = std::unique_ptr<addrinfo, TAddrInfoFree>;

// IPv4 stream addresses of host; empty when the name does not resolve. A name
// with a zero byte inside cannot be what the caller meant, so it resolves to nothing.
TAddrInfoList ResolveStream(const std::string& host, const char* service) {
    if (host.empty() || host.find('\0') != std::string::npos)
        return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (service != nullptr)
        hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), service, &hints, &list) != 0)
        return nullptr;
    return TAddrInfoList(list);
}

// Milliseconds left until deadline, rounded up so that poll() never spins on
// a zero timeout while time remains; 0 once it has passed.
int MillisecondsUntil(TTimePoint deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
    if (left.count() <= 0)
        return 0;
    constexpr long long MaxPollMs = 1'000'000'000;
    return static_cast<int>(left.count() < MaxPollMs ? left.count() : MaxPollMs);
}

// Waits until fd is ready for events or deadline passes. True when ready (an
// error or hang-up counts as ready: the next call on the socket reports it).
bool WaitReady(int fd, short events, TTimePoint deadline) {
    for (;;) {
        const int timeoutMs = MillisecondsUntil(deadline);
        if (timeoutMs == 0)
            return false;
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, timeoutMs);
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

// Why a step of the exchange stopped, while it runs.
struct TStepEnd {
    TExchangeEnd End = TExchangeEnd::Closed;
    int Errno = 0;
};

TStepEnd FromErrno(int error) {
    switch (error) {
    case ECONNREFUSED:
        return {TExchangeEnd::Refused, 0};
    case ECONNRESET:
    case EPIPE:
        return {TExchangeEnd::Reset, 0};
    case ETIMEDOUT:
        return {TExchangeEnd::ConnectBound, 0};
    default:
        return {TExchangeEnd::OtherError, error};
    }
}

// The bound that ended a wait: the whole exchange's when it has passed, else
// the step's own.
TExchangeEnd BoundStruck(TTimePoint whole, TExchangeEnd stepBound) {
    return TClock::now() >= whole ? TExchangeEnd::WholeBound : stepBound;
}

// One non-blocking connect attempt that gives up at deadline; why it failed
// goes to end.
TSocket ConnectOne(const addrinfo& address, TTimePoint deadline, TStepEnd& end) {
    TSocket socket(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol));
    if (!socket.IsOpen()) {
        end = {TExchangeEnd::OtherError, errno};
        return socket;
    }
    int rc = ::connect(socket.Fd(), address.ai_addr, address.ai_addrlen);
    while (rc != 0 && errno == EINTR)
        rc = ::connect(socket.Fd(), address.ai_addr, address.ai_addrlen);
    if (rc == 0)
        return socket;
    if (errno != EINPROGRESS && errno != EALREADY) {
        end = FromErrno(errno);
        return TSocket(-1);
    }
    if (!WaitReady(socket.Fd(), POLLOUT, deadline)) {
        end = {TExchangeEnd::ConnectBound, 0};
        return TSocket(-1);
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        end = {TExchangeEnd::OtherError, errno};
        return TSocket(-1);
    }
    if (error != 0) {
        end = FromErrno(error);
        return TSocket(-1);
    }
    return socket;
}

// Tries the addresses in the order the name service gave them until one
// connects; the deadline covers all attempts together. The last failure is
// the one reported.
TSocket ConnectAny(const addrinfo* list, TTimePoint deadline, TStepEnd& end) {
    end = {TExchangeEnd::ConnectBound, 0};
    for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
        if (TClock::now() >= deadline) {
            end = {TExchangeEnd::ConnectBound, 0};
            break;
        }
        TSocket socket = ConnectOne(*address, deadline, end);
        if (socket.IsOpen())
            return socket;
    }
    return TSocket(-1);
}

// Sends all of data; a send that cannot progress for the idle bound, or an
// error, is a failure. MSG_NOSIGNAL keeps a closed peer from raising SIGPIPE.
bool SendAll(int fd, std::string_view data, std::chrono::milliseconds idle, TTimePoint whole,
             TStepEnd& end) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const TTimePoint idleEnd = TClock::now() + idle;
            if (!WaitReady(fd, POLLOUT, idleEnd < whole ? idleEnd : whole)) {
                end = {BoundStruck(whole, TExchangeEnd::IdleBound), 0};
                return false;
            }
            continue;
        }
        end = sent < 0 ? FromErrno(errno) : TStepEnd{TExchangeEnd::OtherError, 0};
        return false;
    }
    return true;
}

// Appends what the server sends until it closes, falls silent for the idle
// bound, the whole bound passes, the size cap is reached or the connection
// fails, and says which. Pauses shorter than the idle bound never end the reply.
TStepEnd ReadReply(int fd, const TWhoisBounds& bounds, TTimePoint whole, std::string& reply) {
    char buffer[16 * 1024];
    while (reply.size() < bounds.MaxReplyBytes) {
        const TTimePoint idleEnd = TClock::now() + bounds.Idle;
        if (!WaitReady(fd, POLLIN, idleEnd < whole ? idleEnd : whole))
            return {BoundStruck(whole, TExchangeEnd::IdleBound), 0};
        const ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received == 0)
            return {TExchangeEnd::Closed, 0};
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return FromErrno(errno); // keep what arrived
        }
        const std::size_t room = bounds.MaxReplyBytes - reply.size();
        const std::size_t take =
            static_cast<std::size_t>(received) < room ? static_cast<std::size_t>(received) : room;
        reply.append(buffer, take);
    }
    return {TExchangeEnd::SizeBound, 0};
}

std::string Seconds(std::chrono::milliseconds bound) {
    const long long ms = bound.count();
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

bool ParsePort(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

bool SplitServerAddress(std::string_view server, std::string& host, int& port) {
    try {
        const std::size_t colon = server.rfind(':');
        std::string_view hostPart = server.substr(0, colon);
        int portValue = DefaultWhoisPort;
        if (colon != std::string_view::npos && !ParsePort(server.substr(colon + 1), portValue))
            return false;
        if (hostPart.empty())
            return false;
        host.assign(hostPart);
        port = portValue;
        return true;
    } catch (...) {
        return false;
    }
}

TExchangeResult RunWhoisExchange(std::string_view server, std::string_view queryLine,
                                 const TWhoisBounds& bounds) {
    TExchangeResult result;
    try {
        const TTimePoint start = TClock::now();
        const TTimePoint whole = start + bounds.Whole;
        const TTimePoint connectEnd =
            start + bounds.Connect < whole ? start + bounds.Connect : whole;

        std::string host;
        int port = 0;
        result.End = TExchangeEnd::NameLookupFailed;
        if (!SplitServerAddress(server, host, port))
            return result;
        const std::string service = std::to_string(port);
        const TAddrInfoList addresses = ResolveStream(host, service.c_str());
        if (!addresses)
            return result;
        TStepEnd end;
        const TSocket socket = ConnectAny(addresses.get(), connectEnd, end);
        if (socket.IsOpen() && SendAll(socket.Fd(), queryLine, bounds.Idle, whole, end))
            end = ReadReply(socket.Fd(), bounds, whole, result.Reply);
        result.End = end.End;
        result.Errno = end.Errno;
    } catch (...) {
        // Only memory can run out here; what arrived so far is still the reply.
        result.End = TExchangeEnd::OtherError;
        result.Errno = ENOMEM;
    }
    return result;
}

std::string ExchangeWhois(std::string_view server, std::string_view queryLine,
                          const TWhoisBounds& bounds) {
    return RunWhoisExchange(server, queryLine, bounds).Reply;
}

std::string DescribeExchangeEnd(const TExchangeResult& result, std::string_view host,
                                const TWhoisBounds& bounds) {
    switch (result.End) {
    case TExchangeEnd::Closed:
        return "closed by the server";
    case TExchangeEnd::NameLookupFailed:
        return "name lookup of " + std::string(host) + " failed";
    case TExchangeEnd::Refused:
        return "connection refused by " + std::string(host);
    case TExchangeEnd::ConnectBound:
        return "no connection within " + Seconds(bounds.Connect);
    case TExchangeEnd::IdleBound:
        return "no byte for " + Seconds(bounds.Idle);
    case TExchangeEnd::WholeBound:
        return "cut after " + Seconds(bounds.Whole);
    case TExchangeEnd::SizeBound:
        return "cut at " + std::to_string(bounds.MaxReplyBytes) + " bytes";
    case TExchangeEnd::Reset:
        return "connection reset";
    case TExchangeEnd::OtherError:
        break;
    }
    return result.Errno != 0 ? std::string(std::strerror(result.Errno)) : "exchange failed";
}

std::string ResolveIPv4(const std::string& name) {
    try {
        const TAddrInfoList addresses = ResolveStream(name, nullptr);
        if (!addresses || addresses->ai_addr == nullptr || addresses->ai_addr->sa_family != AF_INET)
            return {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(addresses->ai_addr);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr.s_addr);
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
        return text;
    } catch (...) {
        return {};
    }
}
