#include "tests/support/CliRunner.h"
#include "tools/FakeWhoisServer.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

namespace {

using testcli::RunCli;
using testcli::TCliRun;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The names are ones the name service answers from the hosts file or as
// numbers, so the address lookup never leaves the machine.
TEST(CliLookup, ShowsWhatTheEngineReadsInEachReply) {
    TFakeWhoisOptions options;
    // UTF-8 on the wire: the engine holds it in GBK and the command shows it
    // in UTF-8 again. 注册人：中文
    options.Responder = [](const std::string&) {
        return std::string(
            "No match for this name.\r\n"
            "Creation Date: 15-Jan-2005\r\n"
            "Expiration Date: 2030-12-31\r\n"
            "\xE6\xB3\xA8\xE5\x86\x8C\xE4\xBA\xBA\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87\r\n");
    };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();

    const TCliRun run =
        RunCli({"lookup", "--ip", "LocalHost", "127.0.0.1"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(server.RawQueries(), (std::vector<std::string>{"localhost\r\n", "127.0.0.1\r\n"}));

    for (const char* expected : {
             "domain: LocalHost\n",
             "domain: 127.0.0.1\n",
             "valid: no\n",
             "\xE6\xB3\xA8\xE5\x86\x8C\xE4\xBA\xBA\xEF\xBC\x9A\xE4\xB8\xAD\xE6\x96\x87",
             "available: yes\n",
             "verdict: free\n",
             "creation date: : 15-01-2005\n",
             "expiration date: : 2030-12-31\n",
             "ip: 127.0.0.1\n",
         }) {
        EXPECT_TRUE(Has(run.Out, expected)) << expected << "\n--- output:\n" << run.Out;
    }
    EXPECT_TRUE(Has(run.Out, "server: " + server.Address() + "\n")) << run.Out;
}

TEST(CliLookup, RegisteredReplyAndFailedExchange) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) {
        return query == "localhost" ? std::string("Domain: x\nName Server: ns1.x\n")
                                    : std::string();
    };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();

    const TCliRun registered = RunCli({"lookup", "localhost"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(registered.ExitCode, 0) << registered.Err;
    EXPECT_TRUE(Has(registered.Out, "available: no\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "Name Server: ns1.x\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "reply: 29 bytes (closed by the server)\n")) << registered.Out;
    EXPECT_TRUE(Has(registered.Out, "verdict: registered\n")) << registered.Out;
    // Without --ip the name service is not asked.
    EXPECT_FALSE(Has(registered.Out, "ip:")) << registered.Out;

    // The server closes without a byte: an empty reply, still exit 0.
    const TCliRun empty = RunCli({"lookup", "127.0.0.1"}, {.WhoisServer = server.Address()});
    ASSERT_EQ(empty.ExitCode, 0) << empty.Err;
    EXPECT_TRUE(Has(empty.Out, "reply: 0 bytes (closed by the server)\n")) << empty.Out;
    EXPECT_TRUE(Has(empty.Out, "available: no\n")) << empty.Out;
    EXPECT_TRUE(
        Has(empty.Out, "verdict: unknown (failed: no reply from " + server.Address() + ")\n"))
        << empty.Out;
    EXPECT_TRUE(Has(empty.Out, "creation date: \n")) << empty.Out;
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
