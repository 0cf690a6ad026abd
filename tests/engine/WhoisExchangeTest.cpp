#include "engine/WhoisExchange.h"

#include "tests/support/LoopbackPorts.h"
#include "tools/FakeWhoisServer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using TClock = std::chrono::steady_clock;

// Small bounds keep the tests of the bounds fast; the rest stay generous so
// a loaded machine cannot make a normal exchange strike one.
TWhoisBounds SmallBounds() {
    TWhoisBounds bounds;
    bounds.Connect = 300ms;
    bounds.Idle = 300ms;
    bounds.Whole = 5s;
    return bounds;
}

std::unique_ptr<TFakeWhoisServer> StartServer(TFakeWhoisOptions options) {
    auto server = std::make_unique<TFakeWhoisServer>(std::move(options));
    EXPECT_TRUE(server->Start()) << server->Error();
    return server;
}

TFakeWhoisOptions Answering(std::string reply) {
    TFakeWhoisOptions options;
    options.Responder = [reply = std::move(reply)](const std::string&) { return reply; };
    return options;
}

struct TTimedReply {
    std::string Reply;
    std::chrono::milliseconds Elapsed{};
};

TTimedReply TimedExchange(const std::string& server, std::string_view query,
                          const TWhoisBounds& bounds = TWhoisBounds{}) {
    const auto start = TClock::now();
    TTimedReply result;
    result.Reply = ExchangeWhois(server, query, bounds);
    result.Elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
    return result;
}

// --- Server address -------------------------------------------------------

struct TAddressCase {
    const char* Text;
    bool Accepted;
    const char* Host;
    int Port;
};

class SplitServerAddressTest : public ::testing::TestWithParam<TAddressCase> {};

