#include "tests/support/CliRunner.h"
#include "tools/FakeWhoisServer.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

namespace {

using testcli::RunCli;
using testcli::TCliRun;

constexpr int Names = 40;

std::string Reply(const std::string& query) {
    if (query.starts_with("free"))
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query + "\r\nName Server: ns1.x.com\r\n";
}

std::string ListOfNames() {
    std::string list;
    for (int i = 0; i < Names; ++i)
        list += (i % 4 == 0 ? "free" : "held") + std::to_string(i) + ".com\n";
    return list;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The refusals the closing summary counts.
int ThrottledOf(const std::string& err) {
    const std::size_t queries = err.find(" queries, ");
    if (queries == std::string::npos)
        return -1;
    return std::atoi(err.c_str() + queries + std::string_view(" queries, ").size());
}

struct TRetryCliCase {
    const char* Name;
    QStringList Extra;
    int ExitCode;
    const char* Summary; // in the closing summary
    bool Refused;        // whether the server refused any query
};

class CliRetryTest : public ::testing::TestWithParam<TRetryCliCase> {
protected:
    void SetUp() override {
        // 20 queries a second per client, two at once: 8 threads run into it.
        TFakeWhoisOptions options;
        options.Responder = Reply;
        options.LimitPerSecond = 20;
        options.LimitBurst = 2;
        Server = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(Server->Start()) << Server->Error();
    }
    std::unique_ptr<TFakeWhoisServer> Server;
    QTemporaryDir Dir;
};

// Against a server that limits each client, check waits out every refusal
// and ends with every name decided; without retries the refused names are
// left unknown, with their reason in the summary, in --unknown-out and in the
// JSON lines.
TEST_P(CliRetryTest, EveryNameIsDecidedAgainstALimitedServer) {
    const TRetryCliCase& c = GetParam();
    const QString unknownOut = Dir.filePath("unknown.txt");
    QStringList args = {"check", "--threads",     "8",       "--format",
                        "jsonl", "--unknown-out", unknownOut};
    for (QString arg : c.Extra)
        args << arg.replace("SERVER", QString::fromStdString(Server->Address()));
    args << "-";
    const TCliRun run = RunCli(args, {.Stdin = ListOfNames(), .WhoisServer = Server->Address()});
    ASSERT_EQ(run.ExitCode, c.ExitCode) << run.Err;
    EXPECT_NE(run.Err.find(c.Summary), std::string::npos) << run.Err;
    EXPECT_EQ(ThrottledOf(run.Err) > 0, c.Refused) << run.Err;
    const std::vector<std::string> lines = testcli::LinesOf(run.Out);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(Names));
    const std::string unknown = ReadFile(unknownOut.toStdString());
    if (c.ExitCode == 0) {
        EXPECT_EQ(unknown, "");
        EXPECT_EQ(run.Out.find("\"unknown\""), std::string::npos);
    } else {
        // Each unknown name with a tab and its reason, ready to check again.
        EXPECT_NE(unknown.find(".com\tthrottled\r\n"), std::string::npos) << unknown;
        EXPECT_NE(run.Out.find("\"reason\":\"throttled\""), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliRetryTest,
    ::testing::Values(
        TRetryCliCase{"DefaultRetries", {}, 0, "10 free, 30 registered, 0 unknown;", true},
        TRetryCliCase{"NoRetries", {"--retries", "0"}, 1, " throttled)", true},
        // A pace within the limit is never refused.
        TRetryCliCase{"PaceWithinTheLimit",
                      {"--pace", "SERVER=10/s"},
                      0,
                      "0 unknown; 0 skipped as invalid; in",
                      false}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TBadArgsCase {
    const char* Name;
    QStringList Args;
    const char* Message;
};

class CliRetryArgsTest : public ::testing::TestWithParam<TBadArgsCase> {};

TEST_P(CliRetryArgsTest, AreRefusedWithTwo) {
    QStringList args = {"check"};
    args << GetParam().Args << "-";
    const TCliRun run = RunCli(args, {.Stdin = "a.com\n", .WhoisServer = "127.0.0.1:1"});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliRetryArgsTest,
    ::testing::Values(
        TBadArgsCase{"RetriesAboveTen", {"--retries", "11"}, "--retries: 11 is out of range"},
        TBadArgsCase{"RetriesNegative", {"--retries", "-1"}, "--retries: -1 is out of range"},
        TBadArgsCase{"RetriesNotANumber", {"--retries", "x"}, "--retries: 'x'"},
        TBadArgsCase{"PaceWithoutRate", {"--pace", "whois.nic.uk"}, "--pace: 'whois.nic.uk'"},
        TBadArgsCase{"PaceZero", {"--pace", "whois.nic.uk=0/s"}, "--pace:"},
        TBadArgsCase{"PaceNotANumber", {"--pace", "whois.nic.uk=fast"}, "--pace:"},
        TBadArgsCase{"PaceWithoutHost", {"--pace", "=5/s"}, "--pace:"},
        // Outside what a pace keeps: refused before anything is asked.
        TBadArgsCase{"PaceFarBelowOnceAMinute",
                     {"--pace", "127.0.0.1=1e-10/s"},
                     "--pace: '127.0.0.1=1e-10/s': N is out of range (from 1/60"},
        TBadArgsCase{"PaceJustBelowOnceAMinute", {"--pace", "a=0.0166/s"}, "out of range"},
        TBadArgsCase{"PaceAboveTheCeiling", {"--pace", "a=1000.5/s"}, "to 1000 queries a second"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The bounds of the range are paces like any other.
TEST(CliRetryPaceTest, TakesThePacesAtTheBoundsOfItsRange) {
    const TCliRun run = RunCli(
        {"check", "--retries", "0", "--pace", "127.0.0.1=0.0167/s", "--pace", "other=1000/s", "-"},
        {.Stdin = "a.com\n", .WhoisServer = "127.0.0.1:1"});
    EXPECT_EQ(run.ExitCode, 1) << run.Err; // asked, and left unknown: nobody listens
    EXPECT_NE(run.Err.find("checked 1 names"), std::string::npos) << run.Err;
}

// A server that asks for a day's wait is not waited for: its names end
// unknown (throttled, the detail naming the wait) without being asked, the
// batch ends at once, and the summary says when the server may be asked again.
TEST(CliRetryPutOffTest, ADayLongWaitLeavesTheServersNamesUnknownAtOnce) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) -> std::string {
        if (query.starts_with("first"))
            return "Query limit exceeded; try again in 86400 seconds.\r\n";
        return Reply(query);
    };
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    std::string list = "first.com\n";
    for (int i = 1; i < 10; ++i)
        list += "held" + std::to_string(i) + ".com\n";
    const TCliRun run = RunCli({"check", "--threads", "1", "--format", "jsonl", "-"},
                               {.Stdin = list, .WhoisServer = server.Address()});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_EQ(server.Queries().size(), 1u);
    EXPECT_NE(run.Err.find("checked 10 names: 0 free, 0 registered, 10 unknown (10 throttled)"),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find("; 1 queries, 1 throttled\n"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(server.Address() + " asked for a wait longer than a batch sits out"),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find("it may be asked again after 20"), std::string::npos) << run.Err;
    const std::vector<std::string> lines = testcli::LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 10u);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("asked for a wait of 86400 s"), std::string::npos) << lines[i];
}

} // namespace
