#include "engine/Unit_Functions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values)
        text += static_cast<char>(v);
    return text;
}

// --- IsUtf8Text ---------------------------------------------------------------------

struct TUtf8Case {
    const char* Name;
    std::string Text;
    bool Utf8;
};

class IsUtf8TextTest : public ::testing::TestWithParam<TUtf8Case> {};

TEST_P(IsUtf8TextTest, NeedsWellFormedSequencesAndOneHighByte) {
    EXPECT_EQ(IsUtf8Text(GetParam().Text), GetParam().Utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsUtf8TextTest,
    ::testing::Values(
        TUtf8Case{"Empty", "", false},
        TUtf8Case{"PureAscii", "Domain Name: example.com\r\n", false},
        TUtf8Case{"LoneContinuation128", Bytes({128}), false},
        TUtf8Case{"LoneContinuation191", Bytes({191}), false},
        TUtf8Case{"ContinuationAfterAscii", "ab" + Bytes({0x9F}), false},
        TUtf8Case{"LeadByteAtEnd", "abc" + Bytes({0xC3}), false},
        TUtf8Case{"ThreeByteCutShort", Bytes({0xE4, 0xB8}), false},
        TUtf8Case{"TwoByteSequence", Bytes({195, 169}), true},
        TUtf8Case{"TwoByteAmidAscii", "caf" + Bytes({195, 169}) + " ok", true},
        // 中文
        TUtf8Case{"ChineseUtf8", "\xE4\xB8\xAD\xE6\x96\x87", true},
        TUtf8Case{"FourByteSequence", Bytes({0xF0, 0x9F, 0x98, 0x80}), true},
        // 中文 in GBK: D6 is a two-byte lead, D0 is not a continuation byte.
        TUtf8Case{"GbkText", "\xD6\xD0\xCE\xC4", false},
        // 谩 in GBK is C3 A9, which is also the UTF-8 of é.
        TUtf8Case{"GbkThatLooksLikeUtf8", Bytes({0xC3, 0xA9}), true},
        TUtf8Case{"LeadFollowedByAscii", Bytes({0xC3, 'a'}), false},
        // No other rule: over-long forms, C0/C1, surrogates and long leads pass.
        TUtf8Case{"OverLongC0", Bytes({0xC0, 0x80}), true},
        TUtf8Case{"LeadC1", Bytes({0xC1, 0xBF}), true},
        TUtf8Case{"EncodedSurrogate", Bytes({0xED, 0xA0, 0x80}), true},
        TUtf8Case{"LeadF8WithFour", Bytes({0xF8, 0x80, 0x80, 0x80, 0x80}), true},
        TUtf8Case{"LeadFFWithSeven", Bytes({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}), true},
        TUtf8Case{"LeadFFWithSix", Bytes({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}), false},
        // Only the bytes before the first zero byte count.
        TUtf8Case{"ZeroThenUtf8", std::string("ab\0", 3) + Bytes({195, 169}), false},
        TUtf8Case{"Utf8ThenZeroThenJunk", Bytes({195, 169, 0, 0xFF}), true},
        TUtf8Case{"LeadThenZero", Bytes({0xC3, 0, 0xA9}), false}),
    [](const ::testing::TestParamInfo<TUtf8Case>& info) { return info.param.Name; });

// --- IsDomainAvailable ------------------------------------------------------------------

struct TVerdictCase {
    const char* Name;
    std::string Reply;
    bool Free;
};

class IsDomainAvailableTest : public ::testing::TestWithParam<TVerdictCase> {};

TEST_P(IsDomainAvailableTest, ReadsTheMarkers) {
    EXPECT_EQ(IsDomainAvailable(GetParam().Reply), GetParam().Free) << GetParam().Reply;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, IsDomainAvailableTest,
    ::testing::Values(
        TVerdictCase{"Empty", "", false},
        TVerdictCase{"NoMarker", "Domain Name: example.com\r\nRegistrar: Someone\r\n", false},
        TVerdictCase{"NoMatchFor", "No match for \"EXAMPLE.COM\".\r\n", true},
        TVerdictCase{"NoMatchForInCapitals", "NO MATCH FOR \"EXAMPLE.COM\".\r\n", true},
        TVerdictCase{"NotRegistered", "This domain is not registered.\n", true},
        TVerdictCase{"NotFound", "Domain not found.\n", true},
        TVerdictCase{"Nomatch", "%% NOMATCH\n", true}, TVerdictCase{"NoFound", "no found\n", true},
        TVerdictCase{"NothingFound", "Nothing found for this query.\n", true},
        TVerdictCase{"NoEntriesFound", "No entries found for the selected source(s).\n", true},
        TVerdictCase{"DoNotHaveAnEntry", "We do not have an entry in our database\n", true},
        TVerdictCase{"InsideALongerWord", "no matching record\n", true},
        TVerdictCase{"NotFoundInDisclaimerWithNameServer",
                     "Name Server: ns1.example.com\r\nIf a record is not found, ask again.\r\n",
                     false},
        TVerdictCase{"NameServerInCapitals", "No match\nNAME SERVER: NS1.EXAMPLE.COM\n", false},
        TVerdictCase{"PluralNameServersWithNoEntries",
                     "Name Servers:\n  ns1.example.com\nNo entries found.\n", true},
        TVerdictCase{"NameServerWithoutColon", "No match\nName Server ns1.example.com\n", true},
        TVerdictCase{"NameServerBlankBeforeColon", "No match\nName Server : ns1\n", true},
        TVerdictCase{"MarkerAmidGbk", "\xD3\xF2\xC3\xFB no match \xB2\xE9\xD1\xAF\n", true}),
    [](const ::testing::TestParamInfo<TVerdictCase>& info) { return info.param.Name; });

INSTANTIATE_TEST_SUITE_P(
    StatusLines, IsDomainAvailableTest,
    ::testing::Values(TVerdictCase{"StatusFree", "Status: FREE\n", true},
                      TVerdictCase{"StatusFreeManyBlanks", "Status:      free\n", true},
                      TVerdictCase{"StatusFreeBlankBeforeColon", "Status : free\n", true},
                      TVerdictCase{"StatusFreeWithTab", "Status:\tfree\n", false},
                      TVerdictCase{"StatusFreeBlanksAndTab", "Status:  \t  free\n", false},
                      TVerdictCase{"StatusAvailable", "Status: AVAILABLE\n", true},
                      TVerdictCase{"StatusAvailableWithTab", "Status:\tAVAILABLE\n", true},
                      TVerdictCase{"StatusAvailableTabsAndBlanks", "Status: \t \t available\n",
                                   true},
                      TVerdictCase{"StatusAvailableTabBeforeColon", "Status\t:\tavailable\n", true},
                      TVerdictCase{"StatusAvailableLineBreak", "Status:\navailable\n", false},
                      TVerdictCase{"StatusAvailableWithNameServer",
                                   "Status: available\nName Server: ns1.example.com\n", false},
                      TVerdictCase{"StatusActive", "Status: active\n", false}),
    [](const ::testing::TestParamInfo<TVerdictCase>& info) { return info.param.Name; });

// The phrases of registries that the first markers missed.
INSTANTIATE_TEST_SUITE_P(
    LaterMarkers, IsDomainAvailableTest,
    ::testing::Values(
        TVerdictCase{"NoDataFound", "No Data Found\n", true},
        TVerdictCase{"NoObjectFound", "%ERROR:101: No Object Found\n", true},
        TVerdictCase{"ObjectNotFound", "ERROR: OBJECT_NOT_FOUND\n", true},
        TVerdictCase{"NoSuchDomain", "No such domain example.lk\n", true},
        TVerdictCase{"NoExiste", "La consulta no existe\n", true},
        TVerdictCase{"NotAvailableInWhoisDatabase",
                     "This domain is Not available in our whois database\n", true},
        TVerdictCase{"NoDataFoundWithNameServer", "No Data Found\nName Server: ns1.example\n",
                     false},
        TVerdictCase{"NoObjectFoundWithNameServer", "no object found\nname server: ns1\n", false},
        TVerdictCase{"ObjectNotFoundWithNameServer", "object_not_found\nName Server: ns1\n", false},
        TVerdictCase{"NoSuchDomainWithNameServer", "no such domain\nName Server: ns1\n", false},
        TVerdictCase{"NoExisteWithNameServer", "no existe\nName Server: ns1\n", false},
        TVerdictCase{"NotAvailableWithNameServer",
                     "not available in our whois database\nName Server: ns1\n", false},
        TVerdictCase{"NoDataBlankMissing", "nodata found\n", false},
        TVerdictCase{"ObjectNotFoundWithBlanks", "object not found\n", true}),
    [](const ::testing::TestParamInfo<TVerdictCase>& info) { return info.param.Name; });

// --- ExtractWhoisField --------------------------------------------------------------------

struct TFieldCase {
    const char* Name;
    std::string Reply;
    std::string Start;
    std::string End;
    std::string Expected;
};

class ExtractWhoisFieldTest : public ::testing::TestWithParam<TFieldCase> {};

TEST_P(ExtractWhoisFieldTest, CutsBetweenTheMarkers) {
    const TFieldCase& c = GetParam();
    EXPECT_EQ(ExtractWhoisField(c.Reply, c.Start, c.End), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractWhoisFieldTest,
    ::testing::Values(
        TFieldCase{"DayMonthYear", "Creation Date: 15-Jan-2005\r\nExpiry: x\r\n", "creation date",
                   "\n", ": 15-01-2005"},
        TFieldCase{"AllDigitsUnchanged", "Creation Date: 2005-01-15\r\n", "creation date", "\n",
                   ": 2005-01-15"},
        TFieldCase{"NoStartMarker", "Registrar: x\r\n", "creation date", "\n", ""},
        TFieldCase{"EmptyReply", "", "creation date", "\n", ""},
        TFieldCase{"NoEndMarkerRunsToTheEnd", "Creation Date: 2005-01-15  \t", "creation date",
                   "\n", ": 2005-01-15"},
        TFieldCase{"FirstStartMarkerCounts", "creation date: 2001\ncreation date: 2002\n",
                   "creation date", "\n", ": 2001"},
        TFieldCase{"CapitalMarkerNeverMatches", "Creation Date: 2005\n", "Creation Date", "\n", ""},
        TFieldCase{"ValueLowerCased", "Whois Server: WHOIS.EXAMPLE.NET\r\n", "whois server:", "\n",
                   "whois.example.net"},
        TFieldCase{"FullMonthName", "expiration date: 01-December-2030\n", "expiration date", "\n",
                   ": 01-12ember-2030"},
        TFieldCase{"EveryMonth", "d: jan feb mar apr may jun jul aug sep oct nov dec\n", "d:", "\n",
                   "01 02 03 04 05 06 07 08 09 10 11 12"},
        TFieldCase{"MonthInsideAWord", "d: marine\n", "d:", "\n", "03ine"},
        TFieldCase{"EmptyEndMarkerRunsToTheEnd", "d: 2001\nrest\n", "d:", "", "2001\nrest"},
        TFieldCase{"EmptyStartMarker", "d: 2001\n", "", "\n", ""},
        TFieldCase{"EndMarkerRightAfterStart", "d:\nx", "d:", "\n", ""},
        TFieldCase{"GbkBytesKept", "d: \xC8\xD5\xC6\xDA jan\n", "d:", "\n", "\xC8\xD5\xC6\xDA 01"},
        TFieldCase{"TrimsControlBytes", std::string("d:\x01\x1F 2001 \x7F\x00", 12), "d:", "\n",
                   std::string("2001 \x7F", 6)}),
    [](const ::testing::TestParamInfo<TFieldCase>& info) { return info.param.Name; });

// --- ReplaceAllText, TextBefore, TextAfter ----------------------------------------------

struct TReplaceCase {
    const char* Name;
    std::string Text;
    std::string Old;
    std::string New;
    std::string Expected;
};

class ReplaceAllTextTest : public ::testing::TestWithParam<TReplaceCase> {};

TEST_P(ReplaceAllTextTest, ReplacesLeftToRightWithoutOverlap) {
    const TReplaceCase& c = GetParam();
    EXPECT_EQ(ReplaceAllText(c.Text, c.Old, c.New), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllTextTest,
    ::testing::Values(TReplaceCase{"TwoAByOneBInThree", "aaa", "aa", "b", "ba"},
                      TReplaceCase{"Every", "a-b-c", "-", "+", "a+b+c"},
                      TReplaceCase{"Absent", "abc", "x", "y", "abc"},
                      TReplaceCase{"EmptyOld", "abc", "", "y", "abc"},
                      TReplaceCase{"EmptyText", "", "a", "b", ""},
                      TReplaceCase{"ToEmpty", "a b c", " ", "", "abc"},
                      TReplaceCase{"ReplacementNotSearchedAgain", "ab", "a", "aa", "aab"},
                      TReplaceCase{"ReplacementFormsOld", "aab", "ab", "b", "ab"},
                      TReplaceCase{"WholeText", "abc", "abc", "", ""},
                      TReplaceCase{"AtBothEnds", "xax", "x", "yy", "yyayy"},
                      TReplaceCase{"ZeroBytes", std::string("a\0b\0", 4), std::string("\0", 1), "-",
                                   "a-b-"}),
    [](const ::testing::TestParamInfo<TReplaceCase>& info) { return info.param.Name; });

TEST(TextBeforeAndAfter, CutAtTheFirstOccurrence) {
    struct TCase {
        std::string Marker;
        std::string Text;
        std::string Before;
        std::string After;
    };
    const TCase cases[] = {
        {":", "a:b:c", "a", "b:c"}, {"x", "abc", "abc", ""}, {"", "abc", "abc", ""},
        {"a", "abc", "", "bc"},     {"c", "abc", "ab", ""},  {"abc", "abc", "", ""},
        {"abcd", "abc", "abc", ""}, {":", "", "", ""},       {"\r\n", "a\r\nb", "a", "b"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TextBefore(c.Marker, c.Text), c.Before) << c.Marker << " in " << c.Text;
        EXPECT_EQ(TextAfter(c.Marker, c.Text), c.After) << c.Marker << " in " << c.Text;
    }
}

TEST(TextBeforeAndAfter, FindTheMarkerDeepInALongText) {
    const std::string text = std::string(3'000'000, 'x') + "MARK" + std::string(10, 'y');
    EXPECT_EQ(TextBefore("MARK", text).size(), 3'000'000u);
    EXPECT_EQ(TextAfter("MARK", text), std::string(10, 'y'));
}

// --- FirstRegexMatch ------------------------------------------------------------------------

const std::string EmailPattern = "[\\w\\d\\-\\.]+@[\\w\\d\\-]+(\\.[\\w\\d\\-]+)+";

struct TRegexCase {
    const char* Name;
    std::string Text;
    std::string Pattern;
    std::string Expected;
};

class FirstRegexMatchTest : public ::testing::TestWithParam<TRegexCase> {};

TEST_P(FirstRegexMatchTest, TakesTheWholeFirstMatchTrimmed) {
    const TRegexCase& c = GetParam();
    EXPECT_EQ(FirstRegexMatch(c.Text, c.Pattern), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstRegexMatchTest,
    ::testing::Values(
        TRegexCase{"FirstAddress",
                   "Registrant Email: Owner.Name@Example-Mail.co.uk\r\nAdmin: b@c.de\r\n",
                   EmailPattern, "Owner.Name@Example-Mail.co.uk"},
        TRegexCase{"NoAtSign", "Registrant: nobody\r\n", EmailPattern, ""},
        TRegexCase{"AtWithoutDot", "x@localhost\n", EmailPattern, ""},
        TRegexCase{"EmptyText", "", EmailPattern, ""},
        TRegexCase{"GbkBeforeAddress", "\xD3\xCA\xCF\xE4:abc@example.cn\n", EmailPattern,
                   "abc@example.cn"},
        // The word class is ASCII: a GBK or Latin-1 letter byte ends the address.
        TRegexCase{"GbkInsideAddress",
                   "ab\xD3\xCA"
                   "cd@example.cn",
                   EmailPattern, "cd@example.cn"},
        TRegexCase{"Latin1LetterNotAWordByte", "caf\xE9@x.com a@b.cn", EmailPattern, "a@b.cn"},
        TRegexCase{"UnderscoreIsAWordByte", "first_last@x.com", EmailPattern, "first_last@x.com"},
        TRegexCase{"StopsAtZeroByte", std::string("no address\0a@b.cn", 17), EmailPattern, ""},
        TRegexCase{"BeforeZeroByte", std::string("a@b.cn\0c@d.cn", 13), EmailPattern, "a@b.cn"},
        TRegexCase{"TrimmedResult", "x  value\t\r\n", "  value\\s+", "value"},
        TRegexCase{"GroupIgnored", "key=value;", "key=(\\w+)", "key=value"},
        TRegexCase{"CaseSensitive", "ABC", "abc", ""},
        TRegexCase{"Leftmost", "ab1 ab22", "ab\\d+", "ab1"},
        TRegexCase{"GreedyQuantifier", "aaaa", "a+", "aaaa"},
        TRegexCase{"CaretIsTextStartOnly", "x\nabc", "^abc", ""},
        TRegexCase{"CaretAtStart", "abc\nx", "^abc", "abc"},
        TRegexCase{"DollarIsTextEndOnly", "abc\nx", "abc$", ""},
        TRegexCase{"DollarNotBeforeTrailingLineFeed", "abc\n", "abc$", ""},
        TRegexCase{"DollarAtEnd", "x abc", "abc$", "abc"},
        TRegexCase{"EscapedPunctuationInClass", "a-b.c", "[\\-\\.]+", "-"},
        TRegexCase{"HighByteLiteral", "x\xB2\xE9y", "\xB2\xE9", "\xB2\xE9"},
        TRegexCase{"HighByteRange", "ab\xB0\xC1\xC8\xA1", "[\\x{B0}-\\x{C8}]+", "\xB0\xC1\xC8"},
        TRegexCase{"DotMatchesHighBytes", "<\xD6\xD0>", "<..>", "<\xD6\xD0>"},
        // Patterns the engine cannot compile find nothing.
        TRegexCase{"BackReference", "aa", "(a)\\1", ""},
        TRegexCase{"UnbalancedBracket", "a[b", "[", ""},
        TRegexCase{"UnbalancedGroup", "a(b", "(b", ""},
        TRegexCase{"EmptyPatternMatchesEmpty", "abc", "", ""},
        TRegexCase{"WhitespaceOnlyMatch", "a  b", " +", ""}),
    [](const ::testing::TestParamInfo<TRegexCase>& info) { return info.param.Name; });

// A backtracking matcher takes quadratic (or worse) time on these; RE2 stays
// linear, so several MiB come back at once. The bound of the test is the suite
// time-out, never a clock.
TEST(FirstRegexMatchSize, DottedRunWithoutAtSign) {
    std::string reply;
    reply.reserve(4u << 20);
    while (reply.size() < (4u << 20))
        reply += "a.a.a.a.";
    EXPECT_EQ(FirstRegexMatch(reply, EmailPattern), "");
}

TEST(FirstRegexMatchSize, LongRunBeforeAnAtWithoutDomain) {
    // Every start position of the run reaches the '@' and then fails on the
    // missing dotted part: quadratic for a backtracking matcher.
    const std::string reply = std::string(4u << 20, 'a') + "@b";
    EXPECT_EQ(FirstRegexMatch(reply, EmailPattern), "");
}

TEST(FirstRegexMatchSize, ManyAtSignsThenAnAddress) {
    std::string reply;
    while (reply.size() < (2u << 20))
        reply += "a-b@c-d ";
    reply += "owner@example.com";
    EXPECT_EQ(FirstRegexMatch(reply, EmailPattern), "owner@example.com");
}

TEST(FirstRegexMatchSize, NestedQuantifierPattern) {
    const std::string text = std::string(1u << 20, 'a') + "b";
    EXPECT_EQ(FirstRegexMatch(text, "^(a+)+$"), "");
    EXPECT_EQ(FirstRegexMatch(text, "(a|aa)+c"), "");
}

TEST(FirstRegexMatchSize, LongMatchComesBackWhole) {
    const std::string local(1u << 20, 'x');
    EXPECT_EQ(FirstRegexMatch(" " + local + "@a.b ", EmailPattern), local + "@a.b");
}

} // namespace
