#include "batch/QueryWhois.h"

#include "engine/QueryDomain.h"

#include "tests/support/FakeWhois.h"
#include "tests/support/RunJob.h"
#include "tools/FakeRdapServer.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string FM = "\xA4\xF6";
const std::string RegLabel = "\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:";             // 注册时间:
const std::string ExpLabel = "\xB5\xBD\xC6\xDA\xCA\xB1\xBC\xE4:";             // 到期时间:
const std::string EmailLabel = "\xD3\xCA\xCF\xE4:";                           // 邮箱:
const std::string Failed = "  \xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC\xC1\xCB  <<<"; // "  查询失败了  <<<"
const std::string TooFrequent = "\xB2\xE9\xD1\xAF\xB9\xFD\xD3\xDA\xC6\xB5\xB7\xB1"; // 查询过于频繁

// "Morvessa Brisvane → " domain " 的查询结果"
std::string Heading(const std::string& domain) {
    return "Morvessa Brisvane \xA1\xFA " + domain + " \xB5\xC4\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB";
}
// The heading of a job's report on a registered name: "...的查询结果：已注册"
std::string RegisteredHeading(const std::string& domain) {
    return Heading(domain) + "\xA3\xBA\xD2\xD1\xD7\xA2\xB2\xE1";
}

// --- The report from its facts ---------------------------------------------------

struct TReportCase {
    const char* Name;
    TWhoisReportFacts Facts;
    std::string Report;
};

TWhoisReportFacts Facts(std::string regTime, std::string expTime, std::string ip, std::string email,
                        std::string fullText = "Domain: abc.com\n") {
    return TWhoisReportFacts{"abc.com",          fullText.size(), std::move(regTime),
                             std::move(expTime), std::move(ip),   std::move(email),
                             std::move(fullText)};
}

TWhoisReportFacts WithReplyBytes(TWhoisReportFacts facts, std::size_t bytes) {
    facts.ReplyBytes = bytes;
    return facts;
}

TWhoisReportFacts WithSummary(TWhoisReportFacts facts, std::string summary) {
    facts.Summary = std::move(summary);
    return facts;
}

const std::string H = Heading("abc.com");

class ComposeWhoisReportTest : public ::testing::TestWithParam<TReportCase> {};
TEST_P(ComposeWhoisReportTest, BuildsTheReport) {
    EXPECT_EQ(ComposeWhoisReport(GetParam().Facts), GetParam().Report);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ComposeWhoisReportTest,
    ::testing::Values(
        TReportCase{"EveryField", Facts("2001-02-03", "2030-12-31", "1.2.3.4", "a@b.com"),
                    H + "\r\n\r\n" + RegLabel + "2001-02-03" + FM + ExpLabel + "2030-12-31" + FM +
                        "IP:1.2.3.4" + FM + EmailLabel + "a@b.com" + "\r\n\r\nDomain: abc.com"},
        // Heading, three empty lines, the reply.
        TReportCase{"NoFieldLongEnough", Facts("2001", "2030", "1.2.3.", "a@b.cn"),
                    H + "\r\n\r\n\r\n\r\nDomain: abc.com"},
        TReportCase{"FiveByteDatesShown", Facts("20011", "20302", "", ""),
                    H + "\r\n\r\n" + RegLabel + "20011" + FM + ExpLabel + "20302" +
                        "\r\n\r\nDomain: abc.com"},
        TReportCase{"OnlyExpiryBeginsWithFieldMark", Facts("", "2030-12-31", "", ""),
                    H + "\r\n\r\n" + FM + ExpLabel + "2030-12-31\r\n\r\nDomain: abc.com"},
        TReportCase{"SevenByteAddressAndEmail", Facts("", "", "1.2.3.4", "a@bc.cn"),
                    H + "\r\n\r\n" + FM + "IP:1.2.3.4" + FM + EmailLabel +
                        "a@bc.cn\r\n\r\nDomain: abc.com"},
        TReportCase{"EmailMessageShown", Facts("", "", "", TooFrequent),
                    H + "\r\n\r\n" + FM + EmailLabel + TooFrequent + "\r\n\r\nDomain: abc.com"},
        // A reply's own CR LF becomes CR CR LF; trailing blank lines go.
        TReportCase{"EveryLfBecomesCrLf", Facts("", "", "", "", "a\r\nb\nc\r\n\r\n  \t"),
                    H + "\r\n\r\n\r\n\r\na\r\r\nb\r\nc"},
        TReportCase{"NoReplyAtAll", WithReplyBytes(Facts("", "", "", "", ""), 0),
                    "abc.com" + Failed},
        TReportCase{"TwoBytesAreNoReply", WithReplyBytes(Facts("", "", "", "", "ok\n"), 2),
                    "abc.com" + Failed + "\r\n\r\nok"},
        TReportCase{"ThreeBytesAreAReply", WithReplyBytes(Facts("", "", "", "", "ok!"), 3),
                    H + "\r\n\r\n\r\n\r\nok!"},
        // The failure line replaces the heading and fields, the replies stay.
        TReportCase{"FailedReferral",
                    WithReplyBytes(Facts("2001-02-03", "", "", "", "first\n\n"), 0),
                    "abc.com" + Failed + "\r\n\r\nfirst"},
        // The verdict follows the heading after "：".
        TReportCase{"VerdictAfterTheHeading", WithSummary(Facts("", "", "", ""), "verdict"),
                    H + "\xA3\xBAverdict\r\n\r\n\r\n\r\nDomain: abc.com"}),
    [](const auto& info) { return info.param.Name; });

