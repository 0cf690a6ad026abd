#include "engine/NameQuery.h"
#include "tests/support/FakeWhois.h"
#include "tests/support/LocalRegistryData.h"
#include "tests/support/ScopedEnv.h"
#include "tools/FakeDnsServer.h"
#include "tools/FakeRdapServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

// A port-43 reply that proves nothing is asked again over RDAP before the
// name is reported; only RDAP's own free or registered decides it.

namespace {

const std::string Unreadable = "% Welcome to the registry\r\n"
                               "\r\n"
                               "The queried object does not exist\r\n";
const std::string Registered = "Domain Name: ABC.XYZ\r\n"
                               "Registrar: Example Registrar Ltd\r\n";

std::optional<TFakeRdapResponse> DomainObject(const TFakeRdapRequest&) {
    return TFakeRdapResponse{
        200,
        {{"Content-Type", "application/rdap+json"}},
        R"({"objectClassName":"domain","ldhName":"ABC.XYZ",)"
        R"("events":[{"eventAction":"registration","eventDate":"2001-02-03T04:05:06Z"}]})"};
}

std::optional<TFakeRdapResponse> NotFound(const TFakeRdapRequest&) {
    return std::nullopt; // the fake answers 404 for a name it has no file for
}

std::optional<TFakeRdapResponse> Busy(const TFakeRdapRequest&) {
    return TFakeRdapResponse{503, {}, "busy"};
}

using TRdapResponder = std::optional<TFakeRdapResponse> (*)(const TFakeRdapRequest&);

// What abc.xyz came to when asked of a registry on loopback (no stand-in
// server): its port-43 server answers whoisReply, its RDAP base rdap.
struct TLoopbackAsking {
    TNameAnswer Answer;
    TVerdict Verdict; // the answer's, or the port-43 reply's when nothing settled it
    int RdapRequests = 0;
};

TLoopbackAsking AskOfLoopbackRegistry(const std::string& whoisReply, TRdapResponder rdap,
                                      TProtocolPreference preference, bool confirmFree = true) {
    TLoopbackAsking asked;
    TScopedEnv noStandIn("TAVIREL_WHOIS_SERVER");
    auto whois = StartServer(Always(whoisReply));
    TFakeRdapOptions options;
    options.Responder = rdap;
    TFakeRdapServer rdapServer(std::move(options));
    if (!whois || !rdapServer.Start()) {
        ADD_FAILURE() << "the loopback registry did not start: " << rdapServer.Error();
        return asked;
    }
    TScopedEnv rdapBase("TAVIREL_RDAP_BASE", rdapServer.BaseUrl());
    const auto data = RegistryDataRoutingTo("xyz", whois->Address(), "https://rdap.nic.xyz/");
    if (!data) {
        ADD_FAILURE() << "no registry data routing .xyz to loopback";
        return asked;
    }
    TNameQuerySettings settings{data.get(), preference, nullptr, nullptr, std::nullopt};
    settings.ConfirmFree = confirmFree;
    asked.Answer = AskForName("abc.xyz", settings);
    asked.Verdict = asked.Answer.Settled
                        ? *asked.Answer.Settled
                        : ReadWhoisVerdict(asked.Answer.Whois, asked.Answer.Server);
    asked.RdapRequests = rdapServer.RequestCount();
    return asked;
}

struct TSecondWayCase {
    const char* Name;
    std::string WhoisReply;
    TProtocolPreference Preference;
    TRdapResponder Rdap;
    TVerdictKind Kind;
    TVerdictReason Reason;
    TQueryProtocol Protocol; // of the answer the name is reported with
    int RdapRequests;
};

void PrintTo(const TSecondWayCase& c, std::ostream* out) {
    *out << c.Name;
}

class UnreadableAskedAnotherWay : public ::testing::TestWithParam<TSecondWayCase> {};

TEST_P(UnreadableAskedAnotherWay, OnlyRdapDecidesIt) {
    const TSecondWayCase& c = GetParam();
    const auto [answer, verdict, rdapRequests] =
        AskOfLoopbackRegistry(c.WhoisReply, c.Rdap, c.Preference);
    EXPECT_EQ(VerdictWord(verdict.Kind), VerdictWord(c.Kind)) << verdict.Detail;
    EXPECT_EQ(ReasonWord(verdict.Reason), ReasonWord(c.Reason)) << verdict.Detail;
    EXPECT_EQ(ProtocolWord(answer.Protocol), ProtocolWord(c.Protocol));
    EXPECT_EQ(rdapRequests, c.RdapRequests);
    if (c.Reason == TVerdictReason::Unreadable) {
        // The port-43 reply stays the one to show, its first line the detail.
        EXPECT_EQ(answer.Reply, c.WhoisReply);
        EXPECT_TRUE(verdict.Detail.starts_with("The queried object does not exist"))
            << verdict.Detail;
    }
    if (c.RdapRequests > 0 && c.Reason == TVerdictReason::Unreadable) {
        EXPECT_NE(verdict.Detail.find("; RDAP "), std::string::npos) << verdict.Detail;
    }
    if (c.Protocol == TQueryProtocol::Rdap) {
        EXPECT_NE(answer.FallbackReason.find("The queried object does not exist"),
                  std::string::npos)
            << answer.FallbackReason;
    }
}

constexpr auto Auto = TProtocolPreference::Auto;
constexpr auto WhoisOnly = TProtocolPreference::Whois;
constexpr auto Whois = TQueryProtocol::Whois;
constexpr auto Rdap = TQueryProtocol::Rdap;

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableAskedAnotherWay,
    ::testing::Values(TSecondWayCase{"Rdap404IsFree", Unreadable, Auto, NotFound,
                                     TVerdictKind::Free, TVerdictReason::None, Rdap, 1},
                      TSecondWayCase{"Rdap200IsRegistered", Unreadable, Auto, DomainObject,
                                     TVerdictKind::Registered, TVerdictReason::Registered, Rdap, 1},
                      TSecondWayCase{"RdapUnavailableStaysUnreadable", Unreadable, Auto, Busy,
                                     TVerdictKind::Unknown, TVerdictReason::Unreadable, Whois, 1},
                      TSecondWayCase{"PortFortyThreeOnlyAsksNoOneElse", Unreadable, WhoisOnly,
                                     NotFound, TVerdictKind::Unknown, TVerdictReason::Unreadable,
                                     Whois, 0},
                      TSecondWayCase{"EvidenceNeedsNoSecondWay", Registered, Auto, NotFound,
                                     TVerdictKind::Registered, TVerdictReason::Registered, Whois,
                                     0}),
    [](const auto& info) { return std::string(info.param.Name); });

