#include "tools/LoopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace {

// How often the accept loop wakes without traffic to join finished connections.
constexpr int KReapIntervalMs = 200;

std::string PeerAddress(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return text;
}

} // namespace

TLoopbackServer::~TLoopbackServer() {
    Stop();
}

bool TLoopbackServer::Fail(const std::string& what) {
    FError = what + ": " + std::strerror(errno);
    return false;
}

bool TLoopbackServer::Listen(const std::string& hostName, int port, int backlog) {
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return Fail("pipe");
    }
    FWakeRead = wake[0];
    FWakeWrite = wake[1];
    if (port < 0 || port > 65535) {
        FError = "port out of range: " + std::to_string(port);
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const std::string host = hostName == "localhost" ? "127.0.0.1" : hostName;
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        FError = "not a numeric IPv4 address: " + hostName;
        return false;
    }
    FListenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (FListenFd < 0) {
        return Fail("socket");
    }
    const int one = 1;
    setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return Fail("bind " + host + ":" + std::to_string(port));
    }
    if (listen(FListenFd, backlog) != 0) {
        return Fail("listen");
    }
    socklen_t len = sizeof addr;
    if (getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return Fail("getsockname");
    }
    FBoundPort = ntohs(addr.sin_port);
    return true;
}

bool TLoopbackServer::Accept(THooks hooks) {
    FHooks = std::move(hooks);
    try {
        FAcceptThread = std::thread([this] { AcceptLoop(); });
    } catch (const std::system_error& e) {
        FError = std::string("thread: ") + e.what();
        return false;
    }
    return true;
}

void TLoopbackServer::Stop() {
    // One byte in the wake pipe stays readable, so every wait sees it.
    if (FWakeWrite >= 0) {
        const ssize_t ignored = write(FWakeWrite, "x", 1);
        (void)ignored;
    }
    if (FAcceptThread.joinable()) {
        FAcceptThread.join();
    }
    Reap(true);
    for (int* fd : {&FListenFd, &FWakeRead, &FWakeWrite}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

void TLoopbackServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{FWakeRead, POLLIN, 0}, {FListenFd, POLLIN, 0}};
        const int n = poll(fds, 2, KReapIntervalMs);
        if ((n < 0 && errno != EINTR) || fds[0].revents != 0) {
            break;
        }
        if (n > 0 && fds[1].revents != 0) {
            AcceptOne();
        }
        Reap(false);
    }
}

void TLoopbackServer::AcceptOne() {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd =
        accept4(FListenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Out of descriptors: let finished connections give some back.
            Reap(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return;
    }
    TConnectionPtr conn = FHooks.Make();
    conn->Fd = fd;
    conn->Ordinal = ++FAccepted;
    conn->Peer = PeerAddress(peer);
    if (FHooks.Opened) {
        FHooks.Opened(*conn);
    }
    std::lock_guard lock(FConnMutex);
    try {
        conn->Thread = std::thread([this, conn] { FHooks.Serve(*conn); });
    } catch (const std::system_error&) {
        if (FHooks.NotStarted) {
            FHooks.NotStarted(*conn);
        }
        close(fd);
        return;
    }
    FConnections.push_back(std::move(conn));
}

void TLoopbackServer::Reap(bool all) {
    std::list<TConnectionPtr> finished;
    {
        std::lock_guard lock(FConnMutex);
        for (auto it = FConnections.begin(); it != FConnections.end();) {
            auto next = std::next(it);
            if (all || (*it)->Done.load()) {
                finished.splice(finished.end(), FConnections, it);
            }
            it = next;
        }
    }
    for (auto& conn : finished) {
        if (conn->Thread.joinable()) {
            conn->Thread.join();
        }
    }
}

std::FILE* OpenServerLog(const std::string& path, std::string& error) {
    std::FILE* log = std::fopen(path.c_str(), "ab");
    if (log == nullptr) {
        error = "open log " + path + ": " + std::strerror(errno);
    }
    return log;
}
