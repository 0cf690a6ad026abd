#include "tools/FakeWhoisServer.h"
#include "tests/support/TestPaths.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

long long MsSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

// What a client saw of one exchange.
struct TExchange {
    std::string Bytes;
    bool Eof = false;   // the server closed normally
    bool Reset = false; // the server reset the connection
    long long FirstByteMs = -1;
    long long ElapsedMs = 0;
};

// from: the loopback address to connect from (default: the kernel's choice).
int Connect(int port, const char* from = nullptr) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from != nullptr) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from, &source.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SendText(int fd, const std::string& text) {
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Reads until the server closes or resets, or until timeoutMs passes.
TExchange ReadFor(int fd, int timeoutMs, std::size_t stopAfter = SIZE_MAX) {
    TExchange ex;
    auto start = TClock::now();
    char buf[65536];
    while (ex.Bytes.size() < stopAfter) {
        long long left = timeoutMs - MsSince(start);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0) {
            break;
        }
        ssize_t n = read(fd, buf, sizeof buf); // read, not recv: also used on a pipe
        if (n > 0) {
            if (ex.FirstByteMs < 0) {
                ex.FirstByteMs = MsSince(start);
            }
            ex.Bytes.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            ex.Eof = true;
            break;
        } else if (errno == ECONNRESET) {
            ex.Reset = true;
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    ex.ElapsedMs = MsSince(start);
    return ex;
}

TExchange Ask(int port, const std::string& sent, int timeoutMs = 3000, const char* from = nullptr) {
    int fd = Connect(port, from);
    EXPECT_GE(fd, 0);
    if (fd < 0) {
        return {};
    }
    SendText(fd, sent);
    TExchange ex = ReadFor(fd, timeoutMs);
    close(fd);
    return ex;
}

// Waits for a condition the server reaches on its own threads.
template <class F> bool Eventually(F condition, int ms = 2000) {
    auto start = TClock::now();
    while (!condition()) {
        if (MsSince(start) > ms) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class TTempDir {
public:
    TTempDir() {
        std::string pattern = std::filesystem::temp_directory_path() / "fakewhois-XXXXXX";
        FPath = mkdtemp(pattern.data());
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    const std::filesystem::path& Path() const { return FPath; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(FPath / name, std::ios::binary) << bytes;
    }

private:
    std::filesystem::path FPath;
};

TFakeWhoisOptions WithReply(const std::string& reply) {
    TFakeWhoisOptions o;
    o.Responder = [reply](const std::string&) { return reply; };
    return o;
}

// ---- Reply lookup -------------------------------------------------------------

struct TLookupCase {
    const char* Query;
    const char* Expected; // "" : closed without a byte
};

class ReplyLookup : public ::testing::TestWithParam<TLookupCase> {
protected:
    static void SetUpTestSuite() {
        Dir = new TTempDir;
        std::filesystem::create_directory(Dir->Path() / "sub");
        Dir->Write("example.com", "domain file");
        Dir->Write("example.com.txt", "domain txt file");
        Dir->Write("txtonly.org.txt", "domain txt only");
        Dir->Write("com", "suffix file");
        Dir->Write("net.txt", "suffix txt file");
        Dir->Write("default.txt", "default txt file");
        Dir->Write("sub/inner", "must not be reached");
        Dir->Write("\xC0\xFD.cn", "gbk name file");
        std::ofstream(Dir->Path().parent_path() / "fakewhois-outside") << "outside";
    }
    static void TearDownTestSuite() {
        std::filesystem::remove(Dir->Path().parent_path() / "fakewhois-outside");
        delete Dir;
    }
    static TTempDir* Dir;
};
TTempDir* ReplyLookup::Dir = nullptr;

TEST_P(ReplyLookup, PicksDomainThenSuffixThenDefault) {
    TFakeWhoisOptions o;
    o.RepliesDir = Dir->Path();
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), std::string(GetParam().Query) + "\r\n");
    EXPECT_EQ(ex.Bytes, GetParam().Expected);
    EXPECT_TRUE(ex.Eof);
}

INSTANTIATE_TEST_SUITE_P(
    Folder, ReplyLookup,
    ::testing::Values(
        TLookupCase{"example.com", "domain file"}, // plain name before ".txt"
        TLookupCase{"txtonly.org", "domain txt only"}, TLookupCase{"other.com", "suffix file"},
        TLookupCase{"other.net", "suffix txt file"},
        TLookupCase{"a.b.net", "suffix txt file"}, // text after the last dot
        TLookupCase{"other.org", "default txt file"}, TLookupCase{"nodot", "default txt file"},
        TLookupCase{"trailing.", "default txt file"}, TLookupCase{"\xC0\xFD.cn", "gbk name file"},
        TLookupCase{"sub/inner", "default txt file"}, // no paths into the folder
        TLookupCase{"../fakewhois-outside", "default txt file"},
        TLookupCase{"..", "default txt file"}));

// An empty reply file sends nothing in every mode that sends the reply, then
// ends the connection as that mode ends it.
TEST(FakeWhoisServer, EmptyReplyFileSendsNothingAndCloses) {
    struct TCase {
        TFakeWhoisMode Mode;
        bool Reset;
    };
    const TCase cases[] = {
        {TFakeWhoisMode::Normal, false},
        {TFakeWhoisMode::Drip, false},
        {TFakeWhoisMode::Reset, true},
    };
    TTempDir dir;
    dir.Write("default", "");
    for (const TCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Mode));
        TFakeWhoisOptions o;
        o.RepliesDir = dir.Path();
        o.Mode = c.Mode;
        o.DripPauseMs = 20;
        TFakeWhoisServer server(o);
        ASSERT_TRUE(server.Start()) << server.Error();
        TExchange ex = Ask(server.Port(), "example.com\r\n", 2000);
        EXPECT_EQ(ex.Bytes, "");
        EXPECT_EQ(ex.Eof, !c.Reset);
        EXPECT_EQ(ex.Reset, c.Reset);
        EXPECT_LT(ex.ElapsedMs, 1000);
        // Still serving.
        EXPECT_EQ(Ask(server.Port(), "example.com\r\n", 2000).Bytes, "");
        EXPECT_EQ(server.Queries().size(), 2u);
    }
}

TEST(FakeWhoisServer, NoMatchClosesWithoutAByte) {
    TTempDir dir;
    dir.Write("com", "suffix");
    TFakeWhoisOptions o;
    o.RepliesDir = dir.Path();
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), "example.net\r\n");
    EXPECT_TRUE(ex.Eof);
    EXPECT_EQ(ex.Bytes, "");
    EXPECT_EQ(server.Queries(), std::vector<std::string>{"example.net"});
}

