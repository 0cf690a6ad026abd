#include "engine/ServerChoice.h"
#include "engine/Unit_Functions.h"
#include "engine/Unit_FunctionsTesting.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ShippedRegistryData.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using Q = TQueryProtocol;
using S = TServerSource;
using Pref = TProtocolPreference;

constexpr const char* IdentityDigitalRdap = "https://rdap.identitydigital.services/rdap/";

struct TChoiceCase {
    const char* Name;
    const char* QueryName;
    Pref Preference;
    Q Protocol;
    const char* Server;
    S Source;
    const char* RdapBase; // the suffix's base, kept for asking again after port 43
};

class ServerChoiceTable : public ::testing::TestWithParam<TChoiceCase> {};

TEST_P(ServerChoiceTable, ChoosesByTableThenData) {
    const TScopedEnv noOverride("TAVIREL_WHOIS_SERVER");
    const TChoiceCase& c = GetParam();
    const TServerChoice choice = ChooseServer(c.QueryName, ShippedRegistryData(), c.Preference);
    EXPECT_EQ(choice.Route.Protocol, c.Protocol);
    EXPECT_EQ(choice.Route.Server, c.Server);
    EXPECT_EQ(choice.Route.Source, c.Source);
    EXPECT_EQ(choice.RdapBase, c.RdapBase);
    EXPECT_EQ(choice.SuffixRoute.Server, choice.Route.Server) << "no override: the same route";
    EXPECT_EQ(choice.SuffixRoute.Protocol, choice.Route.Protocol);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerChoiceTable,
    ::testing::Values(
        // .com and .net as before: InterNIC, from the table.
        TChoiceCase{"Com", "abc.com", Pref::Auto, Q::Whois, "whois.internic.net", S::Table,
                    "https://rdap.verisign.com/com/v1/"},
        TChoiceCase{"Net", "abc.net", Pref::Auto, Q::Whois, "whois.internic.net", S::Table,
                    "https://rdap.verisign.com/net/v1/"},
        TChoiceCase{"TableSuffix", "abc.org", Pref::Auto, Q::Whois,
                    "whois.publicinterestregistry.org", S::Table,
                    "https://rdap.publicinterestregistry.org/rdap/"},
        TChoiceCase{"TableSuffixInCapitals", "ABC.CN", Pref::Auto, Q::Whois, "whois.cnnic.cn",
                    S::Table, ""},
        // Outside the table, the data: no more InterNIC for suffixes it does not hold.
        TChoiceCase{"DataWhois", "abc.io", Pref::Auto, Q::Whois, "whois.nic.io", S::Data,
                    IdentityDigitalRdap},
        TChoiceCase{"IdnTld", "xn--fsqu00a.xn--fiqs8s", Pref::Auto, Q::Whois, "whois.cnnic.cn",
                    S::Data, ""},
        TChoiceCase{"IdnGtld", "abc.xn--3ds443g", Pref::Auto, Q::Whois, "whois.teleinfo.cn",
                    S::Data, "https://rdap.teleinfo.cn/xn--3ds443g/"},
        TChoiceCase{"RdapOnlyIdnGtld", "abc.xn--czrs0t", Pref::Auto, Q::Rdap, IdentityDigitalRdap,
                    S::Data, IdentityDigitalRdap},
        TChoiceCase{"RdapOnlyGtld", "abc.app", Pref::Auto, Q::Rdap,
                    "https://pubapi.registry.google/rdap/", S::Data,
                    "https://pubapi.registry.google/rdap/"},
        // Table suffixes whose registry has left port 43 go to RDAP.
        TChoiceCase{"InfoGone", "abc.info", Pref::Auto, Q::Rdap, IdentityDigitalRdap, S::Data,
                    IdentityDigitalRdap},
        TChoiceCase{"UkGone", "abc.uk", Pref::Auto, Q::Rdap, "https://rdap.nominet.uk/uk/", S::Data,
                    "https://rdap.nominet.uk/uk/"},
        // A table suffix the data offers nothing for keeps its server.
        TChoiceCase{"LkNothingBetter", "abc.lk", Pref::Auto, Q::Whois, "whois.nic.lk", S::Table,
                    ""},
        // Neither: no query.
        TChoiceCase{"KnownTldWithoutServers", "abc.al", Pref::Auto, Q::None, "", S::None, ""},
        TChoiceCase{"UnknownSuffix", "abc.zzzz", Pref::Auto, Q::None, "", S::None, ""},
        TChoiceCase{"NoSuffix", "localhost", Pref::Auto, Q::None, "", S::None, ""},
        TChoiceCase{"EmptyName", "", Pref::Auto, Q::None, "", S::None, ""},
        // One protocol only: a suffix without it is asked of no one.
        TChoiceCase{"WhoisOnlyWherePort43", "abc.io", Pref::Whois, Q::Whois, "whois.nic.io",
                    S::Data, IdentityDigitalRdap},
        TChoiceCase{"WhoisOnlyInfo", "abc.info", Pref::Whois, Q::None, "", S::None,
                    IdentityDigitalRdap},
        TChoiceCase{"WhoisOnlyRdapOnlyGtld", "abc.app", Pref::Whois, Q::None, "", S::None,
                    "https://pubapi.registry.google/rdap/"},
        TChoiceCase{"RdapOnlyCom", "abc.com", Pref::Rdap, Q::Rdap,
                    "https://rdap.verisign.com/com/v1/", S::Data,
                    "https://rdap.verisign.com/com/v1/"},
        TChoiceCase{"RdapOnlyIo", "abc.io", Pref::Rdap, Q::Rdap, IdentityDigitalRdap, S::Data,
                    IdentityDigitalRdap},
        TChoiceCase{"RdapOnlyCnHasNone", "abc.cn", Pref::Rdap, Q::None, "", S::None, ""}),
    [](const ::testing::TestParamInfo<TChoiceCase>& info) { return info.param.Name; });

