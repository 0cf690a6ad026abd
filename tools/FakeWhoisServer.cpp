#include "tools/FakeWhoisServer.h"

#include "tools/LoopbackServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/sockios.h>
#include <list>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// A query line longer than this without a line end is taken as it stands.
constexpr std::size_t KMaxQueryBytes = 4096;
// How long a reset waits for its bytes to leave before cutting the connection.
constexpr int KResetDrainMs = 2000;
constexpr std::size_t KHugeBlockBytes = 64u << 10;

enum class TWait { Ready, TimeUp, Stopped };

int MsUntil(TClock::time_point deadline) {
    if (deadline == TClock::time_point::max()) {
        return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
    // Round up so a wait never ends a little early and spins.
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, INT_MAX));
}

TClock::time_point After(int ms) {
    return TClock::now() + std::chrono::milliseconds(std::max(ms, 0));
}

// Waits for `events` on fd (POLLERR/POLLHUP always count), the stop signal or
// the deadline, whichever comes first.
TWait WaitFor(int wakeFd, int fd, short events, TClock::time_point deadline, short* revents) {
    for (;;) {
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
        int timeout = MsUntil(deadline);
        int n = poll(fds, 2, timeout);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return TWait::Stopped;
        }
        if (fds[0].revents != 0) {
            return TWait::Stopped;
        }
        if (fds[1].revents != 0) {
            if (revents != nullptr) {
                *revents = fds[1].revents;
            }
            return TWait::Ready;
        }
        if (timeout >= 0 && TClock::now() >= deadline) {
            return TWait::TimeUp;
        }
    }
}

std::string StripLineEnd(const std::string& raw) {
    std::size_t end = raw.size();
    while (end > 0 && (raw[end - 1] == '\n' || raw[end - 1] == '\r')) {
        --end;
    }
    return raw.substr(0, end);
}

// Only plain names are looked up in the replies folder, so a query cannot
// reach files outside it.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
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

std::string TextAfterLastDot(const std::string& query) {
    std::size_t dot = query.rfind('.');
    return dot == std::string::npos ? std::string() : query.substr(dot + 1);
}

// One block of the endless text a Huge reply is made of; lines look like the
// remarks of a real reply so parsers treat them as ordinary text.
std::string HugeBlock(std::size_t& lineNo) {
    std::string block;
    block.reserve(KHugeBlockBytes + 128);
    char line[128];
    while (block.size() < KHugeBlockBytes) {
        int n = std::snprintf(line, sizeof line,
                              "Remarks:        line %08zu of an oversized reply, sent to "
                              "test size caps\r\n",
                              ++lineNo);
        block.append(line, static_cast<std::size_t>(n));
    }
    return block;
}

std::string ReplaceAll(std::string text, const std::string& find, const std::string& with) {
    for (std::size_t at = text.find(find); at != std::string::npos;
         at = text.find(find, at + with.size())) {
        text.replace(at, find.size(), with);
    }
    return text;
}

} // namespace

struct TConnection : TServedConnection {
    std::atomic<bool> Counted{true}; // still counted as open
};

struct TFakeWhoisServer::TState {
    TFakeWhoisOptions Options;
    std::string Error;
    TLoopbackServer Listener;
    bool Running = false;
    std::vector<int> FillerFds; // NoAccept: our own connections that fill the backlog

    mutable std::mutex LogMutex;
    std::vector<std::string> Queries;
    std::vector<std::string> RawQueries;
    std::vector<std::string> QueryPeers;
    std::FILE* Log = nullptr;

    std::atomic<int> Open{0};
    std::atomic<int> MaxOpen{0};

    // One token bucket per client address.
    struct TBucket {
        double Tokens = 0;
        TClock::time_point Filled;
    };
    std::mutex LimitMutex;
    std::map<std::string, TBucket> Buckets;
    std::atomic<int> Throttled{0};
    std::atomic<int> FlakyResets{0};

    explicit TState(TFakeWhoisOptions options) : Options(std::move(options)) {}

    bool Fail(const std::string& what) {
        Error = what + ": " + std::strerror(errno);
        return false;
    }

