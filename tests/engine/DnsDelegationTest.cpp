// The delegation check against a fake name server (each kind of answer) and
// against NSD serving generated zones.

#include "engine/dns/DelegationCheck.h"
#include "engine/dns/DnsFirstRule.h"
#include "engine/dns/TldServers.h"
#include "tests/support/LocalNsd.h"
#include "tests/support/ScopedEnv.h"
#include "tools/FakeDnsServer.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using TKind = TFakeDnsAnswer::TKind;

constexpr int NoError = 0, FormErr = 1, ServFail = 2, NxDomain = 3, Refused = 5;

TFakeDnsAnswer Silence() {
    TFakeDnsAnswer silence;
    silence.Kind = TKind::Silence;
    return silence;
}

TDnsBounds ShortBounds() {
    TDnsBounds bounds;
    bounds.PerTry = std::chrono::milliseconds(250);
    return bounds;
}

const std::string Referral = "x.test. 3600 IN NS ns1.host.example.";
const std::string Soa = "test. 3600 IN SOA ns.nic.test. h.nic.test. 1 3600 600 86400 300";

TFakeDnsAnswer Answer(int rcode, std::vector<std::string> answer = {},
                      std::vector<std::string> authority = {}) {
    TFakeDnsAnswer reply;
    reply.Rcode = rcode;
    reply.Answer = std::move(answer);
    reply.Authority = std::move(authority);
    return reply;
}

// The probe's random label is 30 letters; every other name is the one asked.
bool IsProbe(const TFakeDnsQuestion& question) {
    return question.Name.size() == TDelegationChecker::ProbeLetters + 5;
}

struct TDnsCase {
    const char* Name;
    std::function<TFakeDnsAnswer(const TFakeDnsQuestion&)> Reply; // for x.test
    TDnsOutcome Outcome;
    bool Delegated;
};

TEST(DnsDelegation, EachAnswerDecidesOnlyWhatItShows) {
    const TFakeDnsAnswer silence = Silence();
    const auto always = [](TFakeDnsAnswer reply) {
        return [reply](const TFakeDnsQuestion&) { return reply; };
    };
    TFakeDnsAnswer truncated = Answer(NoError);
    truncated.Truncated = true;
    TFakeDnsAnswer authoritative = Answer(NoError, {Referral});
    authoritative.Authoritative = true;
    const std::vector<TDnsCase> cases = {
        {"Referral", always(Answer(NoError, {}, {Referral})), TDnsOutcome::Delegated, true},
        {"AuthoritativeAnswer", always(authoritative), TDnsOutcome::Delegated, true},
        {"OwnerInOtherCase", always(Answer(NoError, {}, {"X.TEST. 60 IN NS ns1.host.example."})),
         TDnsOutcome::Delegated, true},
        {"NxDomain", always(Answer(NxDomain, {}, {Soa})), TDnsOutcome::NxDomain, false},
        {"NoData", always(Answer(NoError, {}, {Soa})), TDnsOutcome::NoData, false},
        {"ServFail", always(Answer(ServFail)), TDnsOutcome::ServFail, false},
        {"Refused", always(Answer(Refused)), TDnsOutcome::Refused, false},
        {"FormErr", always(Answer(FormErr)), TDnsOutcome::OtherCode, false},
        {"Silence", always(silence), TDnsOutcome::TimedOut, false},
        {"OtherName", always(Answer(NoError, {}, {"y.test. 60 IN NS ns1.host.example."})),
         TDnsOutcome::OtherName, false},
        {"UpwardReferral", always(Answer(NoError, {}, {"test. 60 IN NS ns.nic.test."})),
         TDnsOutcome::OtherName, false},
        {"AddressOnly", always(Answer(NoError, {"x.test. 60 IN A 192.0.2.7"})),
         TDnsOutcome::Address, false},
        {"TruncatedMendedByTcp",
         [&](const TFakeDnsQuestion& q) {
             return q.Tcp ? Answer(NoError, {}, {Referral}) : truncated;
         },
         TDnsOutcome::Delegated, true},
        {"TruncatedTcpUnanswered",
         [&](const TFakeDnsQuestion& q) { return q.Tcp ? silence : truncated; },
         TDnsOutcome::Failed, false},
        {"TruncatedOverTcpToo", always(truncated), TDnsOutcome::Truncated, false},
    };
    for (const TDnsCase& row : cases) {
        SCOPED_TRACE(row.Name);
        TFakeDnsServer server([&](const TFakeDnsQuestion& question) {
            return IsProbe(question) ? Answer(NxDomain, {}, {Soa}) : row.Reply(question);
        });
        ASSERT_TRUE(server.Start()) << server.Error();
        TScopedEnv dns(DnsServerVariable, server.Address());
        const TDelegation delegation = AskDelegation("x.test", ShortBounds());
        EXPECT_TRUE(delegation.Asked) << delegation.Detail;
        EXPECT_EQ(DnsOutcomeWord(delegation.Outcome), DnsOutcomeWord(row.Outcome))
            << delegation.Detail;
        EXPECT_EQ(delegation.Delegated, row.Delegated);
        if (row.Delegated) {
            EXPECT_EQ(delegation.NameServers, std::vector<std::string>{"ns1.host.example"});
            EXPECT_NE(delegation.Detail.find(server.Address()), std::string::npos)
                << delegation.Detail;
        }
        for (const TFakeDnsQuestion& question : server.Questions()) {
            EXPECT_FALSE(question.Recursion) << question.Name;
            EXPECT_EQ(question.Type, 2) << question.Name;
        }
    }
}