TEST(ServerChoice, EveryTableSuffixKeepsItsServerUnlessItsRegistryLeftPort43) {
    const TScopedEnv noOverride("TAVIREL_WHOIS_SERVER");
    const std::set<std::string> movedToRdap = {".info", ".bz", ".uk"};
    const auto& suffixes = unitfunctions_testing::WhoisSuffixes();
    ASSERT_EQ(suffixes.size(), 35u);
    for (const std::string& suffix : suffixes) {
        const TServerChoice choice = ChooseServer("abc" + suffix, ShippedRegistryData());
        if (movedToRdap.count(suffix)) {
            EXPECT_EQ(choice.Route.Protocol, Q::Rdap) << suffix;
            EXPECT_EQ(choice.Route.Source, S::Data) << suffix;
            EXPECT_FALSE(choice.Route.Server.empty()) << suffix;
        } else {
            EXPECT_EQ(choice.Route.Protocol, Q::Whois) << suffix;
            EXPECT_EQ(choice.Route.Server, GetWhoisServer("abc" + suffix)) << suffix;
            EXPECT_EQ(choice.Route.Source, S::Table) << suffix;
        }
    }
}

TEST(ServerChoice, EveryTldOfTheDataGetsAChoiceAndNoneGoesToInterNicButComAndNet) {
    const TScopedEnv noOverride("TAVIREL_WHOIS_SERVER");
    int none = 0;
    for (const std::string& tld : ShippedRegistryData().Tlds()) {
        const TServerChoice choice =
            ChooseServerForSuffix(tld, ShippedRegistryData(), Pref::Auto, "");
        if (choice.Route.Protocol == Q::None)
            ++none;
        if (choice.Route.Server == "whois.internic.net") {
            EXPECT_TRUE(tld == "com" || tld == "net") << tld;
        }
    }
    // 70 TLDs list neither; .lk and .tj of them keep the table's server.
    EXPECT_EQ(none, 68);
}

TEST(ServerChoice, TheOverrideIsAskedAndTheSuffixRouteKept) {
    const TScopedEnv variable("TAVIREL_WHOIS_SERVER", "127.0.0.1:4343");
    struct TCase {
        const char* QueryName;
        Pref Preference;
        Q Protocol;
        const char* Server;
        Q SuffixProtocol;
        const char* SuffixServer;
    };
    for (const TCase& c : {
             TCase{"abc.io", Pref::Auto, Q::Whois, "127.0.0.1:4343", Q::Whois, "whois.nic.io"},
             TCase{"abc.com", Pref::Auto, Q::Whois, "127.0.0.1:4343", Q::Whois,
                   "whois.internic.net"},
             TCase{"abc.info", Pref::Auto, Q::Whois, "127.0.0.1:4343", Q::Rdap,
                   IdentityDigitalRdap},
             // As before the override, every name is asked of it.
             TCase{"abc.zzzz", Pref::Auto, Q::Whois, "127.0.0.1:4343", Q::None, ""},
             TCase{"abc.io", Pref::Whois, Q::Whois, "127.0.0.1:4343", Q::Whois, "whois.nic.io"},
             // RDAP alone was asked for: the port-43 override does not apply.
             TCase{"abc.io", Pref::Rdap, Q::Rdap, IdentityDigitalRdap, Q::Rdap,
                   IdentityDigitalRdap},
         }) {
        const TServerChoice choice = ChooseServer(c.QueryName, ShippedRegistryData(), c.Preference);
        EXPECT_EQ(choice.Route.Protocol, c.Protocol) << c.QueryName;
        EXPECT_EQ(choice.Route.Server, c.Server) << c.QueryName;
        EXPECT_EQ(choice.Route.Source, c.Protocol == Q::Rdap ? S::Data : S::Override)
            << c.QueryName;
        EXPECT_EQ(choice.SuffixRoute.Protocol, c.SuffixProtocol) << c.QueryName;
        EXPECT_EQ(choice.SuffixRoute.Server, c.SuffixServer) << c.QueryName;
    }
}

TEST(ServerChoice, AnEmptyOverrideIsNone) {
    const TScopedEnv variable("TAVIREL_WHOIS_SERVER", "");
    EXPECT_EQ(ChooseServer("abc.io", ShippedRegistryData()).Route.Source, S::Data);
}

TEST(ServerChoice, SuffixesAreTakenWithOrWithoutTheirDot) {
    for (const char* suffix : {"io", ".io", ".IO", "IO"}) {
        const TServerChoice choice =
            ChooseServerForSuffix(suffix, ShippedRegistryData(), Pref::Auto, "");
        EXPECT_EQ(choice.Route.Server, "whois.nic.io") << suffix;
    }
    EXPECT_EQ(ChooseServerForSuffix(".", ShippedRegistryData(), Pref::Auto, "").Route.Protocol,
              Q::None);
}

TEST(ServerChoice, WordsReadBackAndUnknownWordsAreRefused) {
    for (Pref preference : {Pref::Auto, Pref::Whois, Pref::Rdap}) {
        Pref read = Pref::Auto;
        ASSERT_TRUE(ParseProtocolPreference(PreferenceWord(preference), read));
        EXPECT_EQ(read, preference);
    }
    Pref untouched = Pref::Whois;
    for (const char* bad : {"", "AUTO", "http", "whois "})
        EXPECT_FALSE(ParseProtocolPreference(bad, untouched)) << bad;
    EXPECT_EQ(untouched, Pref::Whois);
    EXPECT_EQ(ProtocolWord(Q::Rdap), "rdap");
    EXPECT_EQ(SourceWord(S::Override), "override");
}

} // namespace
