#include "engine/QueryDomain.h"
#include "tests/support/FakeWhois.h"
#include "tests/support/LocalRegistryData.h"
#include "tests/support/RunJob.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ShippedRegistryData.h"
#include "tools/FakeRdapServer.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string FM = "\xA4\xF6";
const std::string RegLabel = "\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:";        // 注册时间:
const std::string ExpLabel = "\xB5\xBD\xC6\xDA\xCA\xB1\xBC\xE4:";        // 到期时间:
const std::string EmailLabel = "\xD3\xCA\xCF\xE4:";                      // 邮箱:
const std::string Failed = "  \xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC\xC1\xCB"; // "  查询失败了"
const std::string NoInfo = " \xCE\xDE\xB7\xB5\xBB\xD8\xD0\xC5\xCF\xA2 "; // " 无返回信息 "
const std::string TooFrequent = "\xB2\xE9\xD1\xAF\xB9\xFD\xD3\xDA\xC6\xB5\xB7\xB1"; // 查询过于频繁
const std::string NoEmail =
    "\xCE\xB4\xB7\xB5\xBB\xD8\xD3\xCA\xCF\xE4\xD0\xC5\xCF\xA2"; // 未返回邮箱信息
const std::string End = "  <<<";

// --- Reading the reply ------------------------------------------------------------

struct TReadCase {
    const char* Name;
    std::string Reply;
    std::string Value;
};