TEST_P(SplitServerAddressTest, SplitsOrRejects) {
    const TAddressCase& c = GetParam();
    std::string host = "unchanged";
    int port = -7;
    ASSERT_EQ(SplitServerAddress(c.Text, host, port), c.Accepted) << '"' << c.Text << '"';
    if (c.Accepted) {
        EXPECT_EQ(host, c.Host);
        EXPECT_EQ(port, c.Port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitServerAddressTest,
    ::testing::Values(TAddressCase{"whois.example.com", true, "whois.example.com", 43},
                      TAddressCase{"127.0.0.1:4343", true, "127.0.0.1", 4343},
                      TAddressCase{"h:1", true, "h", 1}, TAddressCase{"h:65535", true, "h", 65535},
                      TAddressCase{"h:0043", true, "h", 43}, TAddressCase{"", false, "", 0},
                      TAddressCase{":43", false, "", 0}, TAddressCase{"h:", false, "", 0},
                      TAddressCase{"h:0", false, "", 0}, TAddressCase{"h:65536", false, "", 0},
                      TAddressCase{"h:999999", false, "", 0}, TAddressCase{"h:4x", false, "", 0},
                      TAddressCase{"h:-1", false, "", 0}, TAddressCase{"h:+43", false, "", 0},
                      TAddressCase{"h: 43", false, "", 0}));

TEST(WhoisExchangeTest, DefaultBoundsAreTenFifteenSixtySecondsAndFourMebibytes) {
    const TWhoisBounds bounds;
    EXPECT_EQ(bounds.Connect, 10s);
    EXPECT_EQ(bounds.Idle, 15s);
    EXPECT_EQ(bounds.Whole, 60s);
    EXPECT_EQ(bounds.MaxReplyBytes, 4u * 1024 * 1024);
}

// --- What goes over the wire ---------------------------------------------

class QueryBytesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(QueryBytesTest, ArriveExactlyAsSent) {
    auto server = StartServer(Answering("ok\r\n"));
    EXPECT_EQ(ExchangeWhois(server->Address(), GetParam()), "ok\r\n");
    const std::vector<std::string> raw = server->RawQueries();
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0], GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryBytesTest,
                         ::testing::Values(std::string("example.com\r\n"),
                                           std::string("Mixed.CASE.Com\r\n"),
                                           // GBK bytes of "中文" go out unconverted
                                           std::string("\xD6\xD0\xCE\xC4.com\r\n")));

struct TReplyCase {
    const char* Name;
    std::string Reply;
};

class ReplyBytesTest : public ::testing::TestWithParam<TReplyCase> {};

TEST_P(ReplyBytesTest, ComeBackByteForByte) {
    auto server = StartServer(Answering(GetParam().Reply));
    EXPECT_EQ(ExchangeWhois(server->Address(), "example.com\r\n"), GetParam().Reply);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyBytesTest,
    ::testing::Values(TReplyCase{"CrLf", "Domain Name: EXAMPLE.COM\r\nRegistrar: X\r\n"},
                      TReplyCase{"Lf", "Domain Name: EXAMPLE.COM\nRegistrar: X\n"},
                      TReplyCase{"Mixed", "a\r\nb\nc\rd\r\n\r\n\n"}, TReplyCase{"NoLineEnd", "x"},
                      // "域名" in UTF-8 and in GBK: the exchange converts neither
                      TReplyCase{"Utf8", "\xE5\x9F\x9F\xE5\x90\x8D: x\r\n"},
                      TReplyCase{"Gbk", "\xD3\xF2\xC3\xFB: x\r\n"},
                      TReplyCase{"ZeroBytes", std::string("a\0b\0\r\n", 6)}),
    [](const ::testing::TestParamInfo<TReplyCase>& info) { return std::string(info.param.Name); });

// --- When the reply ends -------------------------------------------------

TEST(WhoisExchangeTest, SlowReplyInChunksWithPausesOverAQuarterSecondIsWhole) {
    const std::string reply = "Domain Name: SLOW.COM\r\nStatus: ok\r\n";
    TFakeWhoisOptions options = Answering(reply);
    options.LatencyMs = 300;
    options.ChunkBytes = 10;
    options.ChunkPauseMs = 300;
    auto server = StartServer(std::move(options));
    EXPECT_EQ(ExchangeWhois(server->Address(), "slow.com\r\n"), reply);
}

TEST(WhoisExchangeTest, PausesUnderTheDefaultIdleBoundDoNotEndTheReply) {
    const std::string reply = "first half\r\nsecond half\r\n";
    TFakeWhoisOptions options = Answering(reply);
    options.ChunkBytes = 12;
    options.ChunkPauseMs = 1500;
    auto server = StartServer(std::move(options));
    EXPECT_EQ(ExchangeWhois(server->Address(), "slow.com\r\n"), reply);
}

TEST(WhoisExchangeTest, EndsAsSoonAsTheServerCloses) {
    auto server = StartServer(Answering("Domain Name: FAST.COM\r\n"));
    // The quickest of a few tries: a busy machine may slow one, but a reply
    // that waits for a poll slice after the close would take 250 ms every time.
    auto quickest = std::chrono::milliseconds::max();
    for (int i = 0; i < 3; ++i) {
        const TTimedReply result = TimedExchange(server->Address(), "fast.com\r\n");
        EXPECT_EQ(result.Reply, "Domain Name: FAST.COM\r\n");
        quickest = std::min(quickest, result.Elapsed);
    }
    EXPECT_LT(quickest, 200ms);
}

TEST(WhoisExchangeTest, ServerThatClosesWithoutAByteGivesEmpty) {
    auto server = StartServer(Answering(""));
    const TTimedReply result = TimedExchange(server->Address(), "none.com\r\n", SmallBounds());
    EXPECT_EQ(result.Reply, "");
    EXPECT_LT(result.Elapsed, 300ms); // not the idle bound
    EXPECT_EQ(server->AcceptedCount(), 1);
}

TEST(WhoisExchangeTest, RefusedConnectionGivesEmptyAtOnce) {
    const TRefusingPort port;
    ASSERT_NE(port.Port(), 0);
    TWhoisBounds bounds;
    bounds.Connect = 5s;
    const TTimedReply result =
        TimedExchange("127.0.0.1:" + std::to_string(port.Port()), "x.com\r\n", bounds);
    EXPECT_EQ(result.Reply, "");
    EXPECT_LT(result.Elapsed, 2s);
}

TEST(WhoisExchangeTest, SilentServerEndsAtTheIdleBoundWithEmpty) {
    TFakeWhoisOptions options = Answering("never sent\r\n");
    options.Mode = TFakeWhoisMode::Silent;
    auto server = StartServer(std::move(options));
    const TTimedReply result = TimedExchange(server->Address(), "quiet.com\r\n", SmallBounds());
    EXPECT_EQ(result.Reply, "");
    EXPECT_GE(result.Elapsed, 300ms);
    EXPECT_LT(result.Elapsed, 3s);
}

TEST(WhoisExchangeTest, DrippingServerEndsAtTheWholeBoundWithWhatArrived) {
    TFakeWhoisOptions options = Answering("x");
    options.Mode = TFakeWhoisMode::Drip;
    options.DripPauseMs = 50;
    auto server = StartServer(std::move(options));
    TWhoisBounds bounds = SmallBounds();
    bounds.Whole = 700ms; // longer than the idle bound, which the drip never lets strike
    const TTimedReply result = TimedExchange(server->Address(), "drip.com\r\n", bounds);
    EXPECT_GE(result.Elapsed, 700ms);
    EXPECT_LT(result.Elapsed, 3s);
    EXPECT_GE(result.Reply.size(), 3u);
    EXPECT_EQ(result.Reply, std::string(result.Reply.size(), 'x'));
}

TEST(WhoisExchangeTest, ReplyIsCutAtExactlyTheSizeCap) {
    std::string reply;
    for (int i = 0; reply.size() < 300'000; ++i)
        reply += "line " + std::to_string(i) + "\r\n";
    auto server = StartServer(Answering(reply));
    TWhoisBounds bounds;
    bounds.MaxReplyBytes = 100'000;
    EXPECT_EQ(ExchangeWhois(server->Address(), "big.com\r\n", bounds), reply.substr(0, 100'000));
}

TEST(WhoisExchangeTest, ReplyOfExactlyTheSizeCapIsWhole) {
    const std::string reply(100'000, 'r');
    auto server = StartServer(Answering(reply));
    TWhoisBounds bounds;
    bounds.MaxReplyBytes = reply.size();
    EXPECT_EQ(ExchangeWhois(server->Address(), "big.com\r\n", bounds), reply);
    bounds.MaxReplyBytes = reply.size() - 1;
    EXPECT_EQ(ExchangeWhois(server->Address(), "big.com\r\n", bounds),
              reply.substr(0, reply.size() - 1));
}

TEST(WhoisExchangeTest, EndlessReplyStopsAtTheDefaultCapOfFourMebibytes) {
    TFakeWhoisOptions options;
    options.Mode = TFakeWhoisMode::Huge;
    options.HugeBytes = 6u << 20;
    auto server = StartServer(std::move(options));
    EXPECT_EQ(ExchangeWhois(server->Address(), "huge.com\r\n").size(), 4u << 20);
}

TEST(WhoisExchangeTest, ResetMidReplyKeepsTheBytesBeforeIt) {
    const std::string reply = "Domain Name: RESET.COM\r\nRegistrar: cut here";
    TFakeWhoisOptions options = Answering(reply);
    options.Mode = TFakeWhoisMode::Reset;
    options.ResetAfterBytes = 24;
    auto server = StartServer(std::move(options));
    const TTimedReply result = TimedExchange(server->Address(), "reset.com\r\n", SmallBounds());
    EXPECT_EQ(result.Reply, reply.substr(0, 24));
    EXPECT_LT(result.Elapsed, 3s);
}

TEST(WhoisExchangeTest, NeverAcceptingServerEndsAtTheConnectBoundWithEmpty) {
    TFakeWhoisOptions options = Answering("never sent\r\n");
    options.Mode = TFakeWhoisMode::NoAccept;
    auto server = StartServer(std::move(options));
    TWhoisBounds bounds = SmallBounds();
    bounds.Idle = 3s; // a connect that went through would wait this long
    const TTimedReply result = TimedExchange(server->Address(), "wait.com\r\n", bounds);
    EXPECT_EQ(result.Reply, "");
    EXPECT_GE(result.Elapsed, 300ms);
    EXPECT_LT(result.Elapsed, 2s);
}

TEST(WhoisExchangeTest, UnusableServerNamesGiveEmpty) {
    // "no such host!" is no host name, so the name service rejects it without
    // asking DNS; the others fail before any lookup.
    for (const char* server : {"", ":43", "127.0.0.1:0", "127.0.0.1:70000", "no such host!"}) {
        const TTimedReply result = TimedExchange(server, "x.com\r\n", SmallBounds());
        EXPECT_EQ(result.Reply, "") << '"' << server << '"';
        EXPECT_LT(result.Elapsed, 2s) << '"' << server << '"';
    }
}

// --- What ended the exchange ---------------------------------------------

// One way a server behaves, what the exchange then says ended it, and the
// words for it. Address: the server to ask (it may start one) given the
// server holder the case fills.
struct TEndCase {
    const char* Name;
    std::function<std::string(std::unique_ptr<TFakeWhoisServer>&, TRefusingPort&)> Address;
    TExchangeEnd End;
    const char* Description; // the start of DescribeExchangeEnd's text
    int ReplyBytes;          // -1: some, how many depends on the timing
};

std::function<std::string(std::unique_ptr<TFakeWhoisServer>&, TRefusingPort&)>
Serving(TFakeWhoisMode mode, std::string reply = "Domain Name: X.COM\r\n") {
    return [mode, reply](std::unique_ptr<TFakeWhoisServer>& server, TRefusingPort&) {
        TFakeWhoisOptions options = Answering(reply);
        options.Mode = mode;
        options.DripPauseMs = 20;
        options.ResetAfterBytes = 5;
        options.HugeBytes = 10'000;
        server = StartServer(std::move(options));
        return server->Address();
    };
}

std::function<std::string(std::unique_ptr<TFakeWhoisServer>&, TRefusingPort&)>
Named(std::string address) {
    return [address](std::unique_ptr<TFakeWhoisServer>&, TRefusingPort&) { return address; };
}

class ExchangeEndTest : public ::testing::TestWithParam<TEndCase> {};

TEST_P(ExchangeEndTest, SaysWhatEndedIt) {
    const TEndCase& c = GetParam();
    std::unique_ptr<TFakeWhoisServer> server;
    TRefusingPort refusing;
    const std::string address = c.Address(server, refusing);
    TWhoisBounds bounds = SmallBounds();
    bounds.Whole = 700ms; // longer than the idle bound, which a drip never lets strike
    bounds.MaxReplyBytes = 1000;
    const TExchangeResult result = RunWhoisExchange(address, "x.com\r\n", bounds);
    EXPECT_EQ(result.End, c.End);
    if (c.ReplyBytes >= 0) {
        EXPECT_EQ(result.Reply.size(), static_cast<std::size_t>(c.ReplyBytes));
    } else {
        EXPECT_GE(result.Reply.size(), 3u);
    }
    const std::string text = DescribeExchangeEnd(result, address, bounds);
    EXPECT_TRUE(text.starts_with(c.Description)) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeEndTest,
    ::testing::Values(TEndCase{"Normal", Serving(TFakeWhoisMode::Normal), TExchangeEnd::Closed,
                               "closed by the server", 20},
                      TEndCase{"Silent", Serving(TFakeWhoisMode::Silent), TExchangeEnd::IdleBound,
                               "no byte for 300 ms", 0},
                      TEndCase{"Drip", Serving(TFakeWhoisMode::Drip), TExchangeEnd::WholeBound,
                               "cut after 700 ms", -1},
                      TEndCase{"Reset", Serving(TFakeWhoisMode::Reset), TExchangeEnd::Reset,
                               "connection reset", 5},
                      TEndCase{"Huge", Serving(TFakeWhoisMode::Huge), TExchangeEnd::SizeBound,
                               "cut at 1000 bytes", 1000},
                      TEndCase{"NoAccept", Serving(TFakeWhoisMode::NoAccept),
                               TExchangeEnd::ConnectBound, "no connection within 300 ms", 0},
                      TEndCase{"RefusedPort",
                               [](std::unique_ptr<TFakeWhoisServer>&, TRefusingPort& port) {
                                   return "127.0.0.1:" + std::to_string(port.Port());
                               },
                               TExchangeEnd::Refused, "connection refused by 127.0.0.1:", 0},
                      // Names the resolver refuses before it would ask DNS: no packet leaves.
                      TEndCase{"NoHostName", Named("no such host!"), TExchangeEnd::NameLookupFailed,
                               "name lookup of no such host! failed", 0},
                      TEndCase{"ZeroByteInName", Named(std::string("localhost\0.example", 17)),
                               TExchangeEnd::NameLookupFailed, "name lookup of localhost", 0},
                      TEndCase{"EmptyHost", Named(":43"), TExchangeEnd::NameLookupFailed,
                               "name lookup of ", 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(WhoisExchangeTest, TwentyExchangesAtOnceEachGetTheirOwnReply) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) { return "Reply for " + query + "\r\n"; };
    options.LatencyMs = 100; // keeps the exchanges open at the same time
    auto server = StartServer(std::move(options));
    constexpr int ThreadCount = 20;
    std::vector<std::string> replies(ThreadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < ThreadCount; ++i) {
        threads.emplace_back([i, &replies, address = server->Address()] {
            replies[i] = ExchangeWhois(address, "d" + std::to_string(i) + ".com\r\n");
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < ThreadCount; ++i)
        EXPECT_EQ(replies[i], "Reply for d" + std::to_string(i) + ".com\r\n");
    EXPECT_EQ(server->AcceptedCount(), ThreadCount);
    EXPECT_GT(server->MaxOpenCount(), 1);
}

// --- Address lookup ------------------------------------------------------

struct TLookupCase {
    const char* Name;
    const char* Address;
};

class ResolveIPv4Test : public ::testing::TestWithParam<TLookupCase> {};

TEST_P(ResolveIPv4Test, GivesTheFirstAddressOrEmpty) {
    EXPECT_EQ(ResolveIPv4(GetParam().Name), GetParam().Address);
}

// Only names the name service answers without DNS: the hosts file, numeric
// addresses, and texts that are no host name at all.
INSTANTIATE_TEST_SUITE_P(Cases, ResolveIPv4Test,
                         ::testing::Values(TLookupCase{"localhost", "127.0.0.1"},
                                           TLookupCase{"10.0.0.1", "10.0.0.1"},
                                           TLookupCase{"192.168.100.254", "192.168.100.254"},
                                           TLookupCase{"0.0.0.0", "0.0.0.0"}, TLookupCase{"", ""},
                                           TLookupCase{"no such host!", ""}));

TEST(ResolveIPv4Test, NameWithAZeroByteInsideGivesEmpty) {
    EXPECT_EQ(ResolveIPv4(std::string("127.0.0.1\0x", 11)), "");
}

TEST(ResolveIPv4Test, ResolvesOnManyThreadsAtOnce) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 50; ++i) {
                if (ResolveIPv4("localhost") != "127.0.0.1" ||
                    ResolveIPv4("10.1.2.3") != "10.1.2.3")
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