// A stand-in server answers for every suffix: the real RDAP service is never
// asked in its place, so an offline run stays on the machine.
TEST(UnreadableAskedAnotherWay, NotWithAStandInServer) {
    auto whois = StartServer(Always(Unreadable));
    ASSERT_TRUE(whois);
    TWhoisServerOverride standIn(whois->Address());
    TFakeRdapServer rdap(TFakeRdapOptions{});
    ASSERT_TRUE(rdap.Start()) << rdap.Error();
    TScopedEnv rdapBase("TAVIREL_RDAP_BASE", rdap.BaseUrl());
    const auto data = RegistryDataRoutingTo("xyz", "whois.nic.xyz", "https://rdap.nic.xyz/");
    ASSERT_TRUE(data);
    const TNameAnswer answer =
        AskForName("abc.xyz", TNameQuerySettings{data.get(), TProtocolPreference::Auto, nullptr,
                                                 nullptr, std::nullopt});
    EXPECT_FALSE(answer.Settled);
    EXPECT_EQ(answer.Protocol, TQueryProtocol::Whois);
    EXPECT_EQ(rdap.RequestCount(), 0);
}

struct TDnsWayCase {
    const char* Name;
    std::string WhoisReply;
    bool Delegated;    // the name server delegates abc.xyz
    bool DnsFirst;     // the batch asks name servers at all
    TVerdictKind Kind; // what the name is reported
    TVerdictReason Reason;
    TVerdictMethod DecidedBy;
    int DnsQuestions; // about abc.xyz
};

void PrintTo(const TDnsWayCase& c, std::ostream* out) {
    *out << c.Name;
}

class UnreadableAskedOfTheNameServers : public ::testing::TestWithParam<TDnsWayCase> {};