    bool Listen();
    bool FillBacklog();
    bool Accept();
    void ReleaseClosedByPeer();
    void CountOpened();
    void Release(TConnection& conn);
    void Finish(TConnection& conn, bool reset);

    void Serve(TConnection& conn);
    bool ReadQueryLine(int fd, std::string& raw);
    void Record(const std::string& raw, const std::string& query, const std::string& peer);
    bool ChooseReply(const std::string& query, std::string& reply) const;
    bool ReplyFromFolder(const std::string& query, std::string& reply) const;
    bool Pause(int fd, int ms);
    bool SendAll(int fd, const char* data, std::size_t size);
    bool DrainSendQueue(int fd);
    TWait WatchPeer(int fd, TClock::time_point deadline);

    void ServeNormal(TConnection& conn, const std::string& reply);
    void ServeReset(TConnection& conn, const std::string& reply);
    void ServeHuge(TConnection& conn);
    void ServeDrip(TConnection& conn, const std::string& reply);
    void ServeSilent(TConnection& conn);

    bool IsFlakyTurn(const TConnection& conn) const;
    int SecondsUntilToken(const std::string& peer);
    void ServeThrottled(TConnection& conn, int seconds);
};

bool TFakeWhoisServer::TState::Listen() {
    // Backlog 0 lets exactly one connection wait; FillBacklog takes that place
    // so the kernel drops every further SYN and a client's connect hangs.
    const int backlog = Options.Mode == TFakeWhoisMode::NoAccept ? 0 : SOMAXCONN;
    if (!Listener.Listen(Options.Host, Options.Port, backlog)) {
        Error = Listener.Error();
        return false;
    }
    return true;
}

// Connects to ourselves until a connect no longer completes: from then on the
// accept queue is full and nobody else gets in either.
bool TFakeWhoisServer::TState::FillBacklog() {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(Listener.ListenFd(), reinterpret_cast<sockaddr*>(&addr), &len);
    constexpr int KMaxFillers = 16;
    for (int i = 0; i < KMaxFillers; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return Fail("socket");
        }
        int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (rc != 0 && errno != EINPROGRESS) {
            close(fd);
            return Fail("connect to own backlog");
        }
        if (rc != 0) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 100) == 0) {
                close(fd); // this one hangs: the queue is full
                return true;
            }
        }
        FillerFds.push_back(fd);
    }
    Error = "the listen backlog could not be filled";
    return false;
}

bool TFakeWhoisServer::TState::Accept() {
    TLoopbackServer::THooks hooks{
        .Make = [] { return std::make_shared<TConnection>(); },
        .Serve = [this](TServedConnection& conn) { Serve(static_cast<TConnection&>(conn)); },
        .Opened =
            [this](TServedConnection&) {
                ReleaseClosedByPeer();
                CountOpened();
            },
        .NotStarted = [this](TServedConnection& conn) { Release(static_cast<TConnection&>(conn)); },
    };
    if (!Listener.Accept(std::move(hooks))) {
        Error = Listener.Error();
        return false;
    }
    return true;
}

void TFakeWhoisServer::TState::CountOpened() {
    int now = ++Open;
    int peak = MaxOpen.load();
    while (now > peak && !MaxOpen.compare_exchange_weak(peak, now)) {
    }
}

void TFakeWhoisServer::TState::Release(TConnection& conn) {
    if (conn.Counted.exchange(false)) {
        --Open;
    }
}

// A client that closed its end (time-out, early close) no longer counts as
// open, even when the connection's own thread has not noticed yet: a client
// that closes one and opens the next must not look like two at once.
void TFakeWhoisServer::TState::ReleaseClosedByPeer() {
    std::lock_guard lock(Listener.ConnectionsMutex());
    std::vector<pollfd> fds;
    std::vector<TConnection*> owners;
    for (const auto& served : Listener.Connections()) {
        auto* conn = static_cast<TConnection*>(served.get());
        if (conn->Fd >= 0 && conn->Counted.load()) {
            fds.push_back({conn->Fd, POLLRDHUP, 0});
            owners.push_back(conn);
        }
    }
    if (fds.empty() || poll(fds.data(), fds.size(), 0) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            Release(*owners[i]);
        }
    }
}

