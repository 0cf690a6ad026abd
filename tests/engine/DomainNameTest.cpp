#include "engine/DomainName.h"
#include "tests/support/ShippedRegistryData.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

template <std::size_t N> std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

struct TNameCase {
    const char* Name;
    std::string Given; // GBK bytes, as a list holds them
    TNameProblem Problem;
    std::string Expected; // the query name when valid, else a part of the reason
};

class DomainNameRule : public ::testing::TestWithParam<TNameCase> {};

TEST_P(DomainNameRule, GivesTheQueryNameOrTheReason) {
    const TNameCase& c = GetParam();
    const TCheckedName checked = CheckDomainName(c.Given, ShippedRegistryData());
    EXPECT_EQ(checked.Problem, c.Problem) << checked.Reason;
    if (c.Problem == TNameProblem::None) {
        EXPECT_EQ(checked.QueryName, c.Expected);
        EXPECT_EQ(checked.Suffix, c.Expected.substr(c.Expected.rfind('.') + 1));
        EXPECT_EQ(checked.Reason, "");
    } else {
        EXPECT_TRUE(Has(checked.Reason, c.Expected)) << checked.Reason;
    }
}

using P = TNameProblem;

INSTANTIATE_TEST_SUITE_P(
    Cases, DomainNameRule,
    ::testing::Values(
        // What the old rule took still passes, lower-cased for the query.
        TNameCase{"Plain", "example.com", P::None, "example.com"},
        TNameCase{"Capitals", "EXAMPLE.Com", P::None, "example.com"},
        TNameCase{"Digits", "123456.cn", P::None, "123456.cn"},
        TNameCase{"OneLetterLabel", "a.io", P::None, "a.io"},
        // Hyphens, where registries take them.
        TNameCase{"Hyphen", "my-shop.com", P::None, "my-shop.com"},
        TNameCase{"DoubleHyphenInSecondPlace", "a--b.com", P::None, "a--b.com"},
        TNameCase{"HyphenFirst", "-shop.com", P::Malformed, "begins or ends with a hyphen"},
        TNameCase{"HyphenLast", "shop-.com", P::Malformed, "begins or ends with a hyphen"},
        TNameCase{"DoubleHyphenInThirdPlace", "ab--cd.com", P::Malformed, "third and fourth place"},
        // Lengths: 63 bytes a label.
        TNameCase{"Label63", std::string(63, 'a') + ".com", P::None, std::string(63, 'a') + ".com"},
        TNameCase{"Label64", std::string(64, 'a') + ".com", P::Malformed, "longer than 63 bytes"},
        TNameCase{"HugeLabel", std::string(5000, 'a') + ".com", P::Malformed,
                  "longer than 253 bytes"},
        // One label before the suffix.
        TNameCase{"WwwLabel", "www.example.com", P::Malformed, "example.co.uk"},
        TNameCase{"SecondLevelSuffix", "example.com.cn", P::Malformed, "one label and a suffix"},
        TNameCase{"NoDot", "example", P::Malformed, "one label and a suffix"},
        TNameCase{"EmptyLabel", ".com", P::Malformed, "empty label"},
        TNameCase{"TrailingDot", "example.com.", P::Malformed, "one label and a suffix"},
        TNameCase{"Empty", "", P::Malformed, "empty name"},
        // Bytes that are no part of a name.
        TNameCase{"Underscore", "my_shop.com", P::Malformed, "character '_'"},
        TNameCase{"BlankBefore", " example.com", P::Malformed, "byte 0x20"},
        TNameCase{"TrailingLineFeed", "example.com\n", P::Malformed, "byte 0x0A"},
        TNameCase{"ZeroByteInside", Bytes("exa\0mple.com"), P::Malformed, "byte 0x00"},
        // The suffix must be a TLD of the data, IDN ones included.
        TNameCase{"UnknownSuffix", "example.zzzz", P::UnknownSuffix, "unknown suffix .zzzz"},
        TNameCase{"DigitInSuffix", "example.c0m", P::UnknownSuffix, "unknown suffix .c0m"},
        TNameCase{"NewGtld", "example.app", P::None, "example.app"},
        TNameCase{"IdnSuffixAsALabel", "example.XN--FIQS8S", P::None, "example.xn--fiqs8s"},
        // A-labels as given: kept when they decode and encode back to themselves.
        TNameCase{"ALabel", "xn--fiq228c.com", P::None, "xn--fiq228c.com"},
        TNameCase{"BadPunycode", "xn--zz.com", P::NotConvertible, "not a valid A-label"},
        TNameCase{"EmptyPunycode", "xn--a.com", P::NotConvertible, "not a valid A-label"},
        // Chinese names (GBK bytes) become A-labels.
        TNameCase{"ChineseLabel", "\xD6\xD0\xCE\xC4.com", P::None, "xn--fiq228c.com"}, // 中文.com
        TNameCase{"ChineseSuffix", "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA", P::None, // 例子.中国
                  "xn--fsqu00a.xn--fiqs8s"},
        TNameCase{"IdeographicFullStop", "\xC0\xFD\xD7\xD3\xA1\xA3\xD6\xD0\xB9\xFA", P::None,
                  "xn--fsqu00a.xn--fiqs8s"},                             // 例子。中国
        TNameCase{"ChineseWithHyphen", "\xD6\xD0-\xCE\xC4.com", P::None, // 中-文.com
                  "xn----kq6a506e.com"},
        TNameCase{"ChineseGtld", "\xD6\xD0\xCE\xC4.\xC9\xCC\xB5\xEA", P::None, // 中文.商店
                  "xn--fiq228c.xn--czrs0t"},
        TNameCase{"FullWidthLetters", "\xA3\xCD\xA3\xD9.com", P::None, "my.com"}, // ＭＹ.com
        TNameCase{"ChineseUnknownSuffix", "\xD6\xD0\xCE\xC4.zzzz", P::UnknownSuffix,
                  "unknown suffix .zzzz"},
        // What the conversion maps to characters no label may hold: ⑴ is "(1)".
        TNameCase{"MapsToParentheses", "\xA2\xC5.com", P::Malformed, "character '('"},
        // The field mark A4 F6 is a private-use character; a lone lead byte
        // is no GBK character at all.
        TNameCase{"PrivateUseCharacter", "\xA4\xF6.com", P::NotConvertible, "IDNA2008"},
        TNameCase{"LoneLeadByte", "\x81.com", P::NotConvertible, "IDNA2008"},
        TNameCase{"Latin1Byte", "caf\xE9.com", P::NotConvertible, "IDNA2008"}),
    [](const ::testing::TestParamInfo<TNameCase>& info) { return info.param.Name; });

TEST(DomainNameRule, AnUnknownSuffixStillGivesTheQueryName) {
    // So the caller can report the name as unsupported rather than invalid.
    const TCheckedName checked = CheckDomainName("Example.ZZZZ", ShippedRegistryData());
    EXPECT_EQ(checked.QueryName, "example.zzzz");
    EXPECT_EQ(checked.Suffix, "zzzz");
}

struct THostCase {
    const char* Text;
    bool Host;
};

TEST(IsHostName, TakesDottedLabelsButNoAddress) {
    for (const THostCase& c : {
             THostCase{"whois.nic.io", true},
             THostCase{"WHOIS.Example.COM", true},
             THostCase{"whois.xn--fiqs8s", true},
             THostCase{"1.example.com", true},
             THostCase{"localhost", false},
             THostCase{"127.0.0.1", false},
             THostCase{"example.123", false},
             THostCase{"whois..io", false},
             THostCase{".whois.io", false},
             THostCase{"whois.io.", false},
             THostCase{"who is.io", false},
             THostCase{"-whois.io", false},
             THostCase{"whois.io:43", false},
             THostCase{"", false},
         }) {
        EXPECT_EQ(IsHostName(c.Text), c.Host) << c.Text;
    }
}

} // namespace