class ReadRegTimeTest : public ::testing::TestWithParam<TReadCase> {};
TEST_P(ReadRegTimeTest, PicksAndNormalises) {
    EXPECT_EQ(ReadRegTime(GetParam().Reply), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRegTimeTest,
    ::testing::Values(TReadCase{"DotsAndColons", "Registration Date: 2009.03.01 10:20:30\r\n",
                                "2009 03 01 10 20 30"},
                      TReadCase{"MonthNameAndCapitals", "Creation Date: 15-Jan-2005t00:00:00z\n",
                                "15-01-2005T00 00 00Z"},
                      TReadCase{"FourBlanksBecomeTwo", "created: 2001    05\n", "2001  05"},
                      TReadCase{"LaterMarkerWhileShort",
                                "Creation Date: 1\nCreated on: 2002-02-02\n", "2002-02-02"},
                      // ": 209" (5 bytes) is not settled; the last marker's empty result stands.
                      TReadCase{"ShortValueGivesWayToActivated", "Creation Date: 209\n", ""},
                      TReadCase{"ActivatedOnly", "Activated: 2010-10-10\n", "2010-10-10"},
                      TReadCase{"FirstMarkerWinsWhenLongEnough",
                                "registered: 2003-03-03\ncreation date: 2004-04-04\n",
                                "2004-04-04"},
                      TReadCase{"NoMarker", "Domain Name: example.com\n", ""},
                      TReadCase{"Empty", "", ""}),
    [](const auto& info) { return info.param.Name; });

class ReadExpTimeTest : public ::testing::TestWithParam<TReadCase> {};
TEST_P(ReadExpTimeTest, PicksAndNormalises) {
    EXPECT_EQ(ReadExpTime(GetParam().Reply), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReadExpTimeTest,
    ::testing::Values(
        TReadCase{"MonthName", "Expiration Date: 14-sep-2011\n", "14-09-2011"},
        TReadCase{"ExpiresOn", "Expires on: 2012.01.02\n", "2012 01 02"},
        TReadCase{"NoticeAloneHidesLaterDates",
                  "Expiration Date: displayed in this record is the date the\n"
                  "Expires on: 2012-01-02\n",
                  ""},
        TReadCase{"WordsAfterNoticeStay",
                  "Expiration Date: Displayed In This Record Is The Date The registrar's\n",
                  " REGISTRAR'S"},
        TReadCase{"RegistryExpiryDate",
                  "Creation Date: 1997-09-15T04:00:00Z\n"
                  "Registry Expiry Date: 2028-09-14T04:00:00Z\n",
                  "2028-09-14T04 00 00Z"},
        TReadCase{"RegistrarExpirationDate",
                  "Registrar Registration Expiration Date: 2028-09-13T07:00:00+0000\n",
                  "2028-09-13T07 00 00+0000"},
        // An empty registrar field does not hide the registry's date.
        TReadCase{"EmptyRegistrarFieldThenRegistryDate",
                  "Registrar Registration Expiration Date: \n"
                  "Registry Expiry Date: 2028-09-14T04:00:00Z\n",
                  "2028-09-14T04 00 00Z"},
        // The older markers come first, as before.
        TReadCase{"ExpirationDateBeforeExpiryDate",
                  "Expiry Date: 2030-01-01\nExpiration Date: 2029-01-01\n", "2029-01-01"},
        TReadCase{"NoMarker", "Creation Date: 2001-01-01\n", ""}),
    [](const auto& info) { return info.param.Name; });

class ReadEmailTest : public ::testing::TestWithParam<TReadCase> {};
TEST_P(ReadEmailTest, FirstAddressOrMessage) {
    EXPECT_EQ(ReadEmail(GetParam().Reply), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReadEmailTest,
    ::testing::Values(TReadCase{"FirstAddress", "a\nEmail: Owner.Name@Example.co.uk\nx@y.com\n",
                                "Owner.Name@Example.co.uk"},
                      TReadCase{"NoAddress", "no at sign here\n", ""},
                      TReadCase{"RateLimitAddress",
                                "Contact: " + std::string(RateLimitAddress) + "\n", TooFrequent},
                      TReadCase{"RateLimitAddressSecondIsIgnored",
                                "Email: a@b.cn\n" + std::string(RateLimitAddress) + "\n", "a@b.cn"},
                      // 120 bytes stay, 121 bytes are too long to be an address.
                      TReadCase{"Exactly120Bytes", std::string(112, 'a') + "@b.cn.cn",
                                std::string(112, 'a') + "@b.cn.cn"},
                      TReadCase{"Over120Bytes", std::string(113, 'a') + "@b.cn.cn", NoEmail}),
    [](const auto& info) { return info.param.Name; });

class ReadReferralServerTest : public ::testing::TestWithParam<TReadCase> {};
TEST_P(ReadReferralServerTest, LowerCasedTrimmedHostName) {
    EXPECT_EQ(ReadReferralServer(GetParam().Reply), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReadReferralServerTest,
    ::testing::Values(
        // Month names inside host names stay as they are.
        TReadCase{"MonthLettersKept", "   Registrar WHOIS Server: whois.markmonitor.com\r\n",
                  "whois.markmonitor.com"},
        TReadCase{"ManyMonths", "Whois Server: whois.JanFebDec.net\n", "whois.janfebdec.net"},
        TReadCase{"NoBlank", "Whois Server:WHOIS.GoDaddy.com\n", "whois.godaddy.com"},
        TReadCase{"HostAndPort", "whois server: 127.0.0.1:4343\n", "127.0.0.1:4343"},
        TReadCase{"EmptyValue", "WHOIS Server: \r\nName Server: ns1.example.com\n", ""},
        TReadCase{"LastLineWithoutBreak", "whois server: whois.nic.xx", "whois.nic.xx"},
        TReadCase{"Absent", "Domain Name: example.com\n", ""}),
    [](const auto& info) { return info.param.Name; });

// --- The result line ----------------------------------------------------------------

struct TLineCase {
    const char* Name;
    TQueryFacts Facts;
    TDisplayFlags Flags;
    std::string Line;
};

TQueryFacts Facts(std::size_t replyBytes, std::string reg = "", std::string exp = "",
                  std::string ip = "", std::string email = "") {
    return TQueryFacts{"abc.com", replyBytes, reg, exp, ip, email};
}
TQueryFacts Unknown(TQueryFacts facts, TVerdictReason reason) {
    facts.UnknownReason = reason;
    return facts;
}
constexpr TDisplayFlags AllFlags{true, true, true, true, true};
constexpr TDisplayFlags NoFlags{false, false, false, false, false};
constexpr TDisplayFlags DomainOnly{true, false, false, false, false};

class ComposeResultLineTest : public ::testing::TestWithParam<TLineCase> {};
TEST_P(ComposeResultLineTest, BuildsTheOneForm) {
    EXPECT_EQ(ComposeResultLine(GetParam().Facts, GetParam().Flags), GetParam().Line);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ComposeResultLineTest,
    ::testing::Values(
        TLineCase{"AllFields", Facts(100, "2001 01 01", "2011 01 01", "1.2.3.4", "a@b.com"),
                  AllFlags,
                  "abc.com" + FM + RegLabel + "2001 01 01" + FM + ExpLabel + "2011 01 01" + FM +
                      "IP:1.2.3.4" + FM + EmailLabel + "a@b.com"},
        TLineCase{"DomainHiddenStartsWithMark", Facts(100, "2001 01 01"),
                  TDisplayFlags{false, false, false, true, true}, FM + RegLabel + "2001 01 01"},
        TLineCase{"DomainOnlyIsNoInformation", Facts(100, "2001 01 01"), DomainOnly,
                  "abc.com" + NoInfo + End},
        TLineCase{"NothingShownIsEmpty", Facts(100, "2001 01 01"), NoFlags, ""},
        TLineCase{"TwoByteReplyFails", Facts(2, "2001 01 01"), AllFlags, "abc.com" + Failed + End},
        TLineCase{"FailureEvenWithoutDomainFlag", Facts(0), NoFlags, "abc.com" + Failed + End},
        TLineCase{"ThreeByteReplyIsAReply", Facts(3), DomainOnly, "abc.com" + NoInfo + End},
        TLineCase{"DateOfFourBytesHidden", Facts(100, "2001", "2002"), AllFlags,
                  "abc.com" + NoInfo + End},
        TLineCase{"DateOfFiveBytesShown", Facts(100, "20011", "20022"), AllFlags,
                  "abc.com" + FM + RegLabel + "20011" + FM + ExpLabel + "20022"},
        TLineCase{"AddressOfSixBytesHidden", Facts(100, "", "", "1.2.3."), AllFlags,
                  "abc.com" + NoInfo + End},
        TLineCase{"AddressOfSevenBytesShown", Facts(100, "", "", "1.2.3.4"), AllFlags,
                  "abc.com" + FM + "IP:1.2.3.4"},
        TLineCase{"EmailOfSixBytesHidden", Facts(100, "", "", "", "a@b.cn"), AllFlags,
                  "abc.com" + NoInfo + End},
        TLineCase{"EmailOfSevenBytesShown", Facts(100, "", "", "", "a@bc.cn"), AllFlags,
                  "abc.com" + FM + EmailLabel + "a@bc.cn"},
        TLineCase{"RateLimitMessageShown", Facts(100, "", "", "", TooFrequent), AllFlags,
                  "abc.com" + FM + EmailLabel + TooFrequent},
        TLineCase{"NoEmailMessageShown", Facts(100, "", "", "", NoEmail), AllFlags,
                  "abc.com" + FM + EmailLabel + NoEmail},
        TLineCase{"FlagHidesField", Facts(100, "2001 01 01", "2011 01 01"),
                  TDisplayFlags{true, false, false, false, true},
                  "abc.com" + FM + ExpLabel + "2011 01 01"},
        // An unknown verdict says only that, whatever the reply seemed to hold.
        TLineCase{"ThrottledIsTooFrequent",
                  Unknown(Facts(100, "2001 01 01"), TVerdictReason::Throttled), NoFlags,
                  "abc.com  " + TooFrequent + End},
        TLineCase{"CutIsFailure", Unknown(Facts(100, "2001 01 01"), TVerdictReason::Cut), AllFlags,
                  "abc.com" + Failed + End},
        TLineCase{"UnavailableIsFailure", Unknown(Facts(100), TVerdictReason::Unavailable),
                  DomainOnly, "abc.com" + Failed + End},
        TLineCase{"RefusedNameIsFailure", Unknown(Facts(100), TVerdictReason::InvalidName),
                  AllFlags, "abc.com" + Failed + End}),
    [](const auto& info) { return info.param.Name; });

// --- The job against a fake server ------------------------------------------------

// Records the operations in order and that each ran on the UI thread.
class TRecordingNoRegList : public TNoRegList {
public:
    void Append(const std::string& text) override {
        Check();
        Items.push_back(text);
        Ops.push_back("append " + text);
    }
    int Count() const override {
        Check();
        return static_cast<int>(Items.size());
    }
    void Select(int index) override {
        Check();
        Ops.push_back("select " + std::to_string(index));
    }
    void Check() const {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            OffUiThread = true;
    }

    std::vector<std::string> Items;
    std::vector<std::string> Ops;
    mutable bool OffUiThread = false;
};

// What the completion handler saw.
struct TOutcome {
    bool Ended = false;
    int Index = -1;
    std::string ResultLine, WhoisInfo, ReferralServer, Email;
    std::vector<std::string> FreeWhenEnded;
    TVerdict Verdict;
    TExchangeEnd ExchangeEnd = TExchangeEnd::OtherError;
    std::string ExchangeEndText;
    std::string WordingServer;
    std::string ReferralRefusal;
};

TOutcome RunJob(const std::string& domain, TDisplayFlags flags, TRecordingNoRegList& list,
                unsigned stackSize = 0, std::shared_ptr<const TRegistryData> data = nullptr) {
    TOutcome out;
    auto* job = new TQueryDomain(7, domain, &list, flags.ShowDomain, flags.ShowEmail,
                                 flags.ShowIPAddress, flags.ShowRegTime, flags.ShowExpTime);
    job->RegistryData = std::move(data);
    if (stackSize != 0)
        job->setStackSize(stackSize);
    RunJobToEnd<TQueryDomain>(job, [&](TQueryDomain& q) {
        out = TOutcome{true,
                       q.Index,
                       q.ResultLine,
                       q.WhoisInfo,
                       q.ReferralServer,
                       q.Email,
                       list.Items,
                       q.Verdict,
                       q.ExchangeEnd,
                       q.ExchangeEndText,
                       q.WordingServer,
                       q.ReferralRefusal};
    });
    return out;
}

const std::string RegisteredReply = "Domain Name: ABC.COM\r\n"
                                    "Creation Date: 1997-09-15T04:00:00Z\r\n"
                                    "Expiration Date: 14-sep-2028\r\n"
                                    "Name Server: NS1.ABC.COM\r\n";
const std::string FreeReply = "No match for \"FREE.COM\".\r\n";

const TDisplayFlags Defaults{};
const TDisplayFlags WithEmail{true, true, false, true, true};

TEST(QueryDomainJobTest, RegisteredDomainGivesNormalFormAndKeepsItsSlot) {
    auto server = StartServer([](const std::string&) { return RegisteredReply; });
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("ABC.com", Defaults, list);
    ASSERT_TRUE(out.Ended);
    EXPECT_EQ(out.Index, 7);
    EXPECT_EQ(out.ResultLine,
              "ABC.com" + FM + RegLabel + "1997-09-15T04 00 00Z" + FM + ExpLabel + "14-09-2028");
    EXPECT_EQ(server->Queries(), std::vector<std::string>{"abc.com"});
    EXPECT_TRUE(list.Ops.empty());
}

TEST(QueryDomainJobTest, InvalidNamesMakeNoConnection) {
    auto server = StartServer([](const std::string&) { return FreeReply; });
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    for (const char* name : {"my_name.com", "-name.com", "abc.com.cn"}) {
        TRecordingNoRegList list;
        const TOutcome out = RunJob(name, Defaults, list);
        ASSERT_TRUE(out.Ended) << name;
        EXPECT_EQ(out.ResultLine, "") << name;
        EXPECT_TRUE(list.Ops.empty()) << name;
        EXPECT_EQ(out.Verdict.Kind, TVerdictKind::Unknown) << name;
        EXPECT_EQ(out.Verdict.Reason, TVerdictReason::InvalidName) << name;
    }
    EXPECT_EQ(server->AcceptedCount(), 0);
}

TEST(QueryDomainJobTest, FailedExchangeGivesFailureFormWithoutDomainFlag) {
    auto server = StartServer([](const std::string&) { return std::string(); });
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", NoFlags, list);
    EXPECT_EQ(out.ResultLine, "abc.com" + Failed + End);
    EXPECT_TRUE(list.Ops.empty());
}

TEST(QueryDomainJobTest, FreeDomainIsListedAndSelectedBeforeTheJobEnds) {
    auto server = StartServer([](const std::string&) { return FreeReply; });
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    list.Items = {"older.com"};
    const TOutcome out = RunJob("free.com", Defaults, list);
    EXPECT_EQ(out.FreeWhenEnded, (std::vector<std::string>{"older.com", "free.com"}));
    EXPECT_EQ(list.Ops, (std::vector<std::string>{"append free.com", "select 1"}));
    EXPECT_FALSE(list.OffUiThread);
    EXPECT_EQ(out.ResultLine, "free.com" + NoInfo + End);
}

// The first server refers to a second one; both replies join, referral first.
struct TReferralPair {
    std::unique_ptr<TFakeWhoisServer> First;
    std::unique_ptr<TFakeWhoisServer> Second;
};

// With TAVIREL_WHOIS_SERVER set the referral is asked of that same server,
// so an offline run never leaves the machine.
TEST(QueryDomainJobTest, ReferralReplyComesFirstAndItsAddressWins) {
    const std::string firstReply =
        "No match in this part\r\nWhois Server: whois.registrar.example\r\nadmin@first.example\r\n";
    const std::string registrarReply =
        "Registrant Email: owner@registrar.example\r\nName Server: ns.x.cn\r\n";
    auto server = StartServer(InTurn({firstReply, registrarReply}));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", WithEmail, list);
    EXPECT_EQ(out.ReferralServer, "whois.registrar.example");
    EXPECT_EQ(server->Queries(), (std::vector<std::string>{"abc.com", "abc.com"}));
    EXPECT_EQ(out.WhoisInfo, registrarReply + firstReply);
    EXPECT_EQ(out.Email, "owner@registrar.example");
    EXPECT_EQ(out.ResultLine, "abc.com" + FM + EmailLabel + "owner@registrar.example");
    // The referral's name server outweighs the first reply's not-found marker.
    EXPECT_TRUE(list.Ops.empty());
    EXPECT_EQ(out.Verdict.Kind, TVerdictKind::Registered);
}

TEST(QueryDomainJobTest, WithoutEmailFlagNoReferralIsMade) {
    auto second = StartServer([](const std::string&) { return std::string("x@y.com\r\n"); });
    ASSERT_TRUE(second);
    const std::string firstReply = "Whois Server: " + second->Address() + "\r\n";
    auto first = StartServer([&](const std::string&) { return firstReply; });
    ASSERT_TRUE(first);
    TWhoisServerOverride to(first->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", Defaults, list);
    EXPECT_EQ(second->AcceptedCount(), 0);
    EXPECT_EQ(out.WhoisInfo, firstReply);
}

TEST(QueryDomainJobTest, FailedReferralKeepsTheFirstReply) {
    const std::string firstReply = "Whois Server: 127.0.0.1:1\r\nEmail: a@first.example\r\n";
    auto first = StartServer([&](const std::string&) { return firstReply; });
    ASSERT_TRUE(first);
    TWhoisServerOverride to(first->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", WithEmail, list);
    EXPECT_EQ(out.WhoisInfo, firstReply);
    EXPECT_EQ(out.Email, "a@first.example");
}

TEST(QueryDomainJobTest, RateLimitAddressInReferralShowsTooFrequent) {
    // A registry's record (its registrar shows the name held) naming the referral.
    auto server = StartServer(InTurn({"Registrar WHOIS Server: whois.registrar.example\r\n",
                                      "Contact: " + std::string(RateLimitAddress) + "\r\n"}));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", WithEmail, list);
    EXPECT_EQ(out.ResultLine, "abc.com" + FM + EmailLabel + TooFrequent);
}

// A referral must be longer than 5 bytes to be asked.
TEST(QueryDomainJobTest, ReferralOfSixBytesIsAskedAndOfFiveIsNot) {
    for (const auto& [referral, queries] :
         {std::pair<std::string, std::size_t>{"abc.cn", 2}, {"ab.cn", 1}}) {
        auto server = StartServer(InTurn({"Whois Server: " + referral + "\r\n", "ok\r\n"}));
        ASSERT_TRUE(server);
        TWhoisServerOverride to(server->Address());
        TRecordingNoRegList list;
        const TOutcome out = RunJob("abc.com", WithEmail, list);
        EXPECT_EQ(out.ReferralServer, referral);
        EXPECT_EQ(server->Queries().size(), queries) << referral;
    }
}

// The 5-byte boundary needs a server on port 43 ("127.1" is 5 bytes, "127.01"
// is 6, both 127.0.0.1); it runs where that port can be bound.
// A referral that names an address, a port or a private network is refused:
// no connection, and the first reply's verdict and facts stand.
TEST(QueryDomainJobTest, RefusedReferralMakesNoConnectionAndKeepsTheFirstReply) {
    auto target = StartServer(Always(RegisteredReply));
    ASSERT_TRUE(target);
    // The free of the registry on loopback is confirmed over RDAP: here too.
    TFakeRdapServer rdap(TFakeRdapOptions{});
    ASSERT_TRUE(rdap.Start()) << rdap.Error();
    TScopedEnv rdapBase("TAVIREL_RDAP_BASE", rdap.BaseUrl());
    for (const bool standIn : {false, true}) {
        for (const std::string& referral :
             {target->Address(), std::string("10.1.2.3"), "0:" + std::to_string(target->Port())}) {
            const std::string firstReply = FreeReply + "Whois Server: " + referral + "\r\n";
            auto first = StartServer(Always(firstReply));
            ASSERT_TRUE(first);
            // Without the stand-in the registry itself is on loopback: the
            // registry data routes .xyz there.
            TWhoisServerOverride to(standIn ? first->Address() : "");
            auto data = RegistryDataRoutingTo("xyz", first->Address(), "");
            TRecordingNoRegList list;
            const TOutcome out = RunJob(standIn ? "free.com" : "free.xyz", WithEmail, list, 0,
                                        standIn ? nullptr : data);
            EXPECT_EQ(out.Verdict.Kind, TVerdictKind::Free) << referral;
            EXPECT_EQ(out.WhoisInfo, firstReply) << referral;
            EXPECT_NE(out.ReferralRefusal.find("refused"), std::string::npos) << referral;
            EXPECT_EQ(first->Queries().size(), 1u) << referral;
        }
    }
    EXPECT_EQ(target->AcceptedCount(), 0);
}

TEST(QueryDomainJobTest, JobWhoseThreadCannotStartStillEnds) {
    auto server = StartServer([](const std::string&) { return RegisteredReply; });
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    // A stack this small is refused, so the thread never runs: the name
    // counts as a failed query, not as one that was never in the batch.
    const TOutcome out = RunJob("abc.com", Defaults, list, 1);
    EXPECT_TRUE(out.Ended);
    EXPECT_EQ(out.Index, 7);
    EXPECT_EQ(out.ResultLine, "abc.com" + Failed + End);
    EXPECT_EQ(out.Verdict.Kind, TVerdictKind::Unknown);
    EXPECT_EQ(out.Verdict.Reason, TVerdictReason::Failed);
    EXPECT_EQ(out.Verdict.Detail, "thread not started");
    EXPECT_EQ(server->AcceptedCount(), 0);
}

// How the server answered, what the job decided, and whether the name went
// to the free list: only a free verdict from a complete answer does.
struct TVerdictCase {
    const char* Name;
    TFakeWhoisMode Mode;
    std::string Reply;
    TVerdictKind Kind;
    TVerdictReason Reason;
    TExchangeEnd End;
    bool Listed;
};

class QueryDomainVerdictTest : public ::testing::TestWithParam<TVerdictCase> {};

TEST_P(QueryDomainVerdictTest, OnlyAFreeVerdictReachesTheFreeList) {
    const TVerdictCase& c = GetParam();
    TFakeWhoisOptions options;
    options.Responder = [&c](const std::string&) { return c.Reply; };
    options.Mode = c.Mode;
    options.ResetAfterBytes = c.Reply.size();
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    TWhoisServerOverride to(server.Address());
    TRecordingNoRegList list;
    const TOutcome out = RunJob("abc.com", Defaults, list);
    EXPECT_EQ(out.Verdict.Kind, c.Kind);
    EXPECT_EQ(out.Verdict.Reason, c.Reason);
    EXPECT_EQ(out.ExchangeEnd, c.End);
    EXPECT_EQ(out.ExchangeEndText, DescribeExchangeEnd({"", c.End, 0}, server.Address()));
    EXPECT_EQ(list.Items,
              c.Listed ? std::vector<std::string>{"abc.com"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryDomainVerdictTest,
    ::testing::Values(TVerdictCase{"Free", TFakeWhoisMode::Normal, FreeReply, TVerdictKind::Free,
                                   TVerdictReason::None, TExchangeEnd::Closed, true},
                      TVerdictCase{"Registered", TFakeWhoisMode::Normal, RegisteredReply,
                                   TVerdictKind::Registered, TVerdictReason::Registered,
                                   TExchangeEnd::Closed, false},
                      TVerdictCase{"NoReply", TFakeWhoisMode::Normal, "", TVerdictKind::Unknown,
                                   TVerdictReason::Failed, TExchangeEnd::Closed, false},
                      // The whole not-found text arrived, but the server reset the
                      // connection instead of closing it: more may have been meant.
                      TVerdictCase{"FreeTextThenReset", TFakeWhoisMode::Reset, FreeReply,
                                   TVerdictKind::Unknown, TVerdictReason::Cut, TExchangeEnd::Reset,
                                   false}),
    [](const auto& info) { return std::string(info.param.Name); });

// With TAVIREL_WHOIS_SERVER set, a reply is read in the words of the server
// its suffix would have been asked; without the registry data the suffix
// table names that server.
struct TWordingCase {
    const char* Name;
    std::string Domain;
    std::string Reply;
    bool WithData;
    TVerdictKind Kind;
    std::string WordingServer;
    std::string Line;
};

class QueryDomainWordingTest : public ::testing::TestWithParam<TWordingCase> {};

TEST_P(QueryDomainWordingTest, ReadsTheRegistrysWords) {
    const TWordingCase& c = GetParam();
    auto server = StartServer(Always(c.Reply));
    ASSERT_TRUE(server);
    TWhoisServerOverride to(server->Address());
    TRecordingNoRegList list;
    // The test program's one copy of the data, not freed by the job.
    const std::shared_ptr<const TRegistryData> data =
        c.WithData ? std::shared_ptr<const TRegistryData>(&ShippedRegistryData(), [](auto*) {})
                   : nullptr;
    const TOutcome out =
        RunJob(c.Domain, TDisplayFlags{true, false, false, false, false}, list, 0, data);
    EXPECT_EQ(out.Verdict.Kind, c.Kind);
    EXPECT_EQ(out.WordingServer, c.WordingServer);
    EXPECT_EQ(out.ResultLine, c.Line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryDomainWordingTest,
    ::testing::Values(
        TWordingCase{"SidnFreeText", "abc.nl", "abc.nl is free\r\n", true, TVerdictKind::Free,
                     "whois.domain-registry.nl", "abc.nl" + NoInfo + End},
        // The data lists no port-43 host for .uk; the suffix table still does.
        TWordingCase{"NominetQuota", "abc.uk",
                     "The WHOIS query quota for 127.0.0.1 has been exceeded and will be "
                     "replenished in 3 seconds.\r\n",
                     true, TVerdictKind::Unknown, "whois.nic.uk", "abc.uk  " + TooFrequent + End},
        // Not .nu's words, and no fact of a held name either: unreadable.
        TWordingCase{"SuffixTableWithoutData", "abc.nu", "abc.nu is free\r\n", false,
                     TVerdictKind::Unknown, "whois.iis.nu", "abc.nu" + Failed + End}),
    [](const auto& info) { return std::string(info.param.Name); });

// The verdict in the program's words, as the head of a report says it.
TEST(VerdictSummaryTest, NamesTheVerdictAndItsReason) {
    const struct {
        TVerdict Verdict;
        std::string Summary;
    } cases[] = {
        {{TVerdictKind::Free, TVerdictReason::None, std::nullopt, ""}, "\xCE\xB4\xD7\xA2\xB2\xE1"},
        {{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt, ""},
         "\xD2\xD1\xD7\xA2\xB2\xE1"},
        // "已注册（保留域名）"
        {{TVerdictKind::Registered, TVerdictReason::Reserved, std::nullopt, ""},
         "\xD2\xD1\xD7\xA2\xB2\xE1\xA3\xA8\xB1\xA3\xC1\xF4\xD3\xF2\xC3\xFB\xA3\xA9"},
        // "未知（查询过于频繁，服务器要求等待 60 秒）"
        {{TVerdictKind::Unknown, TVerdictReason::Throttled, std::chrono::seconds(60), ""},
         "\xCE\xB4\xD6\xAA\xA3\xA8" + TooFrequent +
             "\xA3\xAC\xB7\xFE\xCE\xF1\xC6\xF7\xD2\xAA\xC7\xF3\xB5\xC8\xB4\xFD 60 "
             "\xC3\xEB\xA3\xA9"},
        // "未知（应答不完整）"
        {{TVerdictKind::Unknown, TVerdictReason::Cut, std::nullopt, ""},
         "\xCE\xB4\xD6\xAA\xA3\xA8\xD3\xA6\xB4\xF0\xB2\xBB\xCD\xEA\xD5\xFB\xA3\xA9"},
        // "未知（无法判断的回复）"
        {{TVerdictKind::Unknown, TVerdictReason::Unreadable, std::nullopt, "Sorry"},
         "\xCE\xB4\xD6\xAA\xA3\xA8\xCE\xDE\xB7\xA8\xC5\xD0\xB6\xCF\xB5\xC4\xBB\xD8\xB8\xB4"
         "\xA3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(queryfields::VerdictSummary(c.Verdict), c.Summary)
            << ReasonWord(c.Verdict.Reason);
}

} // namespace