void TFakeWhoisServer::TState::Finish(TConnection& conn, bool reset) {
    // Counted down before the FIN leaves, so a client that saw the close
    // never finds this connection still counted.
    Release(conn);
    {
        std::lock_guard lock(Listener.ConnectionsMutex());
        if (reset) {
            linger cut{1, 0};
            setsockopt(conn.Fd, SOL_SOCKET, SO_LINGER, &cut, sizeof cut);
        }
        close(conn.Fd);
        conn.Fd = -1;
    }
    conn.Done = true;
}

bool TFakeWhoisServer::TState::ReadQueryLine(int fd, std::string& raw) {
    char buf[1024];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            std::size_t before = raw.size();
            raw.append(buf, static_cast<std::size_t>(n));
            std::size_t lf = raw.find('\n', before);
            if (lf != std::string::npos) {
                raw.resize(lf + 1);
                return true;
            }
            if (raw.size() >= KMaxQueryBytes) {
                raw.resize(KMaxQueryBytes);
                return true;
            }
            continue;
        }
        if (n == 0) {
            return !raw.empty(); // a query without line end still counts
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        if (WaitFor(Listener.WakeFd(), fd, POLLIN, TClock::time_point::max(), nullptr) !=
            TWait::Ready) {
            return false;
        }
    }
}

void TFakeWhoisServer::TState::Record(const std::string& raw, const std::string& query,
                                      const std::string& peer) {
    std::lock_guard lock(LogMutex);
    if (Options.KeepQueries) {
        RawQueries.push_back(raw);
        Queries.push_back(query);
        QueryPeers.push_back(peer);
    }
    if (Log != nullptr) {
        std::fwrite(query.data(), 1, query.size(), Log);
        std::fputc('\n', Log);
        std::fflush(Log);
    }
}

bool TFakeWhoisServer::TState::ReplyFromFolder(const std::string& query, std::string& reply) const {
    if (Options.RepliesDir.empty()) {
        return false;
    }
    const std::filesystem::path dir(Options.RepliesDir);
    std::vector<std::string> names;
    if (IsPlainFileName(query)) {
        names.push_back(query);
    }
    std::string tld = TextAfterLastDot(query);
    if (IsPlainFileName(tld)) {
        names.push_back(tld);
    }
    names.push_back("default");
    for (const auto& name : names) {
        if (ReadRegularFile(dir / name, reply) || ReadRegularFile(dir / (name + ".txt"), reply)) {
            return true;
        }
    }
    return false;
}

bool TFakeWhoisServer::TState::ChooseReply(const std::string& query, std::string& reply) const {
    if (Options.Responder) {
        reply = Options.Responder(query);
        if (!reply.empty()) {
            return true;
        }
    }
    if (ReplyFromFolder(query, reply)) {
        return true;
    }
    reply = Options.FallbackReply;
    return !reply.empty();
}

// Waits ms unless the server stops or the client resets the connection.
bool TFakeWhoisServer::TState::Pause(int fd, int ms) {
    if (ms <= 0) {
        return true;
    }
    auto deadline = After(ms);
    for (;;) {
        short revents = 0;
        TWait w = WaitFor(Listener.WakeFd(), fd, 0, deadline, &revents);
        if (w == TWait::TimeUp) {
            return true;
        }
        if (w == TWait::Stopped || (revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
}

bool TFakeWhoisServer::TState::SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false; // the client went away
        }
        if (WaitFor(Listener.WakeFd(), fd, POLLOUT, TClock::time_point::max(), nullptr) ==
            TWait::Stopped) {
            return false;
        }
    }
    return true;
}

// A reset throws away whatever is still unsent, so the bytes meant to arrive
// first must have left before the connection is cut.
bool TFakeWhoisServer::TState::DrainSendQueue(int fd) {
    auto deadline = After(KResetDrainMs);
    for (;;) {
        int unsent = 0;
        if (ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0) {
            return true;
        }
        if (TClock::now() >= deadline || !Pause(fd, 1)) {
            return false;
        }
    }
}