// --- The job against fake servers -------------------------------------------------

// What the completion handler saw.
struct TOutcome {
    bool Ended = false;
    bool OnUiThread = false;
    std::string Report, WhoisInfo, ReferralServer, RegTime, ExpTime, Email, IPAddress;
    TExchangeEnd ExchangeEnd = TExchangeEnd::OtherError;
    std::string ExchangeEndText;
};

TOutcome RunJob(const std::string& domain, bool showIPAddress = false,
                std::function<std::string(std::string_view)> resolve = nullptr) {
    TOutcome out;
    auto* job = new TQueryWhois(domain, showIPAddress);
    job->ResolveHost = std::move(resolve);
    RunJobToEnd<TQueryWhois>(job, [&](TQueryWhois& q) {
        out = TOutcome{true,
                       QThread::currentThread() == qApp->thread(),
                       q.Report,
                       q.WhoisInfo,
                       q.ReferralServer,
                       q.RegTime,
                       q.ExpTime,
                       q.Email,
                       q.IPAddress,
                       q.ExchangeEnd,
                       q.ExchangeEndText};
    });
    return out;
}

const std::string RegisteredReply = "Domain Name: ABC.COM\r\n"
                                    "Creation Date: 1997-09-15T04:00:00Z\r\n"
                                    "Expiration Date: 14-sep-2028\r\n"
                                    "Registrant Email: owner@abc.example\r\n";

TEST(QueryWhoisJobTest, ReplyWithoutReferralGivesHeadingFieldsAndReply) {
    auto server = StartServer(Always(RegisteredReply));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    const TOutcome out = RunJob("ABC.com");
    ASSERT_TRUE(out.Ended);
    EXPECT_TRUE(out.OnUiThread);
    EXPECT_EQ(out.Report, RegisteredHeading("ABC.com") + "\r\n\r\n" + RegLabel +
                              "1997-09-15T04 00 00Z" + FM + ExpLabel + "14-09-2028" + FM +
                              EmailLabel + "owner@abc.example\r\n\r\n" +
                              "Domain Name: ABC.COM\r\r\n"
                              "Creation Date: 1997-09-15T04:00:00Z\r\r\n"
                              "Expiration Date: 14-sep-2028\r\r\n"
                              "Registrant Email: owner@abc.example");
    EXPECT_EQ(server->Queries(), std::vector<std::string>{"abc.com"});
}

