#include "candidates/Unit_CreateDomains.h"
#include "tests/candidates/FakeDomainList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

// Placeholders as the pattern field holds them (GBK bytes).
const std::string Digit = "{\xCA\xFD\xD7\xD6}";       // {数字}
const std::string Pinyin = "{\xC6\xB4\xD2\xF4}";      // {拼音}
const std::string PinyinX = "{\xC6\xB4\xD2\xF4x";     // {拼音x (opening of the repeated ones)
const std::string TwoPinyin = "{\xC6\xB4\xD2\xF4x2}"; // {拼音x2}

struct TGenerated {
    TLines List;
    int Attempts = 0;
    std::string Error;
};

TGenerated Generate(const std::string& pattern, std::int32_t count, const TLines& before = {}) {
    TFakeDomainList list(before);
    TGenerated result;
    const TJobOutcome outcome =
        RunJob<TCreateDomains>(new TCreateDomains(pattern, list, count),
                               [&](TCreateDomains& job) { result.Attempts = job.Attempts(); });
    EXPECT_TRUE(outcome.Ended);
    EXPECT_EQ(list.ReadCount, 1);
    result.Error = outcome.Error;
    result.List = list.Lines;
    return result;
}

TEST(CreateDomainsTest, FieldsKeepTheirConstructionOrder) {
    TFakeDomainList list;
    const std::string pattern = "n" + Digit + Digit + Digit + ".com";
    auto* job = new TCreateDomains(pattern, list, 7);
    EXPECT_EQ(job->Pattern, pattern);
    EXPECT_EQ(&job->DomainList, &list);
    EXPECT_EQ(job->MaxCount, 7);
    EXPECT_EQ(TCreateDomains::MaxAttempts, 300001);
    RunJob(job);
}

TEST(CreateDomainsTest, PatternWithoutPlaceholdersAddsItsTextOnceAfterAllAttempts) {
    const TGenerated g = Generate("abc.com", 5);
    EXPECT_EQ(g.List, TLines{"abc.com"});
    EXPECT_EQ(g.Attempts, 300001);
}

TEST(CreateDomainsTest, PatternAlreadyInTheListAddsNothing) {
    const TGenerated g = Generate("abc.com", 1, {"abc.com"});
    EXPECT_EQ(g.List, TLines{"abc.com"});
    EXPECT_EQ(g.Attempts, 300001);
}

TEST(CreateDomainsTest, TenDigitNamesWhenAHundredAreAskedFor) {
    const TGenerated g = Generate(Digit + ".com", 100, {"x", "3.com"});
    ASSERT_EQ(g.List.size(), 11u);
    EXPECT_EQ(TLines(g.List.begin(), g.List.begin() + 2), (TLines{"x", "3.com"}));
    const std::set<std::string> added(g.List.begin() + 2, g.List.end());
    EXPECT_EQ(added, (std::set<std::string>{"0.com", "1.com", "2.com", "4.com", "5.com", "6.com",
                                            "7.com", "8.com", "9.com"}));
    EXPECT_EQ(g.Attempts, 300001);
}

class CountOfZeroOrLess : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(CountOfZeroOrLess, AddsTheFirstExpansion) {
    const TGenerated g = Generate("n" + Digit + Digit + Digit + ".com", GetParam(), {"a.com"});
    EXPECT_EQ(g.Attempts, 1);
    ASSERT_EQ(g.List.size(), 2u);
    EXPECT_EQ(g.List[0], "a.com");
}

TEST_P(CountOfZeroOrLess, AddsNothingWhenTheListHoldsTheFirstExpansion) {
    const TGenerated g = Generate("a.com", GetParam(), {"a.com"});
    EXPECT_EQ(g.Attempts, 1);
    EXPECT_EQ(g.List, TLines{"a.com"});
}

INSTANTIATE_TEST_SUITE_P(Counts, CountOfZeroOrLess, ::testing::Values(0, -1, -32768, INT32_MIN));

