#include "tests/support/CliRunner.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using testcli::RunCli;
using testcli::TCliRun;

// "free…" names are free, "none…" names get no reply, others are registered.
std::string Reply(const std::string& query) {
    if (query.starts_with("free"))
        return "No match for \"" + query + "\".\r\n";
    if (query.starts_with("none"))
        return "";
    return "Domain Name: " + query + "\r\nName Server: ns1.x.com\r\n";
}

struct TStatusCase {
    const char* Name;
    QStringList Args;
    std::string Stdin;
    int ExitCode;
};

class CliExitStatusTest : public ::testing::TestWithParam<TStatusCase> {
protected:
    static void SetUpTestSuite() {
        TFakeWhoisOptions options;
        options.Responder = Reply;
        Server = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(Server->Start()) << Server->Error();
    }
    static void TearDownTestSuite() { Server.reset(); }

    static std::unique_ptr<TFakeWhoisServer> Server;
};

std::unique_ptr<TFakeWhoisServer> CliExitStatusTest::Server;

// 0: done, every name decided; 1: done, but a name is left unknown (or a file
// not saved); 2: nothing done, the arguments or the input are wrong.
TEST_P(CliExitStatusTest, IsTheDocumentedOne) {
    const TCliRun run =
        RunCli(GetParam().Args, {.Stdin = GetParam().Stdin, .WhoisServer = Server->Address()});
    EXPECT_EQ(run.ExitCode, GetParam().ExitCode) << run.Err;
    if (GetParam().ExitCode == 2) {
        EXPECT_NE(run.Err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliExitStatusTest,
    ::testing::Values(
        TStatusCase{"NoCommand", {}, "", 2}, TStatusCase{"UnknownCommand", {"query"}, "", 2},
        TStatusCase{"CheckAllDecided", {"check"}, "a.com\nfree1.com\n", 0},
        TStatusCase{"CheckOneUnknown", {"check"}, "a.com\nnone1.com\n", 1},
        TStatusCase{"CheckOnlyInvalidLines", {"check"}, "my_name.com\n", 0},
        TStatusCase{"CheckBadOption", {"check", "--fast"}, "a.com\n", 2},
        TStatusCase{"CheckUnreadableFile", {"check", "/"}, "", 2},
        TStatusCase{"CheckMissingFile", {"check", "/nonexistent/list.txt"}, "", 2},
        TStatusCase{"LookupDone", {"lookup", "a.com", "none1.com"}, "", 0},
        TStatusCase{"LookupNoDomain", {"lookup"}, "", 2},
        TStatusCase{"LookupBadOption", {"lookup", "--fast", "a.com"}, "", 2},
        TStatusCase{"WhoisDone", {"whois", "a.com"}, "", 0},
        TStatusCase{"WhoisInvalidName", {"whois", "my_name.com"}, "", 2},
        TStatusCase{"WhoisNoDomain", {"whois"}, "", 2},
        TStatusCase{"ImportDone", {"import", "-"}, "a.com\n", 0},
        TStatusCase{"ImportMissingFile", {"import", "/nonexistent/list.txt"}, "", 2},
        TStatusCase{"GenerateDone", {"generate", "a{数字}.com", "--count", "3"}, "", 0},
        TStatusCase{"GenerateBadCount", {"generate", "a.com", "--count", "x"}, "", 2}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every command explains itself on standard output, ending with a line end.
TEST(CliHelpTest, EveryCommandAnswersHelp) {
    for (const QStringList& args :
         {QStringList{"--help"}, QStringList{"lookup", "--help"}, QStringList{"check", "--help"},
          QStringList{"generate", "--help"}, QStringList{"import", "--help"},
          QStringList{"whois", "--help"}}) {
        const TCliRun run = RunCli(args, {.WhoisServer = "127.0.0.1:1"});
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(run.ExitCode, 0) << what;
        EXPECT_NE(run.Out.find("usage: tavirelbrisvane-cli"), std::string::npos) << what;
        EXPECT_TRUE(run.Out.ends_with('\n')) << what;
        EXPECT_EQ(run.Err, "") << what;
    }
}

// The build tree's programs read the source tree's data through
// BUILD/share/tavirelbrisvane, as an installed one reads PREFIX/share's.
TEST(CliHelpTest, VersionNamesTheProgramAndItsData) {
    const TScopedEnv noChoice("TAVIREL_DATA_DIR");
    const TCliRun run = RunCli({"--version"});
    EXPECT_EQ(run.ExitCode, 0);
    const std::filesystem::path data =
        std::filesystem::canonical(testpaths::BuildDir()) / "share" / "tavirelbrisvane";
    EXPECT_EQ(
        testcli::LinesOf(run.Out),
        (std::vector<std::string>{"tavirelbrisvane-cli 1.0", "registry data: " + data.string()}));
    EXPECT_TRUE(std::filesystem::exists(data / "tld-servers.tsv"));

    const TScopedEnv chosen("TAVIREL_DATA_DIR", "/nonexistent/data");
    EXPECT_TRUE(
        RunCli({"--version"}).Out.ends_with("\nregistry data: /nonexistent/data (missing)\n"));
}

} // namespace
