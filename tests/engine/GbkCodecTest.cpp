#include "engine/GbkCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct TEncodeCase {
    const char* Name;
    std::string Utf8;
    std::string Gbk;
};

class Utf8ToGbkTest : public ::testing::TestWithParam<TEncodeCase> {};

TEST_P(Utf8ToGbkTest, GivesTheExpectedBytes) {
    EXPECT_EQ(Utf8ToGbk(GetParam().Utf8), GetParam().Gbk);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8ToGbkTest,
    ::testing::Values(TEncodeCase{"Empty", "", ""},
                      TEncodeCase{"AsciiUnchanged", "Domain Name: ABC.COM\r\n\tx~",
                                  "Domain Name: ABC.COM\r\n\tx~"},
                      TEncodeCase{"ZeroByteKept", std::string("a\0b", 3), std::string("a\0b", 3)},
                      // "中文"
                      TEncodeCase{"Chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
                      // "查询失败了"
                      TEncodeCase{"ChineseSentence",
                                  "\xE6\x9F\xA5\xE8\xAF\xA2\xE5\xA4\xB1\xE8\xB4\xA5\xE4\xBA\x86",
                                  "\xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC\xC1\xCB"},
                      // U+E774, the user-defined character GB18030 places at A4 F6
                      TEncodeCase{"UserDefinedFieldMark", "\xEE\x9D\xB4", "\xA4\xF6"},
                      TEncodeCase{"FieldMarkBetweenText", "a\xEE\x9D\xB4z", "a\xA4\xF6z"},
                      // U+1F600 needs four GB18030 bytes: GBK has no code for it
                      TEncodeCase{"OutsideGbkBecomesQuestionMark", "a\xF0\x9F\x98\x80z", "a?z"},
                      // U+0E01 (Thai) is a BMP character outside GBK
                      TEncodeCase{"BmpOutsideGbk", "\xE0\xB8\x81", "?"},
                      TEncodeCase{"LoneContinuationByte", "a\x80z", "a?z"},
                      TEncodeCase{"InvalidLeadBytes", "\xC0\xAF\xFF", "???"},
                      // a lead byte and its fitting continuation are one maximal subpart
                      TEncodeCase{"CutSequenceInside", "\xE4\xB8z", "?z"},
                      TEncodeCase{"CutSequenceAtEnd", "ab\xE4\xB8", "ab?"},
                      TEncodeCase{"SurrogateIsInvalid", "\xED\xA0\x80", "???"},
                      TEncodeCase{"OverLongIsInvalid", "\xE0\x80\xAF", "???"},
                      // "中" after invalid bytes is still converted
                      TEncodeCase{"ValidAfterInvalid", "\xFE\xE4\xB8\xAD", "?\xD6\xD0"}),
    [](const ::testing::TestParamInfo<TEncodeCase>& info) { return std::string(info.param.Name); });

struct TDecodeCase {
    const char* Name;
    std::string Gbk;
    std::string Utf8;
};

class GbkToUtf8Test : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(GbkToUtf8Test, GivesTheExpectedText) {
    EXPECT_EQ(GbkToUtf8(GetParam().Gbk), GetParam().Utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GbkToUtf8Test,
    ::testing::Values(TDecodeCase{"Empty", "", ""},
                      TDecodeCase{"AsciiUnchanged", "Registrar: X\r\nY\n", "Registrar: X\r\nY\n"},
                      // "中文"
                      TDecodeCase{"Chinese", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
                      // the field mark A4 F6, which plain GBK rejects, is U+E774
                      TDecodeCase{"FieldMark", "\xA4\xF6", "\xEE\x9D\xB4"},
                      // code page 936 puts the euro sign at 80, where GBK encodes it
                      TDecodeCase{"EuroAt80", "\x80", "\xE2\x82\xAC"},
                      TDecodeCase{"InvalidByteFF", "a\xFFz", "a\xEF\xBF\xBDz"},
                      // a lead byte whose next byte cannot follow it: only the lead is lost
                      TDecodeCase{"LeadBeforeSpace", "\x81 z", "\xEF\xBF\xBD z"},
                      TDecodeCase{"LeadAtEnd", "ab\xD6", "ab\xEF\xBF\xBD"},
                      // a four-byte form past the last assigned code stands for one character
                      TDecodeCase{"UnassignedFourByteForm", "\x84\x31\xA5\x30z", "\xEF\xBF\xBDz"},
                      // GB18030's four-byte form of U+0080
                      TDecodeCase{"FourByteForm", "\x81\x30\x81\x30", "\xC2\x80"}),
    [](const ::testing::TestParamInfo<TDecodeCase>& info) { return std::string(info.param.Name); });

std::string TwoBytes(int lead, int trail) {
    return std::string{static_cast<char>(lead), static_cast<char>(trail)};
}

// Every double-byte code decodes to a character that encodes back to the same
// two bytes. A2 E3 is GB18030's euro sign, which comes back as 80, the one
// code page 936 uses.
TEST(GbkCodecTest, EveryDoubleByteCodeRoundTrips) {
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string gbk = TwoBytes(lead, trail);
            const std::string utf8 = GbkToUtf8(gbk);
            ASSERT_NE(utf8, "\xEF\xBF\xBD") << std::hex << lead << ' ' << trail;
            const std::string expected = (lead == 0xA2 && trail == 0xE3) ? "\x80" : gbk;
            ASSERT_EQ(Utf8ToGbk(utf8), expected) << std::hex << lead << ' ' << trail;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 126 * 190);
}

TEST(GbkCodecTest, LongMixedTextRoundTripsWhole) {
    // "域名" with the field mark, ASCII and both line ends, repeated past one
    // iconv output chunk
    const std::string piece = "\xD3\xF2\xC3\xFB\xA4\xF6 Name: x.com\r\nline\n";
    std::string gbk;
    for (int i = 0; i < 2000; ++i)
        gbk += piece;
    EXPECT_EQ(Utf8ToGbk(GbkToUtf8(gbk)), gbk);
}

TEST(GbkCodecTest, ConvertsOnManyThreadsAtOnce) {
    constexpr int ThreadCount = 8;
    std::vector<int> failures(ThreadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < ThreadCount; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 300; ++i) {
                if (Utf8ToGbk("\xE4\xB8\xAD\xEE\x9D\xB4") != "\xD6\xD0\xA4\xF6" ||
                    GbkToUtf8("\xD6\xD0\xA4\xF6") != "\xE4\xB8\xAD\xEE\x9D\xB4")
                    ++failures[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < ThreadCount; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

} // namespace
