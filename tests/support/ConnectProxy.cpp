#include "tests/support/ConnectProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int KPollMs = 50; // how often waiting threads look at the stop flag
constexpr std::size_t KMaxHeadBytes = 8192;

std::string Base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

void Answer(int fd, int status, const char* reason, const char* extra = "") {
    SendAll(fd, "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extra +
                    "Content-Length: 0\r\n\r\n");
}

// The loopback IPv4 address of host, or 0.
in_addr_t LoopbackAddress(const std::string& host) {
    in_addr address{};
    const std::string numeric = host == "localhost" ? "127.0.0.1" : host;
    if (::inet_pton(AF_INET, numeric.c_str(), &address) != 1 ||
        (ntohl(address.s_addr) >> 24) != 127)
        return 0;
    return address.s_addr;
}

} // namespace

struct TConnectProxy::TState {
    TConnectProxyOptions Options;
    std::string ExpectedAuth; // the Proxy-Authorization value, or ""
    int ListenFd = -1;
    int Port = 0;
    std::string Error;
    std::atomic<bool> Stopping{false};
    std::atomic<int> Tunnels{0};
    std::thread Acceptor;
    std::mutex Mutex;
    std::vector<std::thread> Connections;

    void AcceptLoop() {
        while (!Stopping) {
            pollfd entry{ListenFd, POLLIN, 0};
            if (::poll(&entry, 1, KPollMs) <= 0)
                continue;
            const int fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard lock(Mutex);
            Connections.emplace_back([this, fd] {
                Serve(fd);
                ::close(fd);
            });
        }
    }

    // The request head, up to its blank line; "" when it does not come.
    std::string ReadHead(int fd) {
        std::string head;
        char c = 0;
        while (!Stopping && head.size() < KMaxHeadBytes && !head.ends_with("\r\n\r\n")) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, KPollMs) <= 0)
                continue;
            if (::recv(fd, &c, 1, 0) != 1)
                return {};
            head += c;
        }
        return head.ends_with("\r\n\r\n") ? head : std::string();
    }

    // A connection to the loopback target "host:port", or -1.
    int ConnectTarget(const std::string& target) {
        const std::size_t colon = target.rfind(':');
        const in_addr_t address =
            colon == std::string::npos ? 0 : LoopbackAddress(target.substr(0, colon));
        if (address == 0)
            return -1;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (!Options.BindAddress.empty()) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, Options.BindAddress.c_str(), &source.sin_addr);
            ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = address;
        server.sin_port = htons(static_cast<uint16_t>(std::atoi(target.c_str() + colon + 1)));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // Copies bytes both ways until either side closes or the proxy stops.
    void Relay(int client, int server) {
        char buffer[16 * 1024];
        while (!Stopping) {
            pollfd entries[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(entries, 2, KPollMs) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (entries[i].revents == 0)
                    continue;
                const ssize_t n = ::recv(entries[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return;
                SendAll(entries[1 - i].fd, std::string(buffer, static_cast<std::size_t>(n)));
            }
        }
    }

    void Serve(int client) {
        const std::string head = ReadHead(client);
        char target[300] = "";
        if (std::sscanf(head.c_str(), "CONNECT %299s HTTP/1.", target) != 1)
            return Answer(client, 400, "Bad Request");
        if (Options.RefuseStatus != 0)
            return Answer(client, Options.RefuseStatus, "Refused");
        if (!ExpectedAuth.empty() &&
            head.find("\r\nProxy-Authorization: " + ExpectedAuth + "\r\n") == std::string::npos)
            return Answer(client, 407, "Proxy Authentication Required",
                          "Proxy-Authenticate: Basic realm=\"test\"\r\n");
        const int server = ConnectTarget(target);
        if (server < 0)
            return Answer(client, 502, "Bad Gateway");
        ++Tunnels;
        SendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n");
        Relay(client, server);
        ::close(server);
    }
};

TConnectProxy::TConnectProxy(TConnectProxyOptions options) : FState(std::make_unique<TState>()) {
    FState->Options = std::move(options);
    if (!FState->Options.User.empty())
        FState->ExpectedAuth =
            "Basic " + Base64(FState->Options.User + ":" + FState->Options.Password);
}

TConnectProxy::~TConnectProxy() {
    Stop();
}

bool TConnectProxy::Start() {
    TState& s = *FState;
    s.ListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (s.ListenFd < 0 ||
        ::bind(s.ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.ListenFd, 64) != 0 ||
        ::getsockname(s.ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        s.Error = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    s.Port = ntohs(address.sin_port);
    s.Acceptor = std::thread([&s] { s.AcceptLoop(); });
    return true;
}

void TConnectProxy::Stop() {
    TState& s = *FState;
    s.Stopping = true;
    if (s.Acceptor.joinable())
        s.Acceptor.join();
    for (std::thread& connection : s.Connections)
        connection.join();
    s.Connections.clear();
    if (s.ListenFd >= 0)
        ::close(s.ListenFd);
    s.ListenFd = -1;
}

int TConnectProxy::Port() const {
    return FState->Port;
}

const std::string& TConnectProxy::Error() const {
    return FState->Error;
}

int TConnectProxy::TunnelCount() const {
    return FState->Tunnels;
}
