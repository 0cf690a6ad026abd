#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"
#include "engine/Unit_FunctionsTesting.h"

#include "tools/FakeWhoisServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::unique_ptr<TFakeWhoisServer> StartAnswering(std::string reply) {
    TFakeWhoisOptions options;
    options.Responder = [reply = std::move(reply)](const std::string&) { return reply; };
    auto server = std::make_unique<TFakeWhoisServer>(std::move(options));
    EXPECT_TRUE(server->Start()) << server->Error();
    return server;
}

// --- GetWhoisReply ------------------------------------------------------------------

TEST(GetWhoisReply, SendsTheDomainLowerCasedWithCrLf) {
    auto server = StartAnswering("Domain Name: EXAMPLE.COM\r\n");
    // 中 in GBK (D6 D0) must pass unchanged: only A-Z are lower-cased.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ExAmPle.COM", "example.com\r\n"},
        {"example.cn", "example.cn\r\n"},
        {"\xD6\xD0XYZ.CN", "\xD6\xD0xyz.cn\r\n"},
        {"A1-Z9.ORG", "a1-z9.org\r\n"},
    };
    for (const auto& [domain, line] : cases)
        EXPECT_EQ(GetWhoisReply(domain, server->Address()), "Domain Name: EXAMPLE.COM\r\n");
    const std::vector<std::string> raw = server->RawQueries();
    ASSERT_EQ(raw.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(raw[i], cases[i].second);
}

struct TReplyCase {
    const char* Name;
    std::string Sent;
    std::string Expected;
};

class GetWhoisReplyTest : public ::testing::TestWithParam<TReplyCase> {};

TEST_P(GetWhoisReplyTest, HoldsTheReplyInGbk) {
    auto server = StartAnswering(GetParam().Sent);
    EXPECT_EQ(GetWhoisReply("example.cn", server->Address()), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetWhoisReplyTest,
    ::testing::Values(TReplyCase{"AsciiByteForByte", "Domain: x\r\nStatus: ok\nEnd\r\n",
                                 "Domain: x\r\nStatus: ok\nEnd\r\n"},
                      // 域名：中文 in UTF-8, then in GBK.
                      TReplyCase{"Utf8ToGbk",
                                 "\xE5\x9F\x9F\xE5\x90\x8D\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87\r\n",
                                 "\xD3\xF2\xC3\xFB\xA3\xBA\xD6\xD0\xCE\xC4\r\n"},
                      // 中文 in GBK is not well-formed UTF-8: kept as it came.
                      TReplyCase{"GbkKept", "Registrant: \xD6\xD0\xCE\xC4\r\n",
                                 "Registrant: \xD6\xD0\xCE\xC4\r\n"},
                      // C3 A9 is 谩 in GBK but also é in UTF-8, so it is read as UTF-8; é is
                      // A8 A6 in GBK.
                      TReplyCase{"GbkThatIsAlsoUtf8", "x \xC3\xA9 y", "x \xA8\xA6 y"},
                      // A character GBK lacks (an emoji) becomes '?', the rest stays.
                      TReplyCase{"CharacterGbkLacks",
                                 "a\xF0\x9F\x98\x80"
                                 "b\r\n",
                                 "a?b\r\n"},
                      // Well-formed by the byte rule, but no decoder takes an over-long form:
                      // each of its bytes turns into '?' and nothing around it is lost.
                      TReplyCase{"OverLongForm",
                                 "a\xC0\x80"
                                 "b \xE4\xB8\xAD",
                                 "a??b \xD6\xD0"}),
    [](const ::testing::TestParamInfo<TReplyCase>& info) { return info.param.Name; });

TEST(GetWhoisReply, LongUtf8ReplyKeepsEveryLine) {
    std::string utf8;
    std::string gbk;
    for (int i = 0; i < 20000; ++i) {
        utf8 += "line " + std::to_string(i) + " \xE4\xB8\xAD\r\n";
        gbk += "line " + std::to_string(i) + " \xD6\xD0\r\n";
    }
    auto server = StartAnswering(utf8);
    EXPECT_EQ(GetWhoisReply("example.cn", server->Address()), gbk);
}

TEST(GetWhoisReply, ServerThatClosesWithoutAByteGivesEmpty) {
    auto server = StartAnswering("");
    EXPECT_EQ(GetWhoisReply("example.com", server->Address()), "");
}

TEST(GetWhoisReply, RefusedConnectionGivesEmpty) {
    std::string address;
    {
        auto server = StartAnswering("x");
        address = server->Address();
    }
    EXPECT_EQ(GetWhoisReply("example.com", address), "");
}

TEST(GetWhoisReply, UnusableServerTextGivesEmpty) {
    for (const char* server : {"", ":43", "127.0.0.1:0", "127.0.0.1:99999", "127.0.0.1:x"})
        EXPECT_EQ(GetWhoisReply("example.com", server), "") << server;
}

TEST(GetWhoisReply, ResetConnectionKeepsWhatArrived) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string&) { return std::string("0123456789abcdef"); };
    options.Mode = TFakeWhoisMode::Reset;
    options.ResetAfterBytes = 10;
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();
    const std::string reply = GetWhoisReply("example.com", server.Address());
    // A reset may overtake bytes still in flight; what arrives is a prefix.
    EXPECT_LE(reply.size(), 10u);
    EXPECT_EQ(reply, std::string("0123456789").substr(0, reply.size()));
}