// A TLD whose servers delegate or resolve a random label, or hold anything
// for it, proves nothing by a delegation.
TEST(DnsDelegation, WildcardTldIsLeftToTheRegistry) {
    for (const char* record : {"IN NS ns1.host.example.", "IN A 192.0.2.9", "IN TXT x"}) {
        SCOPED_TRACE(record);
        TFakeDnsServer server([&](const TFakeDnsQuestion& question) {
            const std::string rr = question.Name + ". 60 " + record;
            const std::string kind = record;
            if (kind.find(" NS ") != std::string::npos)
                return Answer(NoError, {}, {rr});
            // The name exists, with no NS records: no data.
            return kind.find(" A ") != std::string::npos ? Answer(NoError, {rr})
                                                         : Answer(NoError, {}, {Soa});
        });
        ASSERT_TRUE(server.Start()) << server.Error();
        TScopedEnv dns(DnsServerVariable, server.Address());
        TDelegationChecker checker(ShortBounds());
        std::vector<TDelegation> answers;
        for (const char* name : {"a.test", "b.test"})
            checker.Ask(name, [&](TDelegation&& d) { answers.push_back(std::move(d)); });
        while (checker.Pending() > 0)
            checker.Process(std::chrono::milliseconds(100));
        ASSERT_EQ(answers.size(), 2u);
        for (const TDelegation& answer : answers) {
            EXPECT_FALSE(answer.Delegated);
            EXPECT_FALSE(answer.Asked);
        }
        ASSERT_EQ(checker.TldsOff().count(".test"), 1u);
        EXPECT_NE(checker.TldsOff().at(".test").find("wildcard"), std::string::npos);
        // Only the probe was asked.
        EXPECT_EQ(server.Questions().size(), 1u);
    }
}

// A silent server costs its tries, then the next of the TLD's servers answers.
TEST(DnsDelegation, RotatesToTheNextServerWithinBounds) {
    TFakeDnsServer silent([](const TFakeDnsQuestion&) { return Silence(); });
    TFakeDnsServer answering(
        [](const TFakeDnsQuestion&) { return Answer(NoError, {}, {Referral}); });
    ASSERT_TRUE(silent.Start()) << silent.Error();
    ASSERT_TRUE(answering.Start()) << answering.Error();
    TDnsAsker asker(ShortBounds());
    const auto servers = std::make_shared<std::vector<TNameServer>>(
        std::vector<TNameServer>{{"silent", silent.Address()}, {"answering", answering.Address()}});
    std::vector<TDnsExchange> exchanges;
    // The rotation starts the first name at the first server, the second at the second.
    for (int i = 0; i < 2; ++i)
        asker.AskNs("x.test", servers,
                    [&](TDnsExchange&& e) { exchanges.push_back(std::move(e)); });
    while (asker.Pending() > 0)
        asker.Process(std::chrono::milliseconds(100));
    ASSERT_EQ(exchanges.size(), 2u);
    std::multiset<int> tries;
    for (const TDnsExchange& exchange : exchanges) {
        EXPECT_EQ(exchange.Reading.Outcome, TDnsOutcome::Delegated);
        EXPECT_EQ(exchange.Server, "answering (" + answering.Address() + ")");
        tries.insert(exchange.Tries);
    }
    EXPECT_EQ(tries, (std::multiset<int>{1, ShortBounds().TriesPerServer + 1}));
    EXPECT_EQ(silent.Questions().size(), static_cast<std::size_t>(ShortBounds().TriesPerServer));
}