TEST(FakeWhoisServer, ResponderComesFirstAndEmptyFallsThroughToFolderThenFallback) {
    TTempDir dir;
    dir.Write("com", "from folder");
    TFakeWhoisOptions o;
    o.RepliesDir = dir.Path();
    o.FallbackReply = "fallback";
    o.Responder = [](const std::string& q) { return q == "mine.com" ? "responder " + q : ""; };
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    EXPECT_EQ(Ask(server.Port(), "mine.com\r\n").Bytes, "responder mine.com");
    EXPECT_EQ(Ask(server.Port(), "other.com\r\n").Bytes, "from folder");
    EXPECT_EQ(Ask(server.Port(), "other.net\r\n").Bytes, "fallback");
}

// ---- Query log ------------------------------------------------------------------

struct TQueryCase {
    std::string Sent;
    bool HalfClose; // client shuts its sending side after the bytes
    std::string Raw;
    std::string Line;
};

class QueryLog : public ::testing::TestWithParam<TQueryCase> {};

TEST_P(QueryLog, KeepsRawBytesAndLine) {
    const TQueryCase& c = GetParam();
    TTempDir dir;
    TFakeWhoisOptions o = WithReply("ok");
    o.LogFile = dir.Path() / "queries.log";
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    SendText(fd, c.Sent);
    if (c.HalfClose) {
        shutdown(fd, SHUT_WR);
    }
    TExchange ex = ReadFor(fd, 3000);
    close(fd);
    EXPECT_EQ(ex.Bytes, "ok");
    EXPECT_EQ(server.RawQueries(), std::vector<std::string>{c.Raw});
    EXPECT_EQ(server.Queries(), std::vector<std::string>{c.Line});
    EXPECT_EQ(testpaths::ReadFileBytes(o.LogFile), c.Line + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, QueryLog,
    ::testing::Values(TQueryCase{"example.com\r\n", false, "example.com\r\n", "example.com"},
                      TQueryCase{"example.com\n", false, "example.com\n", "example.com"},
                      TQueryCase{"=example.com \r\n", false, "=example.com \r\n", "=example.com "},
                      TQueryCase{"\xB0\xA1.cn\r\n", false, "\xB0\xA1.cn\r\n", "\xB0\xA1.cn"},
                      TQueryCase{"a.com\r\nextra", false, "a.com\r\n", "a.com"},
                      TQueryCase{"no-line-end.com", true, "no-line-end.com", "no-line-end.com"},
                      TQueryCase{std::string(5000, 'x'), false, std::string(4096, 'x'),
                                 std::string(4096, 'x')}));

TEST(FakeWhoisServer, LogFileGetsEveryQueryInOrderAndIsAppended) {
    TTempDir dir;
    std::string log = dir.Path() / "q.log";
    dir.Write("q.log", "earlier\n");
    TFakeWhoisOptions o = WithReply("ok");
    o.LogFile = log;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    for (const char* q : {"one.com", "two.net", "three.org"}) {
        Ask(server.Port(), std::string(q) + "\r\n");
    }
    // Flushed per line: readable while the server still runs.
    EXPECT_EQ(testpaths::ReadFileBytes(log), "earlier\none.com\ntwo.net\nthree.org\n");
}

TEST(FakeWhoisServer, ProgramKeepsNoQueriesWhenToldNot) {
    TFakeWhoisOptions o = WithReply("ok");
    o.KeepQueries = false;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n").Bytes, "ok");
    EXPECT_TRUE(server.Queries().empty());
    EXPECT_EQ(server.AcceptedCount(), 1);
}

// ---- Timing of the reply -------------------------------------------------------

TEST(FakeWhoisServer, ChunksWithPausesArriveWhole) {
    std::string reply;
    for (int i = 0; i < 100; ++i) {
        reply += "line " + std::to_string(i) + "\r\n";
    }
    TFakeWhoisOptions o = WithReply(reply);
    o.ChunkBytes = 100;
    o.ChunkPauseMs = 20;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), "a.com\r\n");
    EXPECT_EQ(ex.Bytes, reply);
    EXPECT_TRUE(ex.Eof);
    std::size_t pauses = (reply.size() + 99) / 100 - 1;
    EXPECT_GE(ex.ElapsedMs, static_cast<long long>(pauses * 20) - 5);
}

