#include "tests/support/CliRunner.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

using TLines = std::vector<std::string>;

// Names starting with "free" are not registered; others were registered on
// 2001-02-03 and expire on 14-sep-2031.
std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query +
           "\r\nCreation Date: 2001-02-03\r\nExpiration Date: 14-sep-2031\r\n"
           "Registrant Email: owner@" +
           query + "\r\nName Server: ns1.x.com\r\n";
}

const std::string FMUtf8 = "\xEE\x9D\xB4"; // U+E774, the field mark decoded
const std::string FMGbk = "\xA4\xF6";
const std::string RegUtf8 = "注册时间:";
const std::string ExpUtf8 = "到期时间:";
const std::string MailUtf8 = "邮箱:";
const std::string RegGbk = "\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:";
const std::string ExpGbk = "\xB5\xBD\xC6\xDA\xCA\xB1\xBC\xE4:";
const std::string NoInfoUtf8 = " 无返回信息   <<<";
const std::string NoInfoGbk = " \xCE\xDE\xB7\xB5\xBB\xD8\xD0\xC5\xCF\xA2   <<<";

class CliCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        TFakeWhoisOptions options;
        options.Responder = Reply;
        FServer = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(FServer->Start()) << FServer->Error();
        ASSERT_TRUE(FDir.isValid());
    }

    TCliRun Check(QStringList args, const std::string& input = {}) const {
        args.prepend("check");
        return RunCli(args, {.Stdin = input, .WhoisServer = FServer->Address()});
    }

    QString WriteFile(const char* name, const std::string& bytes) const {
        const QString path = FDir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }
    std::string ReadFile(const char* name) const {
        return testpaths::ReadFileBytes(FDir.filePath(name).toStdString());
    }

    std::unique_ptr<TFakeWhoisServer> FServer;
    QTemporaryDir FDir;
};

std::string RegisteredUtf8(const std::string& domain) {
    return domain + FMUtf8 + RegUtf8 + "2001-02-03" + FMUtf8 + ExpUtf8 + "14-09-2031";
}

TEST_F(CliCheckTest, PrintsResultLinesAndOneSummaryLine) {
    const QString list = WriteFile("list.txt", "a.com\r\nfree1.com\nb.com");
    const TCliRun run = Check({"--threads", "1", list});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out),
              (TLines{RegisteredUtf8("a.com"), "free1.com" + NoInfoUtf8, RegisteredUtf8("b.com")}));
    const TLines err = LinesOf(run.Err);
    ASSERT_EQ(err.size(), 1u) << run.Err;
    EXPECT_TRUE(err[0].starts_with(
        "checked 3 names: 1 free, 2 registered, 0 unknown; 0 skipped as invalid; in "))
        << err[0];
    EXPECT_EQ(FServer->Queries(), (TLines{"a.com", "free1.com", "b.com"}));
}

TEST_F(CliCheckTest, ReadsStandardInputWhenNoFileOrDash) {
    for (const QStringList& args : {QStringList{}, QStringList{"-"}}) {
        const TCliRun run = Check(args, "a.com\n");
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(LinesOf(run.Out), TLines{RegisteredUtf8("a.com")});
    }
}

struct TShowCase {
    const char* Name;
    QString Show;
    std::string Line; // for a.com
};

class CliCheckShowTest : public CliCheckTest, public ::testing::WithParamInterface<TShowCase> {};