TEST(DnsDelegation, ServerOverrideIsHostAndPort) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"127.0.0.1:5300", "127.0.0.1:5300"},
        {"localhost:53", "127.0.0.1:53"},
        {"127.0.0.1", "127.0.0.1:53"},
        {"[::1]:5300", "[::1]:5300"},
        {"127.0.0.1:0", ""},
        {"127.0.0.1:99999", ""},
        {":53", ""},
        {"127.0.0.1:x", ""},
    };
    for (const auto& [value, address] : cases) {
        SCOPED_TRACE(value);
        TScopedEnv dns(DnsServerVariable, value);
        std::string error;
        const std::optional<TNameServer> server = DnsServerOverride(error);
        EXPECT_EQ(server ? server->Address : "", address);
        EXPECT_EQ(error.empty(), !address.empty()) << error;
    }
}

TEST(DnsDelegation, DnsFirstIsOnUnlessSomethingSaysOff) {
    struct TCase {
        TDnsChoice Choice;
        bool Proxies;
        const char* Whois; // TAVIREL_WHOIS_SERVER, "" for none
        const char* Dns;   // TAVIREL_DNS_SERVER, "" for none
        bool On;
    };
    const TCase cases[] = {
        {TDnsChoice::Default, false, "", "", true},
        {TDnsChoice::Off, false, "", "", false},
        {TDnsChoice::Default, true, "", "", false},
        {TDnsChoice::On, true, "", "", true},
        {TDnsChoice::On, false, "127.0.0.1:4343", "", false},
        {TDnsChoice::Default, false, "127.0.0.1:4343", "127.0.0.1:5353", true},
        {TDnsChoice::Off, false, "127.0.0.1:4343", "127.0.0.1:5353", false},
        {TDnsChoice::Default, false, "", "not a server:x", false},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(std::string(row.Whois) + " / " + row.Dns + " / " +
                     std::to_string(static_cast<int>(row.Choice)) + " / " +
                     (row.Proxies ? "proxies" : "straight"));
        TScopedEnv whois("TAVIREL_WHOIS_SERVER", row.Whois);
        TScopedEnv rdap("TAVIREL_RDAP_BASE");
        TScopedEnv dns(DnsServerVariable, row.Dns);
        const TDnsFirstDecision decision = DecideDnsFirst(row.Choice, row.Proxies);
        EXPECT_EQ(decision.On, row.On) << decision.Why;
        EXPECT_EQ(decision.Why.empty(), row.On);
    }
}

// NSD serving generated zones: many names in flight, each answered as its
// zone holds it; a zone with a wildcard delegation is turned off.
TEST(DnsDelegation, LocalNsdDecidesDelegatedNamesOnly) {
    if (!TLocalNsd::Installed())
        GTEST_SKIP() << "nsd is not installed (Debian package nsd): no authoritative server to "
                        "test against";
    std::vector<std::string> taken;
    for (int i = 0; i < 300; ++i)
        taken.push_back("taken" + std::to_string(i));
    TLocalNsd nsd({{"test", DelegatingZone("test", taken, "addr IN A 192.0.2.1\n")},
                   {"wild", DelegatingZone("wild", {"taken0"}, "* IN NS ns1.host.test.\n")},
                   {"wilda", DelegatingZone("wilda", {"taken0"}, "* IN A 192.0.2.1\n")}});
    ASSERT_TRUE(nsd.Start()) << nsd.Error();
    TScopedEnv dns(DnsServerVariable, nsd.Address());
    TDelegationChecker checker(ShortBounds());
    std::map<std::string, TDelegation> answers;
    std::vector<std::string> names = {"addr.test", "free.test", "taken0.wild", "x.wild",
                                      "taken0.wilda"};
    for (const std::string& name : taken)
        names.push_back(name + ".test");
    for (int i = 0; i < 300; ++i)
        names.push_back("free" + std::to_string(i) + ".test");
    for (const std::string& name : names)
        checker.Ask(name, [&answers, name](TDelegation&& d) { answers[name] = std::move(d); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (checker.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        checker.Process(std::chrono::milliseconds(100));
    ASSERT_EQ(answers.size(), names.size());
    for (const auto& [name, answer] : answers) {
        const bool shouldBe = name.starts_with("taken") && name.ends_with(".test");
        EXPECT_EQ(answer.Delegated, shouldBe) << name << ": " << answer.Detail;
        if (!name.ends_with(".test")) {
            EXPECT_FALSE(answer.Asked) << name;
        }
    }
    EXPECT_EQ(answers["free.test"].Outcome, TDnsOutcome::NxDomain);
    // A name with an address only has no data for an NS question.
    EXPECT_EQ(answers["addr.test"].Outcome, TDnsOutcome::NoData);
    EXPECT_EQ(answers["taken7.test"].NameServers,
              (std::vector<std::string>{"ns1.host.test", "ns2.host.test"}));
    EXPECT_EQ(checker.TldsOff().count(".wild"), 1u);
    EXPECT_EQ(checker.TldsOff().count(".wilda"), 1u);
    EXPECT_EQ(checker.TldsOff().count(".test"), 0u);
}

} // namespace