// With TAVIREL_WHOIS_SERVER set the referral is asked of that same server.
TEST(QueryWhoisJobTest, ReferralIsAlwaysFollowedAndShownAfterTheFirstReply) {
    const std::string referralReply =
        "Creation Date: 2099-01-01\r\nEmail: owner@registrar.example\r\n";
    const std::string firstReply = "Creation Date: 1997-09-15\r\nWhois Server: "
                                   "whois.registrar.example\r\nadmin@first.example\r\n";
    auto server = StartServer(InTurn({firstReply, referralReply}));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());

    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(out.ReferralServer, "whois.registrar.example");
    EXPECT_EQ(server->Queries(), (std::vector<std::string>{"abc.com", "abc.com"}));
    EXPECT_EQ(out.WhoisInfo, referralReply);
    // The dates from the first reply, the address from the referral reply.
    EXPECT_EQ(out.RegTime, "1997-09-15");
    EXPECT_EQ(out.Email, "owner@registrar.example");
    EXPECT_EQ(out.Report, RegisteredHeading("abc.com") + "\r\n\r\n" + RegLabel + "1997-09-15" + FM +
                              EmailLabel + "owner@registrar.example\r\n\r\n" +
                              "Creation Date: 1997-09-15\r\r\nWhois Server: "
                              "whois.registrar.example\r\r\nadmin@first.example\r\r\n\r\n\r\n" +
                              "Creation Date: 2099-01-01\r\r\nEmail: owner@registrar.example");
}

// A referral the guard refuses is not asked; the report keeps the first reply
// and says why.
TEST(QueryWhoisJobTest, RefusedReferralIsNamedAfterTheFirstReply) {
    auto target = StartServer(Always("Email: owner@elsewhere.example\r\n"));
    ASSERT_TRUE(target);
    for (const std::string& referral : {target->Address(), std::string("192.168.1.1")}) {
        const std::string firstReply = "Creation Date: 1997-09-15\r\nWhois Server: " + referral;
        auto server = StartServer(Always(firstReply));
        ASSERT_TRUE(server);
        TWhoisServerOverride to(server->Address());
        const TOutcome out = RunJob("abc.com");
        EXPECT_EQ(server->AcceptedCount(), 1) << referral;
        EXPECT_EQ(out.WhoisInfo, firstReply) << referral;
        const std::string refusal = "\r\n\r\nreferral to " + referral + " refused: '" + referral;
        EXPECT_NE(out.Report.find(refusal), std::string::npos) << out.Report;
    }
    EXPECT_EQ(target->AcceptedCount(), 0);
}

TEST(QueryWhoisJobTest, ReferralGivingTheSameReplyIsShownOnce) {
    std::unique_ptr<TFakeWhoisServer> server;
    std::string reply;
    server = StartServer([&reply](const std::string&) { return reply; });
    ASSERT_TRUE(server);
    reply = "Registrar: One\r\nWhois Server: whois.one.example\r\nEmail: a@one.example";
    TWhoisServerOverride to(server->Address());
    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(server->AcceptedCount(), 2);
    EXPECT_EQ(out.Report,
              RegisteredHeading("abc.com") + "\r\n\r\n" + FM + EmailLabel +
                  "a@one.example\r\n\r\nRegistrar: One\r\r\nWhois Server: whois.one.example"
                  "\r\r\nEmail: a@one.example");
}

TEST(QueryWhoisJobTest, FailedReferralGivesFailureLineThenFirstReply) {
    // The referral's exchange ends without a byte.
    auto first = StartServer(
        InTurn({"Creation Date: 1997-09-15\r\nWhois Server: whois.registrar.example\r\n", ""}));
    ASSERT_TRUE(first);
    TWhoisServerOverride to(first->Address());
    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(out.WhoisInfo, "");
    EXPECT_EQ(out.Report, "abc.com" + Failed +
                              "\r\n\r\nCreation Date: 1997-09-15\r\r\nWhois Server: "
                              "whois.registrar.example");
}

TEST(QueryWhoisJobTest, FailedFirstExchangeGivesTheFailureLineAlone) {
    auto server = StartServer(Always(""));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(out.Report, "abc.com" + Failed);
    // The server closed without a byte: the job can say so.
    EXPECT_EQ(out.ExchangeEnd, TExchangeEnd::Closed);
    EXPECT_EQ(out.ExchangeEndText, "closed by the server");
}

// "127.1" (5 bytes) would reach 127.0.0.1:43, where nothing answers: asking
// it would turn the report into the failure form.
TEST(QueryWhoisJobTest, ReferralOfFiveBytesIsNotAsked) {
    auto server = StartServer(Always("Registrar: One\r\nWhois Server: 127.1\r\n"));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(out.ReferralServer, "127.1");
    EXPECT_EQ(out.Report, RegisteredHeading("abc.com") +
                              "\r\n\r\n\r\n\r\nRegistrar: One\r\r\nWhois Server: 127.1");
}

