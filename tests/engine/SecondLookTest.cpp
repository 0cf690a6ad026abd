#include "engine/SecondLook.h"
#include "tests/support/FakeWhois.h"
#include "tests/support/LocalRegistryData.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CanaryOfServerHostTest, TheRegistrysOwnNameUnderTheSameTld) {
    struct TCase {
        const char* Host;
        const char* Suffix;
        const char* Canary;
    };
    const TCase cases[] = {
        {"whois.cnnic.cn", "cn", "cnnic.cn"},
        {"whois.cnnic.cn", "com.cn", "cnnic.cn"},
        {"whois.nic.fr", "fr", "nic.fr"},
        {"cnnic.cn", "cn", "cnnic.cn"},
        {"whois.auda.org.au", "au", "auda.org.au"},
        {"whois.thnic.co.th", "th", "thnic.co.th"},
        {"whois.co.ug", "ug", ""},             // the second level itself
        {"whois.nic.google", "app", ""},       // another TLD
        {"whois.verisign-grs.com", "net", ""}, // another TLD
        {"127.0.0.1:4343", "xyz", ""},         // an address and port
        {"127.0.0.1", "xyz", ""},
        {"whois.nic.xyz:4343", "xyz", ""},
        {"", "xyz", ""},
        {"xyz", "xyz", ""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(CanaryOfServerHost(c.Host, c.Suffix), c.Canary) << c.Host << " " << c.Suffix;
}

TVerdict Said(TVerdictKind kind, TVerdictReason reason = TVerdictReason::None) {
    return TVerdict{kind, reason, std::nullopt, ""};
}

// Free stands only when the second query agrees and the canary, asked
// before and after it, is read registered both times; every other outcome is
// unknown, and an unknown second query leaves the first free waiting (its
// own reason). A canary before that fails means nothing else is asked.
TEST(JudgeSecondLookTest, FreeOnlyWhenBothAgreeBetweenRegisteredCanaries) {
    const TVerdict free = Said(TVerdictKind::Free);
    const TVerdict registered = Said(TVerdictKind::Registered, TVerdictReason::Registered);
    const TVerdict throttled = Said(TVerdictKind::Unknown, TVerdictReason::Throttled);
    const TCanaryAnswer none;
    const TCanaryAnswer known{"cnnic.cn", registered};
    struct TCase {
        const char* Name;
        TCanaryAnswer Before;
        TVerdict Second;
        TCanaryAnswer After;
        TVerdictKind Kind;
        TVerdictReason Reason;
        const char* InDetail;
        std::vector<std::string> Asked; // by LookAgain, in order
    };
    const TCase cases[] = {
        {"AgreesBetweenRegisteredCanaries",
         known,
         free,
         known,
         TVerdictKind::Free,
         TVerdictReason::None,
         "",
         {"cnnic.cn", "name", "cnnic.cn"}},
        {"AgreesWithNoCanary",
         none,
         free,
         none,
         TVerdictKind::Unknown,
         TVerdictReason::Unconfirmed,
         "no name it must know",
         {"name"}},
        {"SecondSaysRegistered",
         known,
         registered,
         none,
         TVerdictKind::Unknown,
         TVerdictReason::Unconfirmed,
         "said free, then registered",
         {"cnnic.cn", "name"}},
        {"CanaryBeforeReadFree",
         {"cnnic.cn", free},
         free,
         known,
         TVerdictKind::Unknown,
         TVerdictReason::Unconfirmed,
         "cnnic.cn free",
         {"cnnic.cn"}},
        {"CanaryAfterReadFree",
         known,
         free,
         {"cnnic.cn", free},
         TVerdictKind::Unknown,
         TVerdictReason::Unconfirmed,
         "free twice, but cnnic.cn free",
         {"cnnic.cn", "name", "cnnic.cn"}},
        {"CanaryAfterThrottled",
         known,
         free,
         {"cnnic.cn", throttled},
         TVerdictKind::Unknown,
         TVerdictReason::Unconfirmed,
         "cnnic.cn unknown, throttled",
         {"cnnic.cn", "name", "cnnic.cn"}},
        {"SecondThrottled",
         known,
         throttled,
         none,
         TVerdictKind::Unknown,
         TVerdictReason::Throttled,
         "",
         {"cnnic.cn", "name"}},
    };
    for (const TCase& c : cases) {
        const TSecondLookVerdict judged =
            JudgeSecondLook("whois.cnnic.cn", c.Before, c.Second, c.After);
        EXPECT_EQ(judged.Verdict.Kind, c.Kind) << c.Name;
        EXPECT_EQ(judged.Verdict.Reason, c.Reason) << c.Name;
        EXPECT_NE(judged.Verdict.Detail.find(c.InDetail), std::string::npos)
            << c.Name << ": " << judged.Verdict.Detail;
        EXPECT_EQ(judged.Confirmation.empty(), c.Reason == TVerdictReason::Throttled) << c.Name;
        // Only a canary read otherwise shows the server lying now.
        EXPECT_EQ(judged.CaughtLying, std::string(c.Name).rfind("Canary", 0) == 0) << c.Name;

        // The same answers given in turn: LookAgain asks only what decides.
        std::vector<std::string> asked;
        int canaries = 0;
        const TSecondLookVerdict looked = LookAgain(
            "whois.cnnic.cn", c.Before.Name,
            [&] {
                asked.push_back("name");
                return c.Second;
            },
            [&](const std::string& canary) {
                asked.push_back(canary);
                return canaries++ == 0 ? c.Before : c.After;
            });
        EXPECT_EQ(asked, c.Asked) << c.Name;
        EXPECT_EQ(looked.Verdict.Kind, c.Kind) << c.Name;
        EXPECT_EQ(looked.Verdict.Reason, c.Reason) << c.Name;
    }
}

const std::string FreeReply = "no matching record.\r\n";
const std::string RegisteredReply = "Domain Name: abc.dk\r\nCreation Date: 2001-02-03T04:05:06Z\r\n"
                                    "Name Server: ns1.example.net\r\n"
                                    "Registrar: Example Registrar\r\n";
const std::string ThrottleReply = "The WHOIS query quota for 127.0.0.1 has been exceeded\r\n";

// The lookup's second look, at once, against a registry on loopback whose
// suffix (.dk) has no RDAP base: the second reply decides whether free
// stands.
TEST(LookAgainNowTest, TheSecondReplyDecides) {
    struct TCase {
        const char* Name;
        std::vector<std::string> Replies;
        TVerdictKind Kind;
        std::size_t Queries;
    };
    const TCase cases[] = {
        // A server on an address has no name of its own to compare with.
        {"FreeTwiceWithNoCanary", {FreeReply, FreeReply}, TVerdictKind::Unknown, 2},
        {"FreeThenRegistered", {FreeReply, RegisteredReply}, TVerdictKind::Unknown, 2},
        {"FreeThenThrottled", {FreeReply, ThrottleReply}, TVerdictKind::Unknown, 2},
        {"RegisteredIsNotLookedAtAgain", {RegisteredReply, FreeReply}, TVerdictKind::Registered, 1},
    };
    TScopedEnv noStandIn("TAVIREL_WHOIS_SERVER");
    for (const TCase& c : cases) {
        auto whois = StartServer(InTurn(c.Replies));
        ASSERT_TRUE(whois);
        const auto data = RegistryDataRoutingTo("dk", whois->Address(), "");
        ASSERT_TRUE(data);
        const TNameQuerySettings settings{data.get(), TProtocolPreference::Auto, nullptr, nullptr,
                                          std::nullopt};
        TNameAnswer answer = AskForName("abc.dk", settings);
        EXPECT_EQ(answer.NeedsSecondLook, c.Replies[0] == FreeReply) << c.Name;
        LookAgainNow(answer, settings);
        const TVerdict verdict =
            answer.Settled ? *answer.Settled : ReadWhoisVerdict(answer.Whois, answer.Server);
        EXPECT_EQ(verdict.Kind, c.Kind) << c.Name << ": " << verdict.Detail;
        if (verdict.Kind == TVerdictKind::Unknown) {
            EXPECT_EQ(verdict.Reason, TVerdictReason::Unconfirmed) << c.Name;
        }
        EXPECT_EQ(whois->Queries().size(), c.Queries) << c.Name;
        EXPECT_EQ(answer.Confirmation.empty(), c.Queries == 1) << c.Name;
    }
}

} // namespace
