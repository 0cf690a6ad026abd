#include "engine/IntegerText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

struct TIntegerCase {
    const char* Name;
    std::string Text;
    std::optional<std::int32_t> Value; // nullopt: not an integer
};

class ParseIntegerTextTest : public ::testing::TestWithParam<TIntegerCase> {};

TEST_P(ParseIntegerTextTest, ConvertsOrRefuses) {
    EXPECT_EQ(ParseIntegerText(GetParam().Text), GetParam().Value) << "'" << GetParam().Text << "'";
}

const std::optional<std::int32_t> None;

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseIntegerTextTest,
    ::testing::Values(
        TIntegerCase{"Decimal", "5", 5}, TIntegerCase{"Zero", "0", 0},
        TIntegerCase{"LeadingZeros", "007", 7}, TIntegerCase{"LeadingBlanks", "   12", 12},
        TIntegerCase{"TrailingBlank", "12 ", None}, TIntegerCase{"LeadingTab", "\t12", None},
        TIntegerCase{"Plus", "+3", 3}, TIntegerCase{"Minus", "-3", -3},
        TIntegerCase{"BlanksThenSign", "  -3", -3}, TIntegerCase{"BlankAfterSign", "- 3", None},
        TIntegerCase{"TwoSigns", "+-3", None}, TIntegerCase{"SignAlone", "-", None},
        TIntegerCase{"Dollar", "$1F", 31}, TIntegerCase{"LowerX", "x1f", 31},
        TIntegerCase{"UpperX", "X1F", 31}, TIntegerCase{"ZeroLowerX", "0x10", 16},
        TIntegerCase{"ZeroUpperX", "0X10", 16}, TIntegerCase{"MinusHex", "-$10", -16},
        TIntegerCase{"BlanksPlusHex", " +0x7FFFFFFF", INT32_MAX},
        TIntegerCase{"PrefixAlone", "$", None}, TIntegerCase{"ZeroXAlone", "0x", None},
        TIntegerCase{"HexDigitsWithoutPrefix", "1F", None},
        TIntegerCase{"BadHexDigit", "$1G", None}, TIntegerCase{"Empty", "", None},
        TIntegerCase{"BlanksOnly", "   ", None}, TIntegerCase{"TrailingGarbage", "5a", None},
        TIntegerCase{"TrailingDot", "5.", None}, TIntegerCase{"Letters", "abc", None},
        TIntegerCase{"Max", "2147483647", INT32_MAX},
        TIntegerCase{"MaxPlusOne", "2147483648", None},
        TIntegerCase{"Min", "-2147483648", INT32_MIN},
        TIntegerCase{"MinMinusOne", "-2147483649", None},
        TIntegerCase{"HexMaxPlusOne", "$80000000", None},
        TIntegerCase{"HexMin", "-$80000000", INT32_MIN},
        TIntegerCase{"VeryLong", std::string(40, '9'), None},
        TIntegerCase{"ManyLeadingZeros", std::string(40, '0') + "1", 1},
        TIntegerCase{"ZeroByteInside", std::string("1\0", 2), None},
        // 五 in GBK: a digit only to a reader, never to the conversion.
        TIntegerCase{"ChineseDigit", "\xCE\xE5", None}),
    [](const ::testing::TestParamInfo<TIntegerCase>& info) { return info.param.Name; });

TEST(NotAnIntegerMessageTest, QuotesTheTextAsTyped) {
    EXPECT_EQ(NotAnIntegerMessage("abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(NotAnIntegerMessage(""), "'' is not a valid integer value");
    EXPECT_EQ(NotAnIntegerMessage(" 5a"), "' 5a' is not a valid integer value");
}

} // namespace