TEST(FakeWhoisServer, LatencyDelaysTheFirstByte) {
    TFakeWhoisOptions o = WithReply("late");
    o.LatencyMs = 250;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), "a.com\r\n");
    EXPECT_EQ(ex.Bytes, "late");
    EXPECT_GE(ex.FirstByteMs, 240);
}

// ---- Misbehaving modes -----------------------------------------------------------

struct TResetCase {
    std::size_t After;
    std::size_t Expected;
};

class ResetMode : public ::testing::TestWithParam<TResetCase> {};

TEST_P(ResetMode, SendsThePrefixThenResets) {
    std::string reply(1000, 'r');
    TFakeWhoisOptions o = WithReply(reply);
    o.Mode = TFakeWhoisMode::Reset;
    o.ResetAfterBytes = GetParam().After;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), "a.com\r\n");
    EXPECT_TRUE(ex.Reset);
    EXPECT_FALSE(ex.Eof);
    EXPECT_EQ(ex.Bytes.size(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Prefix, ResetMode,
                         ::testing::Values(TResetCase{0, 0}, TResetCase{10, 10},
                                           TResetCase{999, 999}, TResetCase{5000, 1000}));

TEST(FakeWhoisServer, HugeSendsExactlyThatManyBytesOfTextLines) {
    TFakeWhoisOptions o;
    o.Mode = TFakeWhoisMode::Huge;
    o.HugeBytes = (3u << 20) + 17;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    TExchange ex = Ask(server.Port(), "a.com\r\n", 5000);
    EXPECT_TRUE(ex.Eof);
    ASSERT_EQ(ex.Bytes.size(), o.HugeBytes);
    EXPECT_EQ(ex.Bytes.find('\0'), std::string::npos);
    EXPECT_EQ(ex.Bytes.substr(0, 8), "Remarks:");
    EXPECT_NE(ex.Bytes.find("\r\nRemarks:"), std::string::npos);
}

TEST(FakeWhoisServer, ClientThatLeavesEarlyDoesNotHurtTheServer) {
    TFakeWhoisOptions o;
    o.Mode = TFakeWhoisMode::Huge;
    o.HugeBytes = 256u << 20;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    for (int i = 0; i < 3; ++i) {
        int fd = Connect(server.Port());
        ASSERT_GE(fd, 0);
        SendText(fd, "a.com\r\n");
        EXPECT_GE(ReadFor(fd, 3000, 4096).Bytes.size(), 4096u);
        close(fd); // unread bytes: the server's next send meets a reset
    }
    EXPECT_TRUE(Eventually([&] { return server.OpenCount() == 0; }));
    // Still serving after the broken pipes.
    int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    SendText(fd, "a.com\r\n");
    EXPECT_FALSE(ReadFor(fd, 3000, 1).Bytes.empty());
    close(fd);
}

struct TStaysOpenCase {
    TFakeWhoisMode Mode;
    std::size_t MinBytes;
    std::size_t MaxBytes;
};

class StaysOpen : public ::testing::TestWithParam<TStaysOpenCase> {};

TEST_P(StaysOpen, UntilStopWhichReturnsFast) {
    TFakeWhoisOptions o = WithReply("ab");
    o.Mode = GetParam().Mode;
    o.DripPauseMs = 100;
    auto server = std::make_unique<TFakeWhoisServer>(o);
    ASSERT_TRUE(server->Start()) << server->Error();
    std::vector<int> fds;
    for (int i = 0; i < 3; ++i) {
        fds.push_back(Connect(server->Port()));
        ASSERT_GE(fds.back(), 0);
        SendText(fds.back(), "a.com\r\n");
    }
    TExchange ex = ReadFor(fds[0], 450);
    EXPECT_FALSE(ex.Eof);
    EXPECT_FALSE(ex.Reset);
    EXPECT_GE(ex.Bytes.size(), GetParam().MinBytes);
    EXPECT_LE(ex.Bytes.size(), GetParam().MaxBytes);
    EXPECT_EQ(ex.Bytes, std::string("ababab").substr(0, ex.Bytes.size()));
    EXPECT_EQ(server->OpenCount(), 3);

    auto start = TClock::now();
    server->Stop();
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(server->OpenCount(), 0);
    for (int fd : fds) {
        TExchange rest = ReadFor(fd, 1000);
        EXPECT_TRUE(rest.Eof || rest.Reset);
        close(fd);
    }
}

// Drip sends its first byte at once, then one every 100 ms: 4 or 5 in 450 ms.
INSTANTIATE_TEST_SUITE_P(Modes, StaysOpen,
                         ::testing::Values(TStaysOpenCase{TFakeWhoisMode::Silent, 0, 0},
                                           TStaysOpenCase{TFakeWhoisMode::Drip, 3, 6}));

TEST(FakeWhoisServer, DripEndsWhenTheClientCloses) {
    TFakeWhoisOptions o = WithReply("x");
    o.Mode = TFakeWhoisMode::Drip;
    o.DripPauseMs = 20;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    int fd = Connect(server.Port());
    SendText(fd, "a.com\r\n");
    EXPECT_FALSE(ReadFor(fd, 100).Bytes.empty());
    close(fd);
    EXPECT_TRUE(Eventually([&] { return server.OpenCount() == 0; }));
}

TEST(FakeWhoisServer, NoAcceptLeavesConnectsHanging) {
    TFakeWhoisOptions o = WithReply("never");
    o.Mode = TFakeWhoisMode::NoAccept;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ASSERT_EQ(rc, -1);
    ASSERT_EQ(errno, EINPROGRESS);
    pollfd p{fd, POLLOUT, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0) << "connect completed";
    close(fd);
    EXPECT_EQ(server.AcceptedCount(), 0);
    auto start = TClock::now();
    server.Stop();
    EXPECT_LT(MsSince(start), 500);
}

// ---- Connection counts ---------------------------------------------------------

TEST(FakeWhoisServer, CountsConcurrentConnectionsExactly) {
    TFakeWhoisOptions o = WithReply("ok");
    o.LatencyMs = 200;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    constexpr int KClients = 6;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> clients;
        std::vector<TExchange> seen(KClients);
        for (int i = 0; i < KClients; ++i) {
            clients.emplace_back([&, i] { seen[i] = Ask(server.Port(), "a.com\r\n"); });
        }
        for (auto& t : clients) {
            t.join();
        }
        for (const auto& ex : seen) {
            EXPECT_EQ(ex.Bytes, "ok");
        }
        // Counted down before the close reached the clients: no waiting needed.
        EXPECT_EQ(server.OpenCount(), 0);
    }
    EXPECT_EQ(server.AcceptedCount(), 2 * KClients);
    EXPECT_EQ(server.MaxOpenCount(), KClients);
}