TEST(QueryWhoisJobTest, ReferralOfSixBytesIsAsked) {
    auto server = StartServer(InTurn({"Whois Server: abc.cn\r\n", "second\r\n"}));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    const TOutcome out = RunJob("abc.com");
    EXPECT_EQ(server->Queries(), (std::vector<std::string>{"abc.com", "abc.com"}));
    EXPECT_EQ(out.WhoisInfo, "second\r\n");
}

// A suffix served only over RDAP: the report's summary, then the answer as
// indented JSON.
TEST(QueryWhoisJobTest, RdapAnswerIsShownAsIndentedJsonUnderTheSummary) {
    TFakeRdapOptions options;
    options.Responder = [](const TFakeRdapRequest&) {
        return std::optional<TFakeRdapResponse>(TFakeRdapResponse{
            200,
            {},
            R"({"objectClassName":"domain","ldhName":"abc.info","events":[)"
            R"({"eventAction":"registration","eventDate":"2001-02-03T04:05:06Z"},)"
            R"({"eventAction":"expiration","eventDate":"2031-02-03"}]})"});
    };
    TFakeRdapServer rdap(std::move(options));
    ASSERT_TRUE(rdap.Start()) << rdap.Error();
    TScopedEnv base("TAVIREL_RDAP_BASE", rdap.BaseUrl());
    TWhoisServerOverride none("");
    const TOutcome out = RunJob("abc.info");
    EXPECT_EQ(rdap.Requests(), std::vector<std::string>{"/domain/abc.info"});
    const std::string summary = RegisteredHeading("abc.info") + "\r\n\r\n" + RegLabel +
                                "2001-02-03T04 05 06Z" + FM + ExpLabel + "2031-02-03\r\n\r\n";
    ASSERT_EQ(out.Report.rfind(summary, 0), 0u) << out.Report;
    EXPECT_NE(out.Report.find("RDAP " + rdap.BaseUrl() + ": HTTP 200 from 127.0.0.1"),
              std::string::npos)
        << out.Report;
    EXPECT_NE(out.Report.find("{\r\n"), std::string::npos) << out.Report;
    EXPECT_NE(out.Report.find("\r\n  \"ldhName\": \"abc.info\""), std::string::npos) << out.Report;
}

TEST(QueryWhoisJobTest, InvalidNamesGiveAnEmptyReportWithoutConnecting) {
    auto server = StartServer(Always(RegisteredReply));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    for (const char* name : {" abc.com", "abc.com ", "my_name.com", "abc.com.cn"}) {
        const TOutcome out = RunJob(name);
        ASSERT_TRUE(out.Ended) << name;
        EXPECT_EQ(out.Report, "") << name;
    }
    EXPECT_EQ(server->AcceptedCount(), 0);
}

TEST(QueryWhoisJobTest, AddressIsLookedUpOnlyWhenAsked) {
    auto server = StartServer(Always("Domain Name: ABC.COM\r\nRegistrar: One\r\n"));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    std::atomic<int> lookups = 0;
    auto resolve = [&lookups](std::string_view name) {
        ++lookups;
        return name == "abc.com" ? std::string("1.2.3.4") : std::string();
    };
    const TOutcome with = RunJob("abc.com", true, resolve);
    EXPECT_EQ(with.IPAddress, "1.2.3.4");
    EXPECT_EQ(with.Report, RegisteredHeading("abc.com") + "\r\n\r\n" + FM +
                               "IP:1.2.3.4\r\n\r\nDomain Name: ABC.COM\r\r\nRegistrar: One");
    EXPECT_EQ(lookups, 1);

    const TOutcome without = RunJob("abc.com", false, resolve);
    EXPECT_EQ(without.IPAddress, "");
    EXPECT_EQ(lookups, 1);
}

TEST(QueryWhoisJobTest, RateLimitAddressShowsTooFrequent) {
    auto server = StartServer(Always("Contact: " + std::string(RateLimitAddress) + "\r\n"));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    EXPECT_EQ(RunJob("abc.com").Email, TooFrequent);
}

} // namespace
