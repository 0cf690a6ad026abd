#include "candidates/Unit_ImportDomains.h"
#include "tests/candidates/FakeDomainList.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

class ImportDomainsTest : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& bytes, const std::string& name = "list.txt") {
        const std::string path = FDir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Imports bytes into a list that starts with before; the list afterwards.
    TLines Import(const std::string& bytes, const TLines& before = {}) {
        TFakeDomainList list(before);
        const TJobOutcome outcome = RunJob(new TImportDomains(WriteFile(bytes), list));
        EXPECT_TRUE(outcome.Ended);
        EXPECT_EQ(outcome.Error, "");
        EXPECT_EQ(list.WriteCount, 1);
        return list.Lines;
    }

    QTemporaryDir FDir;
};

struct TImportCase {
    const char* Name;
    std::string File;
    TLines Before;
    TLines After;
};

class ImportRules : public ImportDomainsTest, public ::testing::WithParamInterface<TImportCase> {};

TEST_P(ImportRules, ListAfterImport) {
    EXPECT_EQ(Import(GetParam().File, GetParam().Before), GetParam().After);
}

const TImportCase ImportCases[] = {
    {"EmptyFile", "", {}, {}},
    {"OneNameWithoutLineBreak", "abc.com", {}, {"abc.com"}},
    {"LfLines", "abc.com\nxyz.net\n", {}, {"abc.com", "xyz.net"}},
    {"CrLfLines", "abc.com\r\nxyz.net\r\n", {}, {"abc.com", "xyz.net"}},
    {"LoneCrEndsALine", "a.com\rb.com\rc.com", {}, {"a.com", "b.com", "c.com"}},
    {"MixedLineEnds",
     "a.com\r\nb.com\n\rc.com\r\r\nd.com",
     {},
     {"a.com", "b.com", "c.com", "d.com"}},
    {"BlankLinesSkipped", "\n   \n\t\t\n\r\nabc.com\n \t \n", {}, {"abc.com"}},
    {"PaddingTrimmed", "  abc.com\t \n\txyz.net  \r\n", {}, {"abc.com", "xyz.net"}},
    {"ControlBytesTrimmed", std::string("\0\x01 abc.com\x1F\0\n", 14), {}, {"abc.com"}},
    {"InnerBlankIsInvalid", "abc .com\nab\tc.com\n", {}, {}},
    // A saved list of unknown names gives each name's reason after a tab.
    {"TabEndsTheName",
     "a.com\tthrottled\n  b.com \t cut\tmore\n\tc.com\n",
     {},
     {"a.com", "b.com", "c.com"}},
    {"InvalidNamesSkipped",
     "-ab.com\nab-.com\nab--c.com\nmy_shop.com\nabc.com.cn\n.com\nabc.\nabc\nabc.c0m\n"
     "abc.zzzz\n\xD6\xD0 \xCE\xC4.com\nok.com\n",
     {},
     {"ok.com"}},
    // Hyphens and internationalised names (中文.com, 例子.中国, in GBK) are
    // kept as they were given.
    {"HyphensAndChineseNamesKept",
     "my-shop.com\n\xD6\xD0\xCE\xC4.com\n\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA\nxn--fiqs8s.com\n",
     {},
     {"my-shop.com", "\xD6\xD0\xCE\xC4.com", "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA",
      "xn--fiqs8s.com"}},
    // The same names in UTF-8 come out in GBK.
    {"Utf8NamesInGbk",
     "\xE4\xB8\xAD\xE6\x96\x87.com\n\xE4\xBE\x8B\xE5\xAD\x90.\xE4\xB8\xAD\xE5\x9B\xBD\n",
     {},
     {"\xD6\xD0\xCE\xC4.com", "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA"}},
    // A name is met once by the name it is asked as, in its first spelling.
    {"OneNameInThreeCases", "ABC.com\nabc.com\nAbc.COM\n", {}, {"ABC.com"}},
    {"SpellingOfANameInTheList", "ABC.COM\nxyz.com\n", {"abc.com"}, {"abc.com", "xyz.com"}},
    // ｘｙｚ.com in wide letters is asked as xyz.com.
    {"WideFormsAreTheirName",
     "\xA3\xF8\xA3\xF9\xA3\xFA.com\nxyz.com\n",
     {},
     {"\xA3\xF8\xA3\xF9\xA3\xFA.com"}},
    // 中文.com is asked as xn--fiq228c.com.
    {"ALabelOfAName", "\xD6\xD0\xCE\xC4.com\nXN--FIQ228C.com\n", {}, {"\xD6\xD0\xCE\xC4.com"}},
    {"RepeatedNameOnce", "abc.com\nxyz.net\nabc.com\n abc.com \n", {}, {"abc.com", "xyz.net"}},
    {"NameAlreadyInListNotAgain", "abc.com\nnew.org\n", {"abc.com"}, {"abc.com", "new.org"}},
    {"EarlierEntriesStayInOrder",
     "b.com\nz.com\n",
     {"b.com", "b.com", "not a domain", "a.com"},
     {"b.com", "b.com", "not a domain", "a.com", "z.com"}},
    {"InvalidEntryOfListIsNoDuplicateOfAnything", "x.com\n", {"x.com "}, {"x.com ", "x.com"}},
    {"ByteOrderMarkSkipped",
     "\xEF\xBB\xBF"
     "abc.com\r\nxyz.net\r\n",
     {},
     {"abc.com", "xyz.net"}},
    {"ByteOrderMarkOnlyAtStart", "abc.com\n\xEF\xBB\xBFxyz.net\n", {}, {"abc.com"}},
    {"CtrlZEndsTheFile", "a.com\nb.com\x1A\nc.com\n", {}, {"a.com", "b.com"}},
    {"CtrlZInsideALine", "a.com\nbb.cn\x1Aom\nc.com\n", {}, {"a.com", "bb.cn"}},
    {"CtrlZFirst",
     "\x1A"
     "a.com\n",
     {},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Files, ImportRules, ::testing::ValuesIn(ImportCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Lines straddle the reader's blocks; none may be cut or lost.
TEST_F(ImportDomainsTest, ManyLinesAcrossBlocksKeepFileOrder) {
    std::string file;
    TLines expected;
    for (int i = 0; i < 200000; ++i) {
        expected.push_back("name" + std::to_string(i) + ".com");
        file += expected.back() + (i % 3 == 0 ? "\r\n" : "\n");
        if (i % 10 == 0)
            file += "name" + std::to_string(i / 2) + ".com\n"; // a repeat
    }
    EXPECT_EQ(Import(file), expected);
}

TEST_F(ImportDomainsTest, LineLongerThanABlock) {
    // No piece of the long line may pass for a name of its own.
    const std::string longName = std::string(3 << 20, 'a') + ".com";
    EXPECT_EQ(Import("x.com\n" + longName + "\ny.com"), (TLines{"x.com", "y.com"}));
}

TEST_F(ImportDomainsTest, LongRunOfBlanksBeforeAName) {
    EXPECT_EQ(Import(std::string(5 << 20, ' ') + "abc.com\n"), TLines{"abc.com"});
}

TEST_F(ImportDomainsTest, ListIsReadOnceAndWrittenOnce) {
    TFakeDomainList list({"a.com"});
    RunJob(new TImportDomains(WriteFile("b.com\nc.com\n"), list));
    EXPECT_EQ(list.ReadCount, 1);
    EXPECT_EQ(list.WriteCount, 1);
}

TEST_F(ImportDomainsTest, AddedCountIsTheNumberOfNewNames) {
    TFakeDomainList list({"a.com"});
    std::size_t added = 99;
    RunJob<TImportDomains>(new TImportDomains(WriteFile("a.com\nb.com\nbad\nb.com\nc.com\n"), list),
                           [&](TImportDomains& job) { added = job.AddedCount(); });
    EXPECT_EQ(added, 2u);
}

struct TRejectCase {
    const char* Name;
    std::size_t Keep;
    std::size_t Count;
    TLines Kept;
};

class ImportRejectedTest : public ImportDomainsTest,
                           public ::testing::WithParamInterface<TRejectCase> {};

// Invalid lines are counted and the first few kept, trimmed; blank lines and
// repeats of valid names are no rejection.
TEST_P(ImportRejectedTest, CountsInvalidLinesAndKeepsTheFirst) {
    TFakeDomainList list;
    std::size_t count = 99;
    TLines kept, reasons;
    RunJob<TImportDomains>(
        new TImportDomains(WriteFile("a.com\n  my_name.com \n\n\t\na.com\nx\nb.com\n"
                                     "-ab.com\nabc.com.cn"),
                           list, GetParam().Keep),
        [&](TImportDomains& job) {
            count = job.RejectedCount();
            kept = job.RejectedLines();
            reasons = job.RejectedReasons();
        });
    EXPECT_EQ(list.Lines, (TLines{"a.com", "b.com"}));
    EXPECT_EQ(count, GetParam().Count);
    EXPECT_EQ(kept, GetParam().Kept);
    // Each kept line has the name rule's reason beside it.
    ASSERT_EQ(reasons.size(), kept.size());
    for (const std::string& reason : reasons)
        EXPECT_FALSE(reason.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportRejectedTest,
    ::testing::Values(
        TRejectCase{"KeepNone", 0, 4, {}}, TRejectCase{"KeepTwo", 2, 4, {"my_name.com", "x"}},
        TRejectCase{"KeepMoreThanThere", 10, 4, {"my_name.com", "x", "-ab.com", "abc.com.cn"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ImportDomainsTest, MissingFileLeavesListUnchangedAndSaysSo) {
    TFakeDomainList list({"a.com", "b.com"});
    const std::string path = FDir.filePath("gone.txt").toStdString();
    const TJobOutcome outcome = RunJob(new TImportDomains(path, list));
    EXPECT_TRUE(outcome.Ended);
    EXPECT_EQ(outcome.Error, "Cannot open file \"" + path + "\". No such file or directory");
    EXPECT_EQ(list.Lines, (TLines{"a.com", "b.com"}));
    EXPECT_EQ(list.WriteCount, 0);
}

TEST_F(ImportDomainsTest, UnreadableFileLeavesListUnchangedAndSaysSo) {
    TFakeDomainList list({"a.com"});
    // A folder opens but cannot be read as a file.
    const TJobOutcome outcome = RunJob(new TImportDomains(FDir.path().toStdString(), list));
    EXPECT_TRUE(outcome.Ended);
    EXPECT_TRUE(outcome.Error.starts_with("Cannot read file")) << outcome.Error;
    EXPECT_EQ(list.Lines, TLines{"a.com"});
    EXPECT_EQ(list.WriteCount, 0);
}

TEST_F(ImportDomainsTest, ExhaustedMemoryWhileReadingTheListEndsTheJobReportingIt) {
    TFakeDomainList list({"a.com"});
    list.OnItems = [] { throw std::bad_alloc(); };
    const TJobOutcome outcome = RunJob(new TImportDomains(WriteFile("b.com\n"), list));
    EXPECT_TRUE(outcome.Ended);
    EXPECT_EQ(outcome.Error, "out of memory");
    EXPECT_EQ(list.Lines, TLines{"a.com"});
    EXPECT_EQ(list.WriteCount, 0);
}

TEST_F(ImportDomainsTest, ExhaustedMemoryWhileWritingBackEndsTheJobReportingIt) {
    TFakeDomainList list({"a.com"});
    list.OnAppend = [] { throw std::bad_alloc(); };
    const TJobOutcome outcome = RunJob(new TImportDomains(WriteFile("b.com\n"), list));
    EXPECT_EQ(outcome.Error, "out of memory");
    EXPECT_EQ(list.Lines, TLines{"a.com"});
}

} // namespace