TEST(FakeWhoisServer, ClientCloseCountsBeforeTheNextConnection) {
    TFakeWhoisOptions o;
    o.Mode = TFakeWhoisMode::Silent;
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    for (int i = 0; i < 20; ++i) {
        int fd = Connect(server.Port());
        ASSERT_GE(fd, 0);
        SendText(fd, "a.com\r\n");
        ASSERT_TRUE(Eventually([&] { return server.AcceptedCount() == i + 1; }));
        close(fd); // a client giving up at its time-out, then trying the next
    }
    EXPECT_EQ(server.MaxOpenCount(), 1);
    EXPECT_TRUE(Eventually([&] { return server.OpenCount() == 0; }));
}

TEST(FakeWhoisServer, KeepsUpWithManyConcurrentClients) {
    TFakeWhoisOptions o;
    o.Responder = [](const std::string& q) { return "Domain Name: " + q + "\r\n"; };
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    constexpr int KClients = 20;
    constexpr int KEach = 50;
    std::atomic<int> wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < KClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < KEach; ++i) {
                std::string q = "d" + std::to_string(c) + "-" + std::to_string(i) + ".com";
                if (Ask(server.Port(), q + "\r\n").Bytes != "Domain Name: " + q + "\r\n") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.AcceptedCount(), KClients * KEach);
    EXPECT_EQ(server.Queries().size(), static_cast<std::size_t>(KClients * KEach));
    EXPECT_EQ(server.OpenCount(), 0);
    EXPECT_LE(server.MaxOpenCount(), KClients);
}