// Only a delegation decides a reply that proves nothing, and only while DNS
// first is on; a reply that proves something asks no name server.
TEST_P(UnreadableAskedOfTheNameServers, OnlyADelegationDecidesIt) {
    const TDnsWayCase& c = GetParam();
    auto whois = StartServer(Always(c.WhoisReply));
    ASSERT_TRUE(whois);
    TWhoisServerOverride standIn(whois->Address());
    TFakeDnsServer dns([&c](const TFakeDnsQuestion& question) {
        TFakeDnsAnswer answer;
        if (c.Delegated && question.Name == "abc.xyz")
            answer.Authority = {"abc.xyz. 60 IN NS ns1.host.example."};
        else
            answer.Rcode = 3;
        return answer;
    });
    ASSERT_TRUE(dns.Start()) << dns.Error();
    TScopedEnv dnsServer("TAVIREL_DNS_SERVER", dns.Address());
    const auto data = RegistryDataRoutingTo("xyz", "whois.nic.xyz", "https://rdap.nic.xyz/");
    ASSERT_TRUE(data);
    TNameQuerySettings settings{data.get(), TProtocolPreference::Auto, nullptr, nullptr,
                                std::nullopt};
    settings.AskDnsWhenUnreadable = c.DnsFirst;

    const TNameAnswer answer = AskForName("abc.xyz", settings);
    const TVerdict verdict =
        answer.Settled ? *answer.Settled : ReadWhoisVerdict(answer.Whois, answer.Server);
    EXPECT_EQ(VerdictWord(verdict.Kind), VerdictWord(c.Kind)) << verdict.Detail;
    EXPECT_EQ(ReasonWord(verdict.Reason), ReasonWord(c.Reason)) << verdict.Detail;
    EXPECT_EQ(MethodWord(answer.DecidedBy), MethodWord(c.DecidedBy));
    int asked = 0;
    for (const TFakeDnsQuestion& question : dns.Questions())
        asked += question.Name == "abc.xyz";
    EXPECT_EQ(asked, c.DnsQuestions);
    if (c.DecidedBy == TVerdictMethod::Dns) {
        EXPECT_NE(verdict.Detail.find("ns1.host.example"), std::string::npos) << verdict.Detail;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableAskedOfTheNameServers,
    ::testing::Values(
        TDnsWayCase{"DelegationIsRegistered", Unreadable, true, true, TVerdictKind::Registered,
                    TVerdictReason::Registered, TVerdictMethod::Dns, 1},
        TDnsWayCase{"NoDelegationStaysUnreadable", Unreadable, false, true, TVerdictKind::Unknown,
                    TVerdictReason::Unreadable, TVerdictMethod::None, 1},
        TDnsWayCase{"DnsFirstOffAsksNoNameServer", Unreadable, true, false, TVerdictKind::Unknown,
                    TVerdictReason::Unreadable, TVerdictMethod::None, 0},
        TDnsWayCase{"EvidenceNeedsNoNameServer", Registered, true, true, TVerdictKind::Registered,
                    TVerdictReason::Registered, TVerdictMethod::None, 0},
        TDnsWayCase{"FreeReplyIsNotOverruledHere", "No match for \"ABC.XYZ\".\r\n", true, true,
                    TVerdictKind::Free, TVerdictReason::None, TVerdictMethod::None, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TConfirmCase {
    const char* Name;
    std::string WhoisReply;
    TRdapResponder Rdap;
    bool Confirm;
    TVerdictKind Kind;
    TVerdictReason Reason;
    int RdapRequests;
};

void PrintTo(const TConfirmCase& c, std::ostream* out) {
    *out << c.Name;
}

class FreeConfirmedOverRdap : public ::testing::TestWithParam<TConfirmCase> {};

// A port-43 free stands only when the suffix's own RDAP base answers 404;
// a domain object or no answer makes it unknown (unconfirmed), and the
// port-43 reply stays the one shown.
TEST_P(FreeConfirmedOverRdap, OnlyA404AgreesWithFree) {
    const TConfirmCase& c = GetParam();
    const auto [answer, verdict, rdapRequests] =
        AskOfLoopbackRegistry(c.WhoisReply, c.Rdap, TProtocolPreference::Auto, c.Confirm);
    EXPECT_EQ(VerdictWord(verdict.Kind), VerdictWord(c.Kind)) << verdict.Detail;
    EXPECT_EQ(ReasonWord(verdict.Reason), ReasonWord(c.Reason)) << verdict.Detail;
    EXPECT_EQ(rdapRequests, c.RdapRequests);
    EXPECT_EQ(answer.Protocol, TQueryProtocol::Whois);
    EXPECT_EQ(answer.Reply, c.WhoisReply);
    EXPECT_EQ(answer.Confirmation.empty(), c.RdapRequests == 0) << answer.Confirmation;
    if (c.Reason == TVerdictReason::Unconfirmed) {
        EXPECT_NE(verdict.Detail.find(" said free; RDAP "), std::string::npos) << verdict.Detail;
    }
}

const std::string NoMatchXyz = "No match for \"ABC.XYZ\".\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FreeConfirmedOverRdap,
    ::testing::Values(TConfirmCase{"Rdap404Agrees", NoMatchXyz, NotFound, true, TVerdictKind::Free,
                                   TVerdictReason::None, 1},
                      TConfirmCase{"RdapDomainObjectDisagrees", NoMatchXyz, DomainObject, true,
                                   TVerdictKind::Unknown, TVerdictReason::Unconfirmed, 1},
                      TConfirmCase{"RdapBusyConfirmsNothing", NoMatchXyz, Busy, true,
                                   TVerdictKind::Unknown, TVerdictReason::Unconfirmed, 1},
                      TConfirmCase{"ConfirmationOff", NoMatchXyz, DomainObject, false,
                                   TVerdictKind::Free, TVerdictReason::None, 0},
                      TConfirmCase{"RegisteredNeedsNoConfirmation", Registered, NotFound, true,
                                   TVerdictKind::Registered, TVerdictReason::Registered, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
