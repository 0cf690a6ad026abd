#include "engine/Unit_Functions.h"
#include "engine/Unit_FunctionsTesting.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

// --- IsValidDomain --------------------------------------------------------------

struct TDomainCase {
    const char* Name;
    std::string Domain;
    bool Valid;
};

class IsValidDomainTest : public ::testing::TestWithParam<TDomainCase> {};

TEST_P(IsValidDomainTest, AcceptsExactlyOneLabelDotSuffix) {
    EXPECT_EQ(IsValidDomain(GetParam().Domain), GetParam().Valid) << GetParam().Domain;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsValidDomainTest,
    ::testing::Values(
        TDomainCase{"LowerCase", "example.com", true}, TDomainCase{"Capitals", "EXAMPLE.COM", true},
        TDomainCase{"MixedCase", "ExAmple.Com", true}, TDomainCase{"DigitLabel", "123456.cn", true},
        TDomainCase{"OneLetterEach", "a.b", true},
        TDomainCase{"LetterAndDigitLabel", "cq2024.net", true},
        TDomainCase{"LongLabel", std::string(5000, 'a') + ".com", true},
        TDomainCase{"Hyphen", "my-name.com", false},
        TDomainCase{"WwwLabel", "www.example.com", false},
        TDomainCase{"TwoLevelSuffix", "example.com.cn", false},
        TDomainCase{"DigitInSuffix", "example.c0m", false},
        TDomainCase{"EmptyLabel", ".com", false}, TDomainCase{"EmptySuffix", "example.", false},
        TDomainCase{"NoDot", "example", false}, TDomainCase{"BlankBefore", " example.com", false},
        TDomainCase{"BlankAfter", "example.com ", false},
        TDomainCase{"TrailingLineFeed", "example.com\n", false},
        TDomainCase{"TrailingCrLf", "example.com\r\n", false},
        TDomainCase{"LeadingLineFeed", "\nexample.com", false},
        TDomainCase{"LineBreakInside", "exa\nmple.com", false},
        // 中文 in GBK
        TDomainCase{"ChineseLabel", "\xD6\xD0\xCE\xC4.com", false},
        TDomainCase{"Latin1LetterLabel", "caf\xE9.com", false},
        TDomainCase{"ZeroByteInside", std::string("exa\0mple.com", 12), false},
        TDomainCase{"ZeroByteAtEnd", std::string("example.com\0", 12), false},
        TDomainCase{"Underscore", "my_name.com", false},
        TDomainCase{"TrailingDot", "example.com.", false}, TDomainCase{"Empty", "", false}),
    [](const ::testing::TestParamInfo<TDomainCase>& info) { return info.param.Name; });

// --- GetWhoisServer ---------------------------------------------------------------

// Unsets TAVIREL_WHOIS_SERVER for the test's life and puts back what was there.
class TWhoisServerVariableGuard : public TScopedEnv {
public:
    TWhoisServerVariableGuard() : TScopedEnv("TAVIREL_WHOIS_SERVER") {}
};

struct TServerRow {
    const char* Suffix;
    const char* Server;
};

// The registries' servers, in lookup order.
const std::vector<TServerRow> ExpectedServerTable = {
    {".la", "whois.nic.la"},
    {".vc", "whois.identitydigital.services"},
    {".sc", "whois.nic.sc"},
    {".org", "whois.publicinterestregistry.org"},
    {".cn", "whois.cnnic.cn"},
    {".kr", "whois.kr"},
    {".edu", "whois.educause.edu"},
    {".info", "whois.nic.info"},
    {".bz", "whois.identitydigital.services"},
    {".jp", "whois.jprs.jp"},
    {".sg", "whois.sgnic.sg"},
    {".tw", "whois.twnic.net.tw"},
    {".biz", "whois.nic.biz"},
    {".tc", "whois.nic.tc"},
    {".be", "whois.dns.be"},
    {".gov", "whois.nic.gov"},
    {".de", "whois.denic.de"},
    {".at", "whois.nic.at"},
    {".it", "whois.nic.it"},
    {".cc", "ccwhois.verisign-grs.com"},
    {".ch", "whois.nic.ch"},
    {".au", "whois.auda.org.au"},
    {".ac", "whois.nic.ac"},
    {".am", "whois.amnic.net"},
    {".cl", "whois.nic.cl"},
    {".mx", "whois.mx"},
    {".li", "whois.nic.li"},
    {".lk", "whois.nic.lk"},
    {".mm", "whois.registry.gov.mm"},
    {".tj", "whois.nic.tj"},
    {".uk", "whois.nic.uk"},
    {".as", "whois.nic.as"},
    {".nu", "whois.iis.nu"},
    {".st", "whois.nic.st"},
    {".sh", "whois.nic.sh"},
};

constexpr const char* InterNic = "whois.internic.net";

TEST(WhoisServerTable, HoldsTheThirtyFiveSuffixesInLookupOrder) {
    const std::vector<std::string>& suffixes = unitfunctions_testing::WhoisSuffixes();
    ASSERT_EQ(suffixes.size(), 35u);
    EXPECT_EQ(suffixes.front(), ".la");
    EXPECT_EQ(suffixes.back(), ".sh");
    ASSERT_EQ(ExpectedServerTable.size(), suffixes.size());
    for (std::size_t i = 0; i < suffixes.size(); ++i)
        EXPECT_EQ(suffixes[i], ExpectedServerTable[i].Suffix) << "row " << i;
    EXPECT_EQ(std::set<std::string>(suffixes.begin(), suffixes.end()).size(), suffixes.size())
        << "a suffix occurs twice";
}