// ---- Start-up --------------------------------------------------------------------

TEST(FakeWhoisServer, StartFailsOnAPortInUseAndOnABadHost) {
    TFakeWhoisServer first(WithReply("a"));
    ASSERT_TRUE(first.Start()) << first.Error();
    EXPECT_EQ(first.Address(), "127.0.0.1:" + std::to_string(first.Port()));

    TFakeWhoisOptions taken = WithReply("b");
    taken.Port = first.Port();
    TFakeWhoisServer second(taken);
    EXPECT_FALSE(second.Start());
    EXPECT_FALSE(second.Error().empty());

    TFakeWhoisOptions badHost = WithReply("c");
    badHost.Host = "not-an-address";
    TFakeWhoisServer third(badHost);
    EXPECT_FALSE(third.Start());
    EXPECT_FALSE(third.Error().empty());
}

// ---- Limit per client and flaky connections -------------------------------------

// One outcome per connection, in order: A answered, T throttle text, R reset.
struct TLimitCase {
    const char* Name;
    double PerSecond;
    int Burst;
    int FlakyEvery;
    const char* Outcomes;
};

class LimitAndFlaky : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(LimitAndFlaky, AnswerThrottleOrResetInTurn) {
    const TLimitCase& c = GetParam();
    TFakeWhoisOptions o = WithReply("answer\r\n");
    o.LimitPerSecond = c.PerSecond;
    o.LimitBurst = c.Burst;
    o.FlakyEvery = c.FlakyEvery;
    o.ThrottleText = "slow\r\n";
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    std::string outcomes;
    for (std::size_t i = 0; c.Outcomes[i] != '\0'; ++i) {
        TExchange ex = Ask(server.Port(), "a.com\r\n");
        outcomes += ex.Reset && ex.Bytes.empty()         ? 'R'
                    : ex.Eof && ex.Bytes == "slow\r\n"   ? 'T'
                    : ex.Eof && ex.Bytes == "answer\r\n" ? 'A'
                                                         : '?';
    }
    EXPECT_EQ(outcomes, c.Outcomes);
    const std::string expected = c.Outcomes;
    EXPECT_EQ(server.ThrottledCount(), std::count(expected.begin(), expected.end(), 'T'));
    EXPECT_EQ(server.FlakyResetCount(), std::count(expected.begin(), expected.end(), 'R'));
    // A reset connection's query was still read.
    EXPECT_EQ(server.Queries().size(), expected.size());
}

