#include "tests/support/CliRunner.h"
#include "tests/support/ScopedEnv.h"
#include "tools/FakeRdapServer.h"
#include "tools/FakeWhoisServer.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace {

using testcli::RunCli;
using testcli::TCliRun;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(CliLookup, ShowsWhatTheEngineReadsInEachReply) {
    TFakeWhoisOptions options;
    // UTF-8 on the wire: the engine holds it in GBK and the command shows it
    // in UTF-8 again. 注册人：中文
    options.Responder = [](const std::string&) {
        return std::string(
            "No match for this name.\r\n"
            "Creation Date: 15-Jan-2005\r\n"
            "Expiration Date: 2030-12-31T00:00:00Z\r\n"
            "\xE6\xB3\xA8\xE5\x86\x8C\xE4\xBA\xBA\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87\r\n");
    };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();

    const TCliRun run =
        RunCli({"lookup", "Abc.io", "例子.中国"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    // Asked by the A-label, shown as given.
    EXPECT_EQ(server.RawQueries(),
              (std::vector<std::string>{"abc.io\r\n", "xn--fsqu00a.xn--fiqs8s\r\n"}));
    for (const char* expected : {
             "domain: Abc.io\n",
             "domain: 例子.中国\n",
             "query name: xn--fsqu00a.xn--fiqs8s\n",
             "valid: yes\n",
             "protocol: whois\n",
             "\xE6\xB3\xA8\xE5\x86\x8C\xE4\xBA\xBA\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87",
             "available: yes\n",
             "verdict: free\n",
             // The dates as check's result lines show them.
             "creation date: 15-01-2005\n",
             "expiration date: 2030-12-31T00 00 00Z\n",
         }) {
        EXPECT_TRUE(Has(run.Out, expected)) << expected << "\n--- output:\n" << run.Out;
    }
    EXPECT_TRUE(Has(run.Out, "server: " + server.Address() +
                                 " (TAVIREL_WHOIS_SERVER; the "
                                 "suffix's server: whois "
                                 "whois.nic.io)\n"))
        << run.Out;

    // A name the rule refuses is not asked; --ip resolves it as given (an
    // address: the name service is not asked).
    const TCliRun invalid =
        RunCli({"lookup", "--ip", "127.0.0.1"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(invalid.ExitCode, 0) << invalid.Err;
    EXPECT_EQ(server.RawQueries().size(), 2u);
    EXPECT_TRUE(Has(invalid.Out, "valid: no (")) << invalid.Out;
    EXPECT_TRUE(Has(invalid.Out, "protocol: none\nserver: -\nverdict: unknown (invalid: "))
        << invalid.Out;
    EXPECT_TRUE(Has(invalid.Out, "ip: 127.0.0.1\n")) << invalid.Out;
}

TEST(CliLookup, RegisteredReplyAndFailedExchange) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) {
        return query == "abc.com" ? std::string("Domain: x\nName Server: ns1.x\n") : std::string();
    };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();

    const TCliRun registered = RunCli({"lookup", "abc.com"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(registered.ExitCode, 0) << registered.Err;
    EXPECT_TRUE(Has(registered.Out, "available: no\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "Name Server: ns1.x\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "reply: 29 bytes (closed by the server)\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "verdict: registered\n")) << registered.Out;
    // Without --ip the name service is not asked.
    EXPECT_FALSE(Has(registered.Out, "ip:")) << registered.Out;

    // The server closes without a byte: an empty reply, still exit 0.
    const TCliRun empty = RunCli({"lookup", "def.com"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(empty.ExitCode, 0) << empty.Err;
    EXPECT_TRUE(Has(empty.Out, "reply: 0 bytes (closed by the server)\n")) << empty.Out;
    EXPECT_TRUE(Has(empty.Out, "available: no\n")) << empty.Out;
    EXPECT_TRUE(
        Has(empty.Out, "verdict: unknown (failed: no reply from " + server.Address() + ")\n"))
        << empty.Out;
    EXPECT_TRUE(Has(empty.Out, "creation date: \n")) << empty.Out;
}

// A referral to an address, a port or a private network is not followed:
// lookup says why, and nothing connects to it.
TEST(CliLookup, SaysWhyAReferralWasRefused) {
    TFakeWhoisServer target({});
    ASSERT_TRUE(target.Start()) << target.Error();
    for (const std::string& referral : {target.Address(), std::string("10.0.0.7")}) {
        TFakeWhoisOptions options;
        options.Responder = [&](const std::string&) {
            return "No match for this name.\r\nWhois Server: " + referral + "\r\n";
        };
        TFakeWhoisServer server(std::move(options));
        ASSERT_TRUE(server.Start()) << server.Error();
        const TCliRun run = RunCli({"lookup", "abc.com"}, {.WhoisServer = server.Address()});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_TRUE(Has(run.Out, "referral: referral to " + referral + " refused: '" + referral))
            << run.Out;
        EXPECT_TRUE(Has(run.Out, "verdict: free\n")) << run.Out;
    }
    EXPECT_EQ(target.AcceptedCount(), 0);
}

// One name per route, every server on loopback: port 43 where the suffix has
// it, RDAP where it has only that or its port-43 service is gone, nothing for
// a suffix no one serves.
TEST(CliLookup, AsksTheServerTheChoiceGives) {
    TFakeRdapOptions rdapOptions;
    rdapOptions.Responder = [](const TFakeRdapRequest& request) {
        std::optional<TFakeRdapResponse> answer;
        if (request.Path.ends_with("/domain/abc.info"))
            answer = TFakeRdapResponse{200,
                                       {},
                                       R"({"objectClassName":"domain","ldhName":"abc.info",)"
                                       R"("events":[{"eventAction":"registration",)"
                                       R"("eventDate":"2001-02-03T04:05:06Z"}]})"};
        return answer;
    };
    TFakeRdapServer rdap(std::move(rdapOptions));
    ASSERT_TRUE(rdap.Start()) << rdap.Error();
    TScopedEnv rdapBase("TAVIREL_RDAP_BASE", rdap.BaseUrl());

    // The port-43 server of .xyz no longer serves it.
    TFakeWhoisOptions goneOptions;
    goneOptions.Responder = [](const std::string&) {
        return std::string("TLD is not supported.\r\n");
    };
    TFakeWhoisServer gone(std::move(goneOptions));
    ASSERT_TRUE(gone.Start()) << gone.Error();
    QTemporaryDir dir;
    const std::string dataFile = dir.filePath("servers.tsv").toStdString();
    std::ofstream(dataFile) << "tld\twhois_server\trdap_base\n"
                            << "xyz\t" << gone.Address() << "\thttps://rdap.example/xyz/\n"
                            << "info\t\thttps://rdap.example/info/\n";

    struct TRoute {
        QStringList Args;
        std::vector<std::string> Expected;
    };
    const std::string base = "server: " + rdap.BaseUrl() + "\n";
    const std::vector<TRoute> routes = {
        {{"abc.info"},
         {"protocol: rdap\n", base, "verdict: registered\n",
          "creation date: 2001-02-03T04 05 06Z\n"}},
        {{"free.info"}, {"protocol: rdap\n", "verdict: free\n"}},
        {{"--registry-data", QString::fromStdString(dataFile), "abc.xyz"},
         {"protocol: rdap\n", base,
          "fallback: port 43: " + gone.Address() + " does not serve .xyz; asked over RDAP\n",
          "verdict: free\n"}},
        {{"abc.zzzz"},
         {"protocol: none\n", "server: -\n",
          "verdict: unknown (unsupported-suffix: unknown suffix .zzzz)\n"}},
        {{"--protocol", "whois", "abc.info"},
         {"protocol: none\n",
          "verdict: unknown (unsupported-suffix: no port-43 server is known for .info)\n"}},
    };
    for (const TRoute& route : routes) {
        QStringList args = route.Args;
        args.prepend("lookup");
        const TCliRun run = RunCli(args);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        for (const std::string& expected : route.Expected)
            EXPECT_TRUE(Has(run.Out, expected)) << expected << "\n--- output:\n" << run.Out;
    }
    EXPECT_EQ(gone.RawQueries(), std::vector<std::string>{"abc.xyz\r\n"});
    EXPECT_EQ(rdap.Requests(), (std::vector<std::string>{"/domain/abc.info", "/domain/free.info",
                                                         "/domain/abc.xyz"}));
}

// What ended a failed exchange is on the reply's line and in the verdict.
TEST(CliLookup, SaysWhyNoReplyCame) {
    // "no such host!" is no host name: the resolver refuses it without DNS.
    const TCliRun lookupFailed = RunCli({"lookup", "a.com"}, {.WhoisServer = "no such host!"});
    ASSERT_EQ(lookupFailed.ExitCode, 0) << lookupFailed.Err;
    EXPECT_TRUE(Has(lookupFailed.Out, "reply: 0 bytes (name lookup of no such host! failed)\n"))
        << lookupFailed.Out;
    EXPECT_TRUE(
        Has(lookupFailed.Out, "verdict: unknown (failed: name lookup of no such host! failed)\n"))
        << lookupFailed.Out;

    TFakeWhoisOptions options;
    options.Mode = TFakeWhoisMode::Reset;
    options.Responder = [](const std::string&) { return std::string("No match for a.com\r\n"); };
    options.ResetAfterBytes = 8;
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();
    const TCliRun cut = RunCli({"lookup", "a.com"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(cut.ExitCode, 0) << cut.Err;
    EXPECT_TRUE(Has(cut.Out, "reply: 8 bytes (connection reset)\n")) << cut.Out;
    EXPECT_TRUE(Has(cut.Out, "verdict: unknown (cut: connection reset)\n")) << cut.Out;
}

TEST(CliLookup, WithoutDomainsShowsUsage) {
    const TCliRun run = RunCli({"lookup"}, {.WhoisServer = "127.0.0.1:1"});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_TRUE(Has(run.Err, "usage")) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
}

} // namespace