// Waits until the deadline, discarding anything the client sends; PeerGone
// (Ready) when the client closed or reset its end.
TWait TFakeWhoisServer::TState::WatchPeer(int fd, TClock::time_point deadline) {
    char scratch[512];
    for (;;) {
        short revents = 0;
        TWait w = WaitFor(Listener.WakeFd(), fd, POLLIN, deadline, &revents);
        if (w != TWait::Ready) {
            return w;
        }
        ssize_t n = recv(fd, scratch, sizeof scratch, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return TWait::Ready;
        }
    }
}

void TFakeWhoisServer::TState::ServeNormal(TConnection& conn, const std::string& reply) {
    int fd = conn.Fd;
    if (!Pause(fd, Options.LatencyMs)) {
        return Finish(conn, false);
    }
    std::size_t chunk = Options.ChunkBytes == 0 ? reply.size() : Options.ChunkBytes;
    for (std::size_t at = 0; at < reply.size(); at += chunk) {
        if (at > 0 && !Pause(fd, Options.ChunkPauseMs)) {
            break;
        }
        if (!SendAll(fd, reply.data() + at, std::min(chunk, reply.size() - at))) {
            break;
        }
    }
    Finish(conn, false);
}

void TFakeWhoisServer::TState::ServeReset(TConnection& conn, const std::string& reply) {
    int fd = conn.Fd;
    if (Pause(fd, Options.LatencyMs) &&
        SendAll(fd, reply.data(), std::min(Options.ResetAfterBytes, reply.size()))) {
        DrainSendQueue(fd);
    }
    Finish(conn, true);
}

void TFakeWhoisServer::TState::ServeHuge(TConnection& conn) {
    int fd = conn.Fd;
    if (!Pause(fd, Options.LatencyMs)) {
        return Finish(conn, false);
    }
    std::size_t lineNo = 0;
    std::size_t left = Options.HugeBytes;
    while (left > 0) {
        std::string block = HugeBlock(lineNo);
        std::size_t size = std::min(left, block.size());
        if (!SendAll(fd, block.data(), size)) {
            break;
        }
        left -= size;
    }
    Finish(conn, false);
}

void TFakeWhoisServer::TState::ServeDrip(TConnection& conn, const std::string& reply) {
    int fd = conn.Fd;
    // An empty reply has no byte to repeat: it drips nothing and closes.
    if (Pause(fd, Options.LatencyMs) && !reply.empty()) {
        int pause = std::max(Options.DripPauseMs, 1);
        for (std::size_t i = 0;; ++i) {
            if (!SendAll(fd, &reply[i % reply.size()], 1)) {
                break;
            }
            if (WatchPeer(fd, After(pause)) != TWait::TimeUp) {
                break;
            }
        }
    }
    Finish(conn, false);
}

void TFakeWhoisServer::TState::ServeSilent(TConnection& conn) {
    WatchPeer(conn.Fd, TClock::time_point::max());
    Finish(conn, false);
}

bool TFakeWhoisServer::TState::IsFlakyTurn(const TConnection& conn) const {
    return Options.FlakyEvery > 0 && conn.Ordinal % Options.FlakyEvery == 0;
}

// Takes a token from the client's bucket: 0 when there was one, else the whole
// seconds until there is (at least 1, so a client that waits them gets in).
int TFakeWhoisServer::TState::SecondsUntilToken(const std::string& peer) {
    if (!(Options.LimitPerSecond > 0)) {
        return 0;
    }
    const double rate = Options.LimitPerSecond;
    const double burst = std::max(Options.LimitBurst, 1);
    const TClock::time_point now = TClock::now();
    std::lock_guard lock(LimitMutex);
    TBucket& bucket = Buckets.try_emplace(peer, TBucket{burst, now}).first->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.Filled).count();
    bucket.Tokens = std::min(burst, bucket.Tokens + elapsed * rate);
    bucket.Filled = now;
    if (bucket.Tokens >= 1) {
        bucket.Tokens -= 1;
        return 0;
    }
    const double wait = std::ceil((1 - bucket.Tokens) / rate);
    return static_cast<int>(std::clamp(wait, 1.0, static_cast<double>(INT_MAX)));
}