// Slow rates, so no token comes back while a case runs.
INSTANTIATE_TEST_SUITE_P(Turns, LimitAndFlaky,
                         ::testing::Values(TLimitCase{"NoLimit", 0, 1, 0, "AAAAA"},
                                           TLimitCase{"BurstOfOne", 0.2, 1, 0, "ATTT"},
                                           TLimitCase{"BurstOfThree", 0.2, 3, 0, "AAATT"},
                                           TLimitCase{"BurstBelowOneIsOne", 0.2, 0, 0, "AT"},
                                           TLimitCase{"EveryThirdReset", 0, 1, 3, "AARAARA"},
                                           TLimitCase{"EveryOneReset", 0, 1, 1, "RRR"},
                                           // A reset takes no token: the limit counts answers.
                                           TLimitCase{"ResetsSpareTokens", 0.2, 2, 2, "ARARTR"}),
                         [](const ::testing::TestParamInfo<TLimitCase>& info) {
                             return info.param.Name;
                         });

TEST(FakeWhoisServer, ThrottleTextNamesTheClientAndTheSecondsToItsNextToken) {
    TFakeWhoisOptions o = WithReply("answer\r\n");
    o.LimitPerSecond = 0.5; // a token every 2 s
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n").Bytes, "answer\r\n");
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n").Bytes,
              "The WHOIS query quota for 127.0.0.1 has been exceeded and will be replenished in 2 "
              "seconds.\r\n");
}

TEST(FakeWhoisServer, LimitIsPerClientAddressAndRefills) {
    TFakeWhoisOptions o = WithReply("answer\r\n");
    o.LimitPerSecond = 2; // a token every 500 ms
    o.ThrottleText = "{ip} waits {seconds} s, {ip}\r\n";
    TFakeWhoisServer server(o);
    ASSERT_TRUE(server.Start()) << server.Error();
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n", 3000, "127.0.0.1").Bytes, "answer\r\n");
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n", 3000, "127.0.0.1").Bytes,
              "127.0.0.1 waits 1 s, 127.0.0.1\r\n");
    // Another client has a bucket of its own.
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n", 3000, "127.0.0.2").Bytes, "answer\r\n");
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n", 3000, "127.0.0.2").Bytes,
              "127.0.0.2 waits 1 s, 127.0.0.2\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(Ask(server.Port(), "a.com\r\n", 3000, "127.0.0.1").Bytes, "answer\r\n");
}

// ---- The program -----------------------------------------------------------------