TEST(WhoisServerTable, EachSuffixIsFoundAtItsOwnRow) {
    const std::vector<std::string>& suffixes = unitfunctions_testing::WhoisSuffixes();
    for (std::size_t i = 0; i < suffixes.size(); ++i)
        EXPECT_EQ(IndexOfString(suffixes[i], suffixes, 34), static_cast<int>(i)) << suffixes[i];
}

TEST(GetWhoisServer, EachSuffixGoesToItsRegistry) {
    TWhoisServerVariableGuard guard;
    for (const TServerRow& row : ExpectedServerTable) {
        EXPECT_EQ(GetWhoisServer(std::string("example") + row.Suffix), row.Server) << row.Suffix;
        // Capitals reach the same row: the suffix is lower-cased first.
        std::string upper = std::string("EXAMPLE") + row.Suffix;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(GetWhoisServer(upper), row.Server) << upper;
    }
}

struct TServerCase {
    const char* Name;
    std::string Domain;
    const char* Server;
};

class GetWhoisServerTest : public ::testing::TestWithParam<TServerCase> {};

TEST_P(GetWhoisServerTest, PicksTheServerOfTheLastLabel) {
    TWhoisServerVariableGuard guard;
    EXPECT_EQ(GetWhoisServer(GetParam().Domain), GetParam().Server) << GetParam().Domain;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetWhoisServerTest,
    ::testing::Values(
        TServerCase{"OrgInCapitals", "EXAMPLE.ORG", "whois.publicinterestregistry.org"},
        TServerCase{"OrgMixedCase", "Example.oRg", "whois.publicinterestregistry.org"},
        TServerCase{"Cn", "example.cn", "whois.cnnic.cn"},
        TServerCase{"TwoLevelCnBySuffixAlone", "example.com.cn", "whois.cnnic.cn"},
        TServerCase{"Com", "example.com", InterNic}, TServerCase{"Net", "example.net", InterNic},
        TServerCase{"OtherSuffix", "example.xyz", InterNic},
        TServerCase{"NoDot", "example", InterNic}, TServerCase{"Empty", "", InterNic},
        TServerCase{"EndsWithDot", "example.", InterNic}, TServerCase{"OnlyTheDot", ".", InterNic},
        // A prefix of a table suffix is not that suffix.
        TServerCase{"PartOfInfo", "example.inf", InterNic},
        TServerCase{"LongerThanOrg", "example.orgs", InterNic},
        // The last delimiter is a backslash or colon, not the dot: no suffix.
        TServerCase{"BackslashAfterDot", "example.cn\\x", InterNic},
        TServerCase{"ColonAfterDot", "example.cn:43", InterNic},
        // A GBK character whose second byte is 0x5C (a backslash), here D3 5C,
        // before or after the dot.
        TServerCase{"GbkTrailBackslash", "a.cn\xD3\x5C", InterNic},
        TServerCase{"GbkTrailBackslashBeforeDot", "\xD3\x5C.cn", "whois.cnnic.cn"},
        TServerCase{"GbkCharacterBeforeDot", "\xD6\xD0\xCE\xC4.de", "whois.denic.de"},
        TServerCase{"ZeroByteInSuffix", std::string(".c\0n", 4), InterNic}),
    [](const ::testing::TestParamInfo<TServerCase>& info) { return info.param.Name; });

TEST(GetWhoisServer, TheEnvironmentVariableNamesTheServerForEveryDomain) {
    TWhoisServerVariableGuard guard;
    guard.Set("127.0.0.1:4343");
    for (const char* domain : {"example.com", "example.cn", "EXAMPLE.ORG", "", "no dot"})
        EXPECT_EQ(GetWhoisServer(domain), "127.0.0.1:4343") << domain;
}

TEST(GetWhoisServer, AnEmptyEnvironmentVariableIsIgnored) {
    TWhoisServerVariableGuard guard;
    guard.Set("");
    EXPECT_EQ(GetWhoisServer("example.cn"), "whois.cnnic.cn");
    EXPECT_EQ(GetWhoisServer("example.com"), InterNic);
}

// --- IndexOfString -----------------------------------------------------------------

TEST(IndexOfString, FindsTheFirstEqualEntryUpToTheLastIndex) {
    const std::vector<std::string> list = {"a", "b", "c", "b", ""};
    struct TCase {
        std::string Text;
        int LastIndex;
        int Expected;
    };
    const TCase cases[] = {
        {"a", 4, 0},   {"b", 4, 1},  {"c", 4, 2}, {"", 4, 4},    {"d", 4, -1},
        {"c", 1, -1},  {"c", 2, 2},  {"a", 0, 0}, {"a", -1, -1}, {"B", 4, -1},
        {"b ", 4, -1}, {"b", 99, 1}, {"", 3, -1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IndexOfString(c.Text, list, c.LastIndex), c.Expected)
            << "'" << c.Text << "' up to " << c.LastIndex;
    EXPECT_EQ(IndexOfString("a", {}, 34), -1);
}

} // namespace