TEST(CreateDomainsTest, StopsAtTheCountWithDistinctNames) {
    const TGenerated g = Generate(TwoPinyin + Digit + Digit + ".com", 500);
    EXPECT_EQ(g.List.size(), 500u);
    EXPECT_EQ(std::set<std::string>(g.List.begin(), g.List.end()).size(), 500u);
    EXPECT_LT(g.Attempts, 300001);
}

TEST(CreateDomainsTest, DuplicatesAlreadyInTheListStay) {
    const TLines before{"dup.com", "dup.com", "not a name", "dup.com"};
    const TGenerated g = Generate("n" + Digit + Digit + Digit + ".com", 20, before);
    ASSERT_EQ(g.List.size(), 24u);
    EXPECT_EQ(TLines(g.List.begin(), g.List.begin() + 4), before);
}

TEST(CreateDomainsTest, NamesDifferingInCaseAreDifferentNames) {
    const TGenerated g = Generate("Yang" + Digit + ".com", 10, {"yang5.com"});
    ASSERT_EQ(g.List.size(), 11u);
    EXPECT_NE(std::find(g.List.begin() + 1, g.List.end(), "Yang5.com"), g.List.end());
}

TEST(CreateDomainsTest, EmptyExpansionsAreNeverAdded) {
    const TGenerated g = Generate("", 3);
    EXPECT_EQ(g.List, TLines{});
    EXPECT_EQ(g.Attempts, 300001);
}

TEST(CreateDomainsTest, NamesThatFailTheDomainRuleAreAddedAllTheSame) {
    const TGenerated g = Generate(Pinyin + ".com.cn", 3);
    ASSERT_EQ(g.List.size(), 3u);
    for (const std::string& name : g.List)
        EXPECT_TRUE(name.ends_with(".com.cn")) << name;
}

TEST(CreateDomainsTest, MisspeltPlaceholdersStayInTheNames) {
    const TGenerated g = Generate("{pinyin}" + Digit + ".com", 10);
    const std::set<std::string> names(g.List.begin(), g.List.end());
    EXPECT_EQ(names.size(), 10u);
    EXPECT_TRUE(names.count("{pinyin}0.com"));
    EXPECT_TRUE(names.count("{pinyin}9.com"));
}

// Capitals of a text made only of capitalised syllables: the syllable count.
int SyllablesOf(const std::string& text) {
    return static_cast<int>(
        std::count_if(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
}

// {拼音x{数字}}: the digit of the first pass completes a pinyin placeholder of
// a later pass when it is 2 or 3, and is left as text otherwise.
TEST(CreateDomainsTest, PlaceholdersFormedByAnEarlierPassAreExpandedLater) {
    const TGenerated g = Generate(PinyinX + Digit + "}.com", 1000);
    ASSERT_EQ(g.List.size(), 1000u);
    std::set<std::string> literal;
    int two = 0;
    int three = 0;
    for (const std::string& name : g.List) {
        ASSERT_TRUE(name.ends_with(".com")) << name;
        const std::string body = name.substr(0, name.size() - 4);
        if (body.starts_with(PinyinX)) {
            literal.insert(body);
            continue;
        }
        ASSERT_EQ(body.find('{'), std::string::npos) << name;
        const int syllables = SyllablesOf(body);
        ASSERT_TRUE(syllables == 2 || syllables == 3) << name;
        (syllables == 2 ? two : three)++;
    }
    std::set<std::string> expectedLiteral;
    for (const char digit : std::string("01456789"))
        expectedLiteral.insert(PinyinX + digit + "}");
    EXPECT_EQ(literal, expectedLiteral);
    EXPECT_GT(two, 0);
    EXPECT_GT(three, 0);
}

TEST(CreateDomainsTest, ExhaustedMemoryEndsTheJobReportingItWithTheListUnchanged) {
    TFakeDomainList list({"a.com"});
    list.OnAppend = [] { throw std::bad_alloc(); };
    const TJobOutcome outcome = RunJob(new TCreateDomains("b.com", list, 1));
    EXPECT_TRUE(outcome.Ended);
    EXPECT_EQ(outcome.Error, "out of memory");
    EXPECT_EQ(list.Lines, TLines{"a.com"});
}

} // namespace