// A started program; one that a failed assertion left running is killed.
struct TChild {
    pid_t Pid = -1;
    int Out = -1;
    TChild(pid_t pid, int out) : Pid(pid), Out(out) {}
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    TChild(TChild&& other) noexcept
        : Pid(std::exchange(other.Pid, -1)), Out(std::exchange(other.Out, -1)) {}
    ~TChild() {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        if (Out >= 0) {
            close(Out);
        }
    }
    int WaitExit() {
        int status = 0;
        waitpid(std::exchange(Pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TChild StartProgram(const std::vector<std::string>& args) {
    std::string program = testpaths::BuildDir() + "/tools/fake-whois-server";
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {-1, -1};
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        close(pipeFds[0]);
        std::vector<char*> argv{program.data()};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

TEST(FakeWhoisServerProgram, PrintsItsPortServesAndStopsOnSigterm) {
    TChild child = StartProgram({"--port", "0", "--reply", "Domain Name: X\\r\\nfree\\r\\n"});
    ASSERT_GT(child.Pid, 0);
    std::string line;
    while (line.empty() || line.back() != '\n') {
        TExchange more = ReadFor(child.Out, 5000, 1);
        ASSERT_FALSE(more.Bytes.empty()) << line;
        line += more.Bytes;
    }
    const std::string prefix = "listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    int port = std::atoi(line.c_str() + prefix.size());
    ASSERT_GT(port, 0);
    EXPECT_EQ(Ask(port, "a.com\r\n").Bytes, "Domain Name: X\r\nfree\r\n");
    kill(child.Pid, SIGTERM);
    EXPECT_EQ(child.WaitExit(), 0);
}

TEST(FakeWhoisServerProgram, LimitsAndResetsAsTold) {
    TChild child = StartProgram({"--reply", "answer", "--limit", "0.2/s", "--limit-burst", "2",
                                 "--throttle-text", "slow, {seconds} s\\r\\n", "--flaky", "3"});
    ASSERT_GT(child.Pid, 0);
    std::string line;
    while (line.empty() || line.back() != '\n') {
        TExchange more = ReadFor(child.Out, 5000, 1);
        ASSERT_FALSE(more.Bytes.empty()) << line;
        line += more.Bytes;
    }
    int port = std::atoi(line.c_str() + line.rfind(':') + 1);
    ASSERT_GT(port, 0) << line;
    EXPECT_EQ(Ask(port, "a.com\r\n").Bytes, "answer");
    EXPECT_EQ(Ask(port, "a.com\r\n").Bytes, "answer");
    EXPECT_TRUE(Ask(port, "a.com\r\n").Reset);
    EXPECT_EQ(Ask(port, "a.com\r\n").Bytes, "slow, 5 s\r\n");
    kill(child.Pid, SIGTERM);
    EXPECT_EQ(child.WaitExit(), 0);
}

class ProgramArguments : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ProgramArguments, BadOnesExitWithTwo) {
    TChild child = StartProgram(GetParam());
    ASSERT_GT(child.Pid, 0);
    EXPECT_EQ(child.WaitExit(), 2);
    EXPECT_TRUE(ReadFor(child.Out, 1000).Bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bad, ProgramArguments,
    ::testing::Values(
        std::vector<std::string>{"--mode", "loud"}, std::vector<std::string>{"--port", "65536"},
        std::vector<std::string>{"--port", "-1"}, std::vector<std::string>{"--latency", "12ms"},
        std::vector<std::string>{"--latency"}, std::vector<std::string>{"--frobnicate", "1"},
        std::vector<std::string>{"stray"}, std::vector<std::string>{"--limit", "fast"},
        std::vector<std::string>{"--limit", "0/s"}, std::vector<std::string>{"--limit", "-1/s"},
        std::vector<std::string>{"--limit", "nan/s"},
        std::vector<std::string>{"--limit", "1e999/s"}, std::vector<std::string>{"--limit", "5/m"},
        std::vector<std::string>{"--limit-burst", "0"}, std::vector<std::string>{"--flaky", "-1"}));

} // namespace