TEST_P(CliCheckShowTest, HandsTheFlagsToEveryJob) {
    const TCliRun run = Check({"--show", GetParam().Show}, "a.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out), TLines{GetParam().Line});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliCheckShowTest,
    ::testing::Values(
        TShowCase{"DomainOnly", "domain", "a.com" + NoInfoUtf8},
        TShowCase{"WithoutDomain", "exptime", FMUtf8 + ExpUtf8 + "14-09-2031"},
        TShowCase{"Email", "domain,email", "a.com" + FMUtf8 + MailUtf8 + "owner@a.com"},
        TShowCase{"OrderOfListDoesNotMatter", "exptime,domain,regtime", RegisteredUtf8("a.com")}),
    [](const auto& info) { return info.param.Name; });

TEST_F(CliCheckTest, NothingToShowGivesAnEmptyLine) {
    // The reply names no address, and the domain is not shown.
    const TCliRun run = Check({"--show", "email"}, "free1.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "\n");
}

TEST_F(CliCheckTest, GbkWritesTheBytesAsTheyAre) {
    const TCliRun run = Check({"--gbk", "--show", "domain,regtime"}, "a.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "a.com" + FMGbk + RegGbk + "2001-02-03\n");
}

TEST_F(CliCheckTest, SavesFreeListAndResultsAsGbkWithCrLf) {
    const QString free = FDir.filePath("free.txt");
    const QString results = FDir.filePath("results.txt");
    // An earlier file is replaced, not appended to.
    WriteFile("free.txt", "old content\r\n");
    const TCliRun run = Check({"--threads", "1", "--free-out", free, "--results-out", results},
                              "free1.com\na.com\nfree2.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadFile("free.txt"), "free1.com\r\nfree2.com\r\n");
    EXPECT_EQ(ReadFile("results.txt"), "free1.com" + NoInfoGbk + "\r\na.com" + FMGbk + RegGbk +
                                           "2001-02-03" + FMGbk + ExpGbk + "14-09-2031\r\n" +
                                           "free2.com" + NoInfoGbk + "\r\n");
}

TEST_F(CliCheckTest, EmptyFreeListGivesEmptyFile) {
    const QString free = FDir.filePath("free.txt");
    const TCliRun run = Check({"--free-out", free}, "a.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadFile("free.txt"), "");
}

struct TThreadsCase {
    const char* Name;
    QString Threads;
    int ExitCode;
};

class CliCheckThreadsTest : public CliCheckTest,
                            public ::testing::WithParamInterface<TThreadsCase> {};

// 1 to 256 queries at once; any other count is refused before a file is
// touched or a query made.
TEST_P(CliCheckThreadsTest, TakesOneToTwoHundredFiftySix) {
    WriteFile("free.txt", "old.com\r\n");
    const TCliRun run = Check(
        {"--threads", GetParam().Threads, "--free-out", FDir.filePath("free.txt")}, "free1.com\n");
    EXPECT_EQ(run.ExitCode, GetParam().ExitCode) << run.Err;
    if (GetParam().ExitCode == 2) {
        EXPECT_NE(run.Err.find("--threads"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(ReadFile("free.txt"), "old.com\r\n");
        EXPECT_EQ(FServer->AcceptedCount(), 0);
    } else {
        EXPECT_EQ(ReadFile("free.txt"), "free1.com\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliCheckThreadsTest,
    ::testing::Values(TThreadsCase{"Zero", "0", 2}, TThreadsCase{"One", "1", 0},
                      TThreadsCase{"Max", "256", 0}, TThreadsCase{"OneTooMany", "257", 2},
                      TThreadsCase{"SevenHundred", "700", 2}, TThreadsCase{"Negative", "-1", 2},
                      TThreadsCase{"Hexadecimal", "$10", 0}),
    [](const auto& info) { return info.param.Name; });

// Twenty invalid lines are named one by one, the rest counted; the valid
// names are checked as if the others were not there.
TEST_F(CliCheckTest, ListsSkippedLinesOnStandardError) {
    std::string input = "a.com\n";
    for (int i = 1; i <= 25; ++i)
        input += "bad_" + std::to_string(i) + ".com\n";
    const TCliRun run = Check({}, input);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out), TLines{RegisteredUtf8("a.com")});
    const TLines err = LinesOf(run.Err);
    ASSERT_EQ(err.size(), 22u) << run.Err;
    for (int i = 1; i <= 20; ++i)
        EXPECT_EQ(err[i - 1], "tavirelbrisvane-cli check: skipped, not a valid domain name: bad_" +
                                  std::to_string(i) + ".com (label 'bad_" + std::to_string(i) +
                                  "': character '_' is not a letter, digit or hyphen)");
    EXPECT_EQ(err[20], "tavirelbrisvane-cli check: skipped 5 more invalid lines");
    EXPECT_TRUE(err[21].starts_with(
        "checked 1 names: 0 free, 1 registered, 0 unknown; 25 skipped as invalid; in "))
        << err[21];
}

// Hyphens and Chinese names are all asked, by their A-labels, and shown as
// given; a name libidn2 refuses is skipped with its reason.
TEST_F(CliCheckTest, HyphenatedAndChineseNamesAreAllQueried) {
    const TCliRun run = Check({"--threads", "1"}, "my-shop.com\n中文.com\n例子.中国\n☆abc.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(FServer->Queries(),
              (TLines{"my-shop.com", "xn--fiq228c.com", "xn--fsqu00a.xn--fiqs8s"}));
    EXPECT_EQ(LinesOf(run.Out), (TLines{RegisteredUtf8("my-shop.com"), RegisteredUtf8("中文.com"),
                                        RegisteredUtf8("例子.中国")}));
    EXPECT_NE(run.Err.find("skipped, not a valid domain name: "), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("IDNA2008"), std::string::npos) << run.Err;
}

// One name written several ways is asked and counted once, by the name
// asked, and shown as first written.
TEST_F(CliCheckTest, ANameWrittenSeveralWaysIsAskedOnce) {
    const TCliRun run =
        Check({"--threads", "1"}, "abc.com\nABC.COM\nAbc.Com\nfree.com\nＦＲＥＥ.com\n");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(FServer->Queries(), (TLines{"abc.com", "free.com"}));
    EXPECT_EQ(LinesOf(run.Out), (TLines{RegisteredUtf8("abc.com"), "free.com" + NoInfoUtf8}));
    EXPECT_NE(run.Err.find("checked 2 names: 1 free, 1 registered"), std::string::npos) << run.Err;
}

struct TBadCase {
    const char* Name;
    QStringList Args;
    std::string Message; // part of what standard error says
};

class CliCheckBadArgumentsTest : public CliCheckTest,
                                 public ::testing::WithParamInterface<TBadCase> {};

TEST_P(CliCheckBadArgumentsTest, ExitsWithTwoAndSaysWhy) {
    const TCliRun run = Check(GetParam().Args, "a.com\n");
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliCheckBadArgumentsTest,
    ::testing::Values(
        TBadCase{"ThreadsNotANumber", {"--threads", "abc"}, "'abc' is not a valid integer value"},
        TBadCase{"ThreadsOutOfRange", {"--threads", "2147483648"}, "is not a valid integer value"},
        TBadCase{"ThreadsNegative", {"--threads", "-1"}, "-1 is out of range (1 to 256)"},
        TBadCase{"ThreadsWithoutValue", {"--threads"}, "--threads needs a value"},
        TBadCase{"UnknownShowItem", {"--show", "domain,owner"}, "owner"},
        TBadCase{"ShowNothing", {"--show", ""}, "--show: empty item"},
        TBadCase{"ShowOnlyCommas", {"--show", ",,"}, "--show: empty item"},
        TBadCase{"ShowEmptyItem", {"--show", "domain,,regtime"}, "--show: empty item"},
        TBadCase{"ShowTrailingComma", {"--show", "domain,"}, "--show: empty item"},
        TBadCase{"UnknownFormat", {"--format", "xml"}, "--format: unknown format 'xml'"},
        TBadCase{"UncreatableUnknownOut",
                 {"--unknown-out", "/nonexistent/unknown.txt"},
                 "/nonexistent/unknown.txt"},
        TBadCase{"UnknownOption", {"--fast"}, "--fast"},
        TBadCase{
            "ConfirmNotOnOrOff", {"--confirm", "yes"}, "--confirm: 'yes' is neither on nor off"},
        TBadCase{"TwoFiles", {"a.txt", "b.txt"}, "one input file"},
        TBadCase{"MissingFile", {"/nonexistent/list.txt"}, "/nonexistent/list.txt"},
        TBadCase{"UncreatableOutput",
                 {"--results-out", "/nonexistent/out.txt"},
                 "/nonexistent/out.txt"}),
    [](const auto& info) { return info.param.Name; });

} // namespace
