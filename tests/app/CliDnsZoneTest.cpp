// What check asks of the registry once name servers and zone files have had
// their say: a real name server (NSD on loopback) delegates some names, a
// zone file others; only the rest reach the fake WHOIS server, and nothing
// but the registry ever says free.

#include "tests/support/CliRunner.h"
#include "tests/support/LocalNsd.h"
#include "tests/support/ScopedEnv.h"
#include "tools/FakeWhoisServer.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

using TLines = std::vector<std::string>;

std::string Reply(const std::string& query) {
    if (query.starts_with("free"))
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query + "\r\nDomain Status: serverHold\r\n";
}

// The method column (the last) of each CSV row, by its domain (the first).
std::map<std::string, std::string> MethodsOf(const std::string& csv) {
    std::map<std::string, std::string> methods;
    for (std::string row : LinesOf(csv)) {
        if (!row.empty() && row.back() == '\r')
            row.pop_back();
        const std::size_t comma = row.find(',');
        methods[row.substr(0, comma)] = row.substr(row.rfind(',') + 1);
    }
    methods.erase("domain");
    return methods;
}

class CliDnsZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        TFakeWhoisOptions options;
        options.Responder = Reply;
        FWhois = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(FWhois->Start()) << FWhois->Error();
    }

    std::string WriteZone(const std::string& text) const {
        const std::string path = FDir.filePath("com.zone").toStdString();
        std::ofstream(path) << text;
        return path;
    }
    TCliRun Run(const QStringList& args, const std::string& input = {}) const {
        return RunCli(args, {.Stdin = input, .WhoisServer = FWhois->Address()});
    }

    QTemporaryDir FDir;
    // The index is kept in the test's own cache folder.
    TScopedEnv FCache{"XDG_CACHE_HOME", FDir.filePath("cache").toStdString()};
    std::unique_ptr<TFakeWhoisServer> FWhois;
};

// With the name server and the zone: each decides its names (method dns,
// zone), the registry gets only the rest; with --dns off the registry gets
// every name the zone does not hold, with the same verdicts.
TEST_F(CliDnsZoneTest, OnlyWhatNeitherDecidesIsAskedOfTheRegistry) {
    if (!TLocalNsd::Installed())
        GTEST_SKIP() << "nsd is not installed (Debian package nsd)";
    TLocalNsd nsd({{"com", DelegatingZone("com", {"taken1", "taken2", "zoned"})}});
    ASSERT_TRUE(nsd.Start()) << nsd.Error();
    TScopedEnv dns("TAVIREL_DNS_SERVER", nsd.Address());
    const std::string zone = WriteZone("zoned.com.\t172800\tin\tns\tns1.x.\n");
    const std::string input = "taken1.com\nzoned.com\nfree1.com\nheld.com\ntaken2.com\n";
    const QStringList common = {
        "check", "--format", "csv", "--retries", "0", "--zone", QString::fromStdString(zone)};

    const TCliRun first = Run(common, input);
    ASSERT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(MethodsOf(first.Out), (std::map<std::string, std::string>{{"taken1.com", "dns"},
                                                                        {"taken2.com", "dns"},
                                                                        {"zoned.com", "zone"},
                                                                        {"free1.com", "whois"},
                                                                        {"held.com", "whois"}}))
        << first.Out;
    TLines asked = FWhois->Queries();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (TLines{"free1.com", "held.com"}));
    EXPECT_NE(first.Err.find("1 free, 4 registered"), std::string::npos) << first.Err;
    EXPECT_NE(first.Err.find("registered by dns 2, whois 1, zone 1"), std::string::npos)
        << first.Err;

    const TCliRun off = Run(common + QStringList{"--dns", "off"}, input);
    ASSERT_EQ(off.ExitCode, 0) << off.Err;
    EXPECT_NE(off.Err.find("1 free, 4 registered"), std::string::npos) << off.Err;
    EXPECT_EQ(FWhois->Queries().size(), 2u + 4u);

    // The text form names what decided it.
    const TCliRun text = Run({"check", "--retries", "0"}, "taken1.com\n");
    EXPECT_EQ(LinesOf(text.Out), (TLines{"taken1.com  已注册（DNS）"})) << text.Out;
}

// Without a stand-in name server, a run against a stand-in WHOIS server asks
// no name server: every name goes to the registry, and lookup says why.
TEST_F(CliDnsZoneTest, AStandInWhoisServerAloneTurnsDnsFirstOff) {
    TScopedEnv dns("TAVIREL_DNS_SERVER");
    const TCliRun run = Run({"check", "--dns", "on", "--retries", "0"}, "taken1.com\n");
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(FWhois->Queries(), (TLines{"taken1.com"}));
    EXPECT_NE(run.Err.find("DNS first is off: TAVIREL_WHOIS_SERVER is set without"),
              std::string::npos)
        << run.Err;
    const TCliRun lookup = Run({"lookup", "taken1.com"});
    EXPECT_NE(lookup.Out.find("dns: not asked (TAVIREL_WHOIS_SERVER is set without"),
              std::string::npos)
        << lookup.Out;
}

TEST_F(CliDnsZoneTest, LookupShowsWhatTheNameServerSaid) {
    if (!TLocalNsd::Installed())
        GTEST_SKIP() << "nsd is not installed (Debian package nsd)";
    TLocalNsd nsd({{"com", DelegatingZone("com", {"taken1"})}});
    ASSERT_TRUE(nsd.Start()) << nsd.Error();
    TScopedEnv dns("TAVIREL_DNS_SERVER", nsd.Address());
    const TCliRun run = Run({"lookup", "taken1.com", "free1.com"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find("dns: delegated: "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("dns: not delegated (nxdomain): "), std::string::npos) << run.Out;
    // lookup still asks the registry: it shows everything.
    EXPECT_EQ(FWhois->Queries().size(), 2u);
}

// zone FILE: built once, then found unchanged; broken lines named with their
// number; a file that cannot be used refuses the command, as it refuses check.
TEST_F(CliDnsZoneTest, ZoneCommandBuildsOnceAndNamesBrokenLines) {
    const std::string zone = WriteZone("a.com.\t172800\tin\tns\tns1.x.\n"
                                       "this is not a record\n"
                                       "b.com.\t172800\tin\tns\tns1.x.\n");
    const TCliRun built = Run({"zone", QString::fromStdString(zone)});
    ASSERT_EQ(built.ExitCode, 0) << built.Err;
    EXPECT_NE(built.Out.find(": .com, 2 delegated names, of "), std::string::npos) << built.Out;
    EXPECT_NE(built.Out.find(" built in "), std::string::npos) << built.Out;
    EXPECT_NE(built.Err.find("com.zone:2: "), std::string::npos) << built.Err;
    const TCliRun again = Run({"zone", QString::fromStdString(zone)});
    EXPECT_NE(again.Out.find(" unchanged in "), std::string::npos) << again.Out;

    for (const QStringList& args :
         {QStringList{"zone", "/nonexistent/com.zone"}, QStringList{"zone"},
          QStringList{"check", "--zone", "/nonexistent/com.zone"},
          QStringList{"check", "--dns", "maybe"}}) {
        const TCliRun refused = Run(args, "a.com\n");
        EXPECT_EQ(refused.ExitCode, 2) << args.join(' ').toStdString() << "\n" << refused.Err;
        EXPECT_EQ(refused.Out, "");
    }
    EXPECT_EQ(FWhois->AcceptedCount(), 0);
}

} // namespace
