#include "tests/support/CliRunner.h"
#include "tests/support/TestPaths.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <re2/re2.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

// Byte-wise whole-text match, so GBK bytes in the pattern are plain bytes.
bool MatchesWhole(const std::string& text, const std::string& pattern) {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    const RE2 re(pattern, options);
    return re.ok() && RE2::FullMatch(text, re);
}

using TLines = std::vector<std::string>;

class CliCandidatesTest : public ::testing::Test {
protected:
    QString PathOf(const char* name) const { return FDir.filePath(name); }
    QString WriteFile(const char* name, const std::string& bytes) const {
        std::ofstream(PathOf(name).toStdString(), std::ios::binary) << bytes;
        return PathOf(name);
    }
    std::string ReadFile(const char* name) const {
        return testpaths::ReadFileBytes(PathOf(name).toStdString());
    }

    QTemporaryDir FDir;
};

TEST_F(CliCandidatesTest, GeneratePrintsTwentyDistinctNames) {
    const TCliRun run = RunCli({"generate", "{拼音}{数字}.com", "--count", "20"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const TLines names = LinesOf(run.Out);
    EXPECT_EQ(names.size(), 20u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 20u);
    for (const std::string& name : names)
        EXPECT_TRUE(MatchesWhole(name, "[A-Z][a-z]*[0-9]\\.com")) << name;
}

TEST_F(CliCandidatesTest, GenerateMakesAHundredNamesByDefault) {
    const TCliRun run = RunCli({"generate", "n{数字}{数字}{数字}.com"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out).size(), 100u);
}

TEST_F(CliCandidatesTest, GenerateWithCountZeroMakesOneName) {
    const TCliRun run = RunCli({"generate", "n{数字}{数字}{数字}.com", "--count", "0"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out).size(), 1u);
}

TEST_F(CliCandidatesTest, GenerateTakesAndPrintsUtf8) {
    const TCliRun run = RunCli({"generate", "中{数字}.com", "--count", "100"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const TLines names = LinesOf(run.Out);
    std::set<std::string> expected;
    for (char digit = '0'; digit <= '9'; ++digit)
        expected.insert(std::string("中") + digit + ".com");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
    EXPECT_EQ(names.size(), 10u);
}

TEST_F(CliCandidatesTest, GenerateSavesGbkWithCrLf) {
    const TCliRun run =
        RunCli({"generate", "中{数字}{数字}.com", "--count", "7", "--to", PathOf("out.txt")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    const std::string saved = ReadFile("out.txt");
    EXPECT_TRUE(MatchesWhole(saved, "(\xD6\xD0[0-9][0-9]\\.com\r\n){7}")) << saved;
}

TEST_F(CliCandidatesTest, GenerateWithGbkTakesThePatternAsBytes) {
    // The UTF-8 spelling of {数字} is no GBK placeholder, so it stays.
    const TCliRun run = RunCli({"generate", "a{数字}.com", "--gbk", "--count", "1"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "a{数字}.com\n");
}

TEST_F(CliCandidatesTest, ImportPrintsTheValidNamesOnceInFileOrder) {
    const QString file =
        WriteFile("list.txt", "\xEF\xBB\xBF"
                              "b.com\r\n  a.com\t\nbad_name.com\n\nB.com\ra.com\nx.com\x1Ay.com\n");
    const TCliRun run = RunCli({"import", file});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    // B.com is b.com written another way: the first spelling stays.
    EXPECT_EQ(run.Out, "b.com\na.com\nx.com\n");
}

TEST_F(CliCandidatesTest, ImportReadsStandardInput) {
    const TCliRun run = RunCli({"import", "-"}, {.Stdin = "q.com\nq.com\nr.net\n"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "q.com\nr.net\n");
}

TEST_F(CliCandidatesTest, ImportSavesWithCrLf) {
    const QString file = WriteFile("list.txt", "b.com\na.com");
    const TCliRun run = RunCli({"import", file, "--to", PathOf("out.txt")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ReadFile("out.txt"), "b.com\r\na.com\r\n");
}

TEST_F(CliCandidatesTest, ImportOfAMissingFileSaysSo) {
    const TCliRun run = RunCli({"import", PathOf("gone.txt")});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find("Cannot open file"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
}

struct TBadArguments {
    const char* Name;
    QStringList Args;
    const char* Message;
};

class CliBadArguments : public ::testing::TestWithParam<TBadArguments> {};

TEST_P(CliBadArguments, ExitTwoWithAMessage) {
    const TCliRun run = RunCli(GetParam().Args);
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
}

const TBadArguments BadArgumentCases[] = {
    {"GenerateWithoutPattern", {"generate"}, "a pattern is needed"},
    {"GenerateEmptyPattern", {"generate", ""}, "the pattern is empty"},
    {"GenerateTwoPatterns", {"generate", "a", "b"}, "only one pattern"},
    {"GenerateCountNotANumber",
     {"generate", "a.com", "--count", "ten"},
     "'ten' is not a valid integer value"},
    {"GenerateCountTooLarge",
     {"generate", "a.com", "--count", "2147483648"},
     "'2147483648' is not a valid integer value"},
    {"GenerateCountWithoutValue", {"generate", "a.com", "--count"}, "--count needs a value"},
    {"GenerateUnknownOption", {"generate", "--many", "a.com"}, "unknown option '--many'"},
    {"GenerateUnwritableOutput",
     {"generate", "a.com", "--to", "/nonexistent-folder/out.txt"},
     "Cannot create file \"/nonexistent-folder/out.txt\"."},
    {"ImportWithoutFile", {"import"}, "a file to import is needed"},
    {"ImportTwoFiles", {"import", "a.txt", "b.txt"}, "only one file"},
    {"ImportToWithoutValue", {"import", "a.txt", "--to"}, "--to needs a value"},
    {"ImportUnknownOption", {"import", "a.txt", "--gbk"}, "unknown option '--gbk'"},
    {"ImportUnreadableFile", {"import", "/"}, "Cannot read file \"/\"."},
};

INSTANTIATE_TEST_SUITE_P(Commands, CliBadArguments, ::testing::ValuesIn(BadArgumentCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