TEST(GetWhoisReply, ManyThreadsAtOnce) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) { return "reply for " + query + "\n"; };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();
    std::vector<std::string> replies(16);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        threads.emplace_back([&, i] {
            replies[i] = GetWhoisReply("D" + std::to_string(i) + ".COM", server.Address());
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < replies.size(); ++i)
        EXPECT_EQ(replies[i], "reply for d" + std::to_string(i) + ".com\n");
}

// --- GetHostIP ------------------------------------------------------------------------

TEST(GetHostIP, NumericAddressesAndLocalhost) {
    EXPECT_EQ(GetHostIP("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(GetHostIP("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(GetHostIP("localhost"), "127.0.0.1");
}

// A name service that knows a fixed set of names and records what it was asked.
struct TFakeNameService {
    std::vector<std::pair<std::string, std::string>> Known;
    std::vector<std::string> Asked;

    std::string operator()(const std::string& name) {
        Asked.push_back(name);
        for (const auto& [known, address] : Known) {
            if (known == name)
                return address;
        }
        return "";
    }
};

std::string LookUp(TFakeNameService& service, std::string_view name) {
    return unitfunctions_testing::GetHostIPUsing(
        name, [&service](const std::string& host) { return service(host); });
}

TEST(GetHostIP, OwnAddressComesFirst) {
    TFakeNameService service{{{"example.com", "10.0.0.1"}, {"www.example.com", "10.9.9.9"}}, {}};
    EXPECT_EQ(LookUp(service, "example.com"), "10.0.0.1");
    EXPECT_EQ(service.Asked, std::vector<std::string>{"example.com"});
}

TEST(GetHostIP, FallsBackToTheWwwName) {
    TFakeNameService service{{{"www.example.com", "192.168.1.20"}}, {}};
    EXPECT_EQ(LookUp(service, "example.com"), "192.168.1.20");
    EXPECT_EQ(service.Asked, (std::vector<std::string>{"example.com", "www.example.com"}));
}

TEST(GetHostIP, NeitherNameResolves) {
    TFakeNameService service;
    EXPECT_EQ(LookUp(service, "example.com"), "");
    EXPECT_EQ(service.Asked, (std::vector<std::string>{"example.com", "www.example.com"}));
}

TEST(GetHostIP, WwwNameIsTriedWithASecondWww) {
    TFakeNameService service;
    EXPECT_EQ(LookUp(service, "www.example.com"), "");
    EXPECT_EQ(service.Asked, (std::vector<std::string>{"www.example.com", "www.www.example.com"}));
}

TEST(GetHostIP, NameIsUsedAsPassed) {
    TFakeNameService service;
    LookUp(service, " Example.COM ");
    EXPECT_EQ(service.Asked, (std::vector<std::string>{" Example.COM ", "www. Example.COM "}));
}

TEST(GetHostIP, AFailingNameServiceGivesEmpty) {
    EXPECT_EQ(unitfunctions_testing::GetHostIPUsing(
                  "example.com",
                  [](const std::string&) -> std::string { throw std::runtime_error("down"); }),
              "");
}

} // namespace
