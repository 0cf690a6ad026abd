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
    EXPECT_EQ(err[0].rfind("checked 3 of 3 domains, 1 free, in ", 0), 0u) << err[0];
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
        TShowCase{"OrderOfListDoesNotMatter", "exptime,domain,regtime", RegisteredUtf8("a.com")},
        TShowCase{"Nothing", "", ""}),
    [](const auto& info) { return info.param.Name; });

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

TEST_F(CliCheckTest, ZeroThreadsQueriesNothing) {
    const TCliRun run = Check({"--threads", "0"}, "a.com\nb.com\n");
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(FServer->AcceptedCount(), 0);
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
        TBadCase{"ThreadsNegative", {"--threads", "-1"}, "Range check error"},
        TBadCase{"ThreadsWithoutValue", {"--threads"}, "--threads needs a value"},
        TBadCase{"UnknownShowItem", {"--show", "domain,owner"}, "owner"},
        TBadCase{"UnknownOption", {"--fast"}, "--fast"},
        TBadCase{"TwoFiles", {"a.txt", "b.txt"}, "one input file"},
        TBadCase{"MissingFile", {"/nonexistent/list.txt"}, "/nonexistent/list.txt"},
        TBadCase{"UncreatableOutput",
                 {"--results-out", "/nonexistent/out.txt"},
                 "/nonexistent/out.txt"}),
    [](const auto& info) { return info.param.Name; });

} // namespace