void TFakeWhoisServer::TState::ServeThrottled(TConnection& conn, int seconds) {
    ++Throttled;
    const std::string text = ReplaceAll(ReplaceAll(Options.ThrottleText, "{ip}", conn.Peer),
                                        "{seconds}", std::to_string(seconds));
    SendAll(conn.Fd, text.data(), text.size());
    Finish(conn, false);
}

void TFakeWhoisServer::TState::Serve(TConnection& conn) {
    std::string raw;
    if (!ReadQueryLine(conn.Fd, raw)) {
        return Finish(conn, false);
    }
    std::string query = StripLineEnd(raw);
    Record(raw, query, conn.Peer);
    if (IsFlakyTurn(conn)) {
        ++FlakyResets;
        return Finish(conn, true);
    }
    if (int seconds = SecondsUntilToken(conn.Peer); seconds > 0) {
        return ServeThrottled(conn, seconds);
    }
    switch (Options.Mode) {
    case TFakeWhoisMode::Silent:
        return ServeSilent(conn);
    case TFakeWhoisMode::Huge:
        return ServeHuge(conn);
    default:
        break;
    }
    std::string reply;
    if (!ChooseReply(query, reply)) {
        return Finish(conn, false);
    }
    switch (Options.Mode) {
    case TFakeWhoisMode::Drip:
        return ServeDrip(conn, reply);
    case TFakeWhoisMode::Reset:
        return ServeReset(conn, reply);
    default:
        return ServeNormal(conn, reply);
    }
}

TFakeWhoisServer::TFakeWhoisServer(TFakeWhoisOptions options)
    : FState(std::make_unique<TState>(std::move(options))) {}

TFakeWhoisServer::~TFakeWhoisServer() {
    Stop();
}

bool TFakeWhoisServer::Start() {
    TState& s = *FState;
    if (s.Running) {
        s.Error = "already started";
        return false;
    }
    s.Error.clear();
    s.Running = true; // so Stop() cleans up whatever a failed start left
    bool ok =
        s.Options.LogFile.empty() || (s.Log = OpenServerLog(s.Options.LogFile, s.Error)) != nullptr;
    ok = ok && s.Listen();
    if (ok) {
        ok = s.Options.Mode == TFakeWhoisMode::NoAccept ? s.FillBacklog() : s.Accept();
    }
    if (!ok) {
        std::string error = s.Error;
        Stop();
        s.Error = error;
    }
    return ok;
}

void TFakeWhoisServer::Stop() {
    TState& s = *FState;
    if (!s.Running) {
        return;
    }
    s.Listener.Stop();
    for (int fd : s.FillerFds) {
        close(fd);
    }
    s.FillerFds.clear();
    if (s.Log != nullptr) {
        std::fclose(s.Log);
        s.Log = nullptr;
    }
    s.Running = false;
}

int TFakeWhoisServer::Port() const {
    return FState->Listener.Port();
}

std::string TFakeWhoisServer::Address() const {
    return FState->Options.Host + ":" + std::to_string(FState->Listener.Port());
}

const std::string& TFakeWhoisServer::Error() const {
    return FState->Error;
}

std::vector<std::string> TFakeWhoisServer::Queries() const {
    std::lock_guard lock(FState->LogMutex);
    return FState->Queries;
}

std::vector<std::string> TFakeWhoisServer::RawQueries() const {
    std::lock_guard lock(FState->LogMutex);
    return FState->RawQueries;
}

std::vector<std::string> TFakeWhoisServer::QueryPeers() const {
    std::lock_guard lock(FState->LogMutex);
    return FState->QueryPeers;
}

int TFakeWhoisServer::AcceptedCount() const {
    return FState->Listener.AcceptedCount();
}
int TFakeWhoisServer::OpenCount() const {
    return FState->Open.load();
}
int TFakeWhoisServer::MaxOpenCount() const {
    return FState->MaxOpen.load();
}
int TFakeWhoisServer::ThrottledCount() const {
    return FState->Throttled.load();
}
int TFakeWhoisServer::FlakyResetCount() const {
    return FState->FlakyResets.load();
}
