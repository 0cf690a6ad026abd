#include "engine/Unit_Functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Placeholders, GBK bytes.
const std::string Digit = "{\xCA\xFD\xD7\xD6}";         // {数字}
const std::string Letter = "{\xD7\xD6\xC4\xB8}";        // {字母}
const std::string DigitOrLetter = "{\xCB\xE6\xBB\xFA}"; // {随机}
const std::string Pinyin = "{\xC6\xB4\xD2\xF4}";        // {拼音}
const std::string TwoPinyin = "{\xC6\xB4\xD2\xF4x2}";   // {拼音x2}
const std::string ThreePinyin = "{\xC6\xB4\xD2\xF4x3}"; // {拼音x3}
const std::string PinyinPrefix = "{\xC6\xB4\xD2\xF4x";  // {拼音x
const std::string DigitWord = "\xCA\xFD\xD7\xD6";       // 数字

const std::string DigitSet = "01234567891";
const std::string LetterSet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string DigitOrLetterSet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::string Capitalised(std::string syllable) {
    syllable[0] = static_cast<char>(syllable[0] - 'a' + 'A');
    return syllable;
}

// The capitalised syllables a pinyin draw can give.
const std::set<std::string>& CapitalisedSyllables() {
    static const std::set<std::string> all = [] {
        std::set<std::string> s;
        for (const std::string& syllable : PinyinSyllables())
            s.insert(Capitalised(syllable));
        return s;
    }();
    return all;
}

// Splits a run of capitalised syllables at its capitals; empty when the text
// is not such a run.
std::vector<std::string> SplitSyllables(const std::string& text) {
    std::vector<std::string> parts;
    for (char c : text) {
        if (c >= 'A' && c <= 'Z')
            parts.emplace_back(1, c);
        else if (c >= 'a' && c <= 'z' && !parts.empty())
            parts.back() += c;
        else
            return {};
    }
    for (const std::string& part : parts) {
        if (!CapitalisedSyllables().count(part))
            return {};
    }
    return parts;
}

// Counts per character over many draws and checks that exactly the expected
// characters came, each near its share. The bound is a quarter of the
// expected count, more than seven standard deviations at these sizes, so a
// sound generator never fails it, while a character twice as likely as the
// others or never drawn fails it at once.
void ExpectUniformOver(const std::string& drawnFrom, const std::string& expectedCharacters) {
    const int perCharacter = 1000;
    const int draws = perCharacter * static_cast<int>(expectedCharacters.size());
    std::map<char, int> counts;
    for (int i = 0; i < draws; ++i) {
        const std::string drawn = RandomCharOf(drawnFrom);
        ASSERT_EQ(drawn.size(), 1u);
        ++counts[drawn[0]];
    }
    EXPECT_EQ(counts.size(), expectedCharacters.size());
    for (char c : expectedCharacters) {
        EXPECT_NEAR(counts[c], perCharacter, perCharacter / 4) << "character " << c;
    }
    for (const auto& [c, n] : counts)
        EXPECT_NE(expectedCharacters.find(c), std::string::npos) << "drew " << c << " " << n;
}

// --- RandomCharOf ----------------------------------------------------------------

TEST(RandomCharOf, DigitsAreUniformAndTheDoubledOneCountsOnce) {
    ExpectUniformOver(DigitSet, "0123456789");
}

TEST(RandomCharOf, LettersAreUniformIncludingZ) {
    ExpectUniformOver(LetterSet, LetterSet);
}

TEST(RandomCharOf, DigitsAndLettersAreUniformIncludingZ) {
    ExpectUniformOver(DigitOrLetterSet, DigitOrLetterSet);
}

TEST(RandomCharOf, SmallSets) {
    EXPECT_EQ(RandomCharOf(""), "");
    EXPECT_EQ(RandomCharOf("x"), "x");
    EXPECT_EQ(RandomCharOf("xxxx"), "x");
    ExpectUniformOver("aab", "ab");
}

// --- PinyinSyllables and RandomPinyin ---------------------------------------------

TEST(PinyinSyllables, HoldTheFixedTableInItsOrder) {
    const std::vector<std::string>& table = PinyinSyllables();
    ASSERT_EQ(table.size(), 405u);
    const std::vector<std::pair<std::size_t, std::string>> anchors = {
        {0, "a"},     {4, "ao"},   {5, "ba"},   {84, "fou"}, {91, "ji"},  {126, "qiao"},
        {219, "yao"}, {393, "ba"}, {394, "ei"}, {395, "m"},  {403, "lv"}, {404, "nv"},
    };
    for (const auto& [index, syllable] : anchors)
        EXPECT_EQ(table[index], syllable) << "index " << index;
    std::map<std::string, int> seen;
    for (const std::string& syllable : table) {
        EXPECT_GE(syllable.size(), 1u);
        EXPECT_LE(syllable.size(), 6u);
        EXPECT_TRUE(std::all_of(syllable.begin(), syllable.end(), [](char c) {
            return c >= 'a' && c <= 'z';
        })) << syllable;
        ++seen[syllable];
    }
    for (const auto& [syllable, n] : seen)
        EXPECT_EQ(n, syllable == "ba" ? 2 : 1) << syllable;
}

TEST(RandomPinyin, NoneForZeroOrLess) {
    EXPECT_EQ(RandomPinyin(0), "");
    EXPECT_EQ(RandomPinyin(-1), "");
    EXPECT_EQ(RandomPinyin(-100), "");
}

TEST(RandomPinyin, GivesNCapitalisedSyllables) {
    for (int n = 1; n <= 4; ++n) {
        for (int i = 0; i < 200; ++i) {
            const std::string text = RandomPinyin(n);
            EXPECT_EQ(SplitSyllables(text).size(), static_cast<std::size_t>(n)) << text;
        }
    }
}

TEST(RandomPinyin, EveryEntryIsEquallyLikely) {
    // 100 draws per entry on average; "Ba" stands twice in the table.
    const int draws = 405 * 100;
    std::map<std::string, int> counts;
    for (int i = 0; i < draws; ++i)
        ++counts[RandomPinyin(1)];
    EXPECT_EQ(counts.size(), 404u);
    for (const std::string& syllable : CapitalisedSyllables()) {
        const int expected = syllable == "Ba" ? 200 : 100;
        EXPECT_NEAR(counts[syllable], expected, expected * 0.6) << syllable;
    }
    // One-letter syllables and the v spelling.
    for (const char* syllable : {"A", "E", "M", "N", "O", "Lv", "Nv"})
        EXPECT_GT(counts[syllable], 0) << syllable;
}

// --- ReplaceEachWithRandomChar ------------------------------------------------------

TEST(ReplaceEachWithRandomChar, LeftToRightWithoutOverlap) {
    EXPECT_EQ(ReplaceEachWithRandomChar("aaa", "aa", "X"), "Xa");
    EXPECT_EQ(ReplaceEachWithRandomChar("abc", "", "X"), "abc");
    EXPECT_EQ(ReplaceEachWithRandomChar("", "a", "X"), "");
    EXPECT_EQ(ReplaceEachWithRandomChar("a-a", "a", "a"), "a-a");
    // The inserted character is not searched again.
    EXPECT_EQ(ReplaceEachWithRandomChar("aab", "ab", "a"), "aa");
}

TEST(ReplaceEachWithRandomChar, EachOccurrenceDrawsItsOwnCharacter) {
    bool sawDifferent = false;
    for (int i = 0; i < 200 && !sawDifferent; ++i) {
        const std::string text = ReplaceEachWithRandomChar("#-#", "#", "0123456789");
        ASSERT_EQ(text.size(), 3u);
        sawDifferent = text[0] != text[2];
    }
    EXPECT_TRUE(sawDifferent);
}

// --- ExpandDomainPattern -------------------------------------------------------------

TEST(ExpandDomainPattern, TextWithoutPlaceholdersStays) {
    const std::string cases[] = {
        "",
        "example.com",
        "\xD6\xD0\xCE\xC4.cn", // 中文.cn
        "{" + DigitWord,
        "{\xCA\xFD\xD7\xD6"
        "2}", // {数字2}
        "{pinyin}.com",
        "{\xC6\xB4\xD2\xF4x4}", // {拼音x4}
        "{\xC6\xB4\xD2\xF4X2}", // {拼音X2}
        "{ \xCA\xFD\xD7\xD6}",  // { 数字}
        "\xCA\xFD\xD7\xD6}",    // 数字}
    };
    for (const std::string& pattern : cases)
        EXPECT_EQ(ExpandDomainPattern(pattern), pattern);
}

TEST(ExpandDomainPattern, TwoDigitsGiveAllHundredNames) {
    std::set<std::string> names;
    for (int i = 0; i < 5000; ++i) {
        const std::string name = ExpandDomainPattern(Digit + Digit + ".com");
        ASSERT_EQ(name.size(), 6u) << name;
        ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(name[0])) &&
                    std::isdigit(static_cast<unsigned char>(name[1])))
            << name;
        ASSERT_EQ(name.substr(2), ".com");
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 100u);
}

TEST(ExpandDomainPattern, LettersAndMixedCoverTheirSetsIncludingZ) {
    std::set<char> letters;
    std::set<char> mixed;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = ExpandDomainPattern(Letter + DigitOrLetter + ".net");
        ASSERT_EQ(name.size(), 6u) << name;
        letters.insert(name[0]);
        mixed.insert(name[1]);
    }
    EXPECT_EQ(letters, std::set<char>(LetterSet.begin(), LetterSet.end()));
    EXPECT_EQ(mixed, std::set<char>(DigitOrLetterSet.begin(), DigitOrLetterSet.end()));
}

TEST(ExpandDomainPattern, PinyinIsCapitalised) {
    for (int i = 0; i < 300; ++i) {
        const std::string name = ExpandDomainPattern("CQ" + Pinyin + ".com");
        ASSERT_EQ(name.substr(0, 2), "CQ");
        ASSERT_GE(name.size(), 7u);
        ASSERT_EQ(name.substr(name.size() - 4), ".com");
        EXPECT_EQ(SplitSyllables(name.substr(2, name.size() - 6)).size(), 1u) << name;
    }
}

TEST(ExpandDomainPattern, OnePinyinDrawPerKindAndExpansion) {
    for (int i = 0; i < 200; ++i) {
        const std::string one = ExpandDomainPattern(Pinyin + "-" + Pinyin);
        const std::string left = TextBefore("-", one);
        EXPECT_EQ(one, left + "-" + left);
        EXPECT_EQ(SplitSyllables(left).size(), 1u) << one;

        const std::string two = ExpandDomainPattern(TwoPinyin + "-" + TwoPinyin);
        EXPECT_EQ(two, TextBefore("-", two) + "-" + TextBefore("-", two));
        EXPECT_EQ(SplitSyllables(TextBefore("-", two)).size(), 2u) << two;

        const std::string three = ExpandDomainPattern(ThreePinyin + "-" + ThreePinyin);
        EXPECT_EQ(three, TextBefore("-", three) + "-" + TextBefore("-", three));
        EXPECT_EQ(SplitSyllables(TextBefore("-", three)).size(), 3u) << three;
    }
}

TEST(ExpandDomainPattern, KindsAreDrawnIndependently) {
    bool singleDiffersFromPair = false;
    for (int i = 0; i < 200 && !singleDiffersFromPair; ++i) {
        const std::string name = ExpandDomainPattern(Pinyin + TwoPinyin + ThreePinyin + ".com");
        ASSERT_EQ(name.substr(name.size() - 4), ".com");
        const std::vector<std::string> parts = SplitSyllables(name.substr(0, name.size() - 4));
        ASSERT_EQ(parts.size(), 6u) << name;
        singleDiffersFromPair = parts[0] != parts[1];
    }
    EXPECT_TRUE(singleDiffersFromPair);
}

TEST(ExpandDomainPattern, APairMayRepeatItsSyllable) {
    // About one pair in 400 repeats; 20000 pairs make a miss vanishingly rare.
    bool sawRepeat = false;
    for (int i = 0; i < 20000 && !sawRepeat; ++i) {
        const std::vector<std::string> parts = SplitSyllables(RandomPinyin(2));
        ASSERT_EQ(parts.size(), 2u);
        sawRepeat = parts[0] == parts[1];
    }
    EXPECT_TRUE(sawRepeat);
}

TEST(ExpandDomainPattern, DigitFormsALaterPinyinPlaceholder) {
    // {拼音x{数字}}: the digit pass runs first, so a 2 or a 3 completes a pair
    // or triple placeholder; any other digit leaves "{拼音x" digit "}".
    std::set<char> digitsSeen;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = ExpandDomainPattern(PinyinPrefix + Digit + "}");
        const std::vector<std::string> parts = SplitSyllables(name);
        if (parts.size() == 2) {
            digitsSeen.insert('2');
        } else if (parts.size() == 3) {
            digitsSeen.insert('3');
        } else {
            ASSERT_EQ(name.size(), PinyinPrefix.size() + 2) << name;
            ASSERT_EQ(name.substr(0, PinyinPrefix.size()), PinyinPrefix);
            ASSERT_EQ(name.back(), '}');
            const char d = name[PinyinPrefix.size()];
            ASSERT_TRUE(d >= '0' && d <= '9' && d != '2' && d != '3') << name;
            digitsSeen.insert(d);
        }
    }
    EXPECT_EQ(digitsSeen.size(), 10u);
}

TEST(ExpandDomainPattern, InsertedTextIsNotSearchedAgain) {
    // {{数字}数字} gives "{", a digit and "数字}", never a second draw.
    std::set<char> digits;
    for (int i = 0; i < 500; ++i) {
        const std::string name = ExpandDomainPattern("{" + Digit + DigitWord + "}");
        ASSERT_EQ(name.size(), 3u + DigitWord.size()) << name;
        EXPECT_EQ(name[0], '{');
        EXPECT_EQ(name.substr(2), DigitWord + "}");
        digits.insert(name[1]);
    }
    EXPECT_EQ(digits.size(), 10u);
}

TEST(ExpandDomainPattern, EveryKindInOnePattern) {
    const std::string pattern = "x" + Digit + Letter + DigitOrLetter + "-" + Pinyin + ".com";
    for (int i = 0; i < 200; ++i) {
        const std::string name = ExpandDomainPattern(pattern);
        ASSERT_GE(name.size(), 10u) << name;
        EXPECT_EQ(name[0], 'x');
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(name[1]))) << name;
        EXPECT_TRUE(name[2] >= 'A' && name[2] <= 'Z') << name;
        EXPECT_NE(DigitOrLetterSet.find(name[3]), std::string::npos) << name;
        EXPECT_EQ(name[4], '-');
        EXPECT_EQ(SplitSyllables(name.substr(5, name.size() - 9)).size(), 1u) << name;
        EXPECT_TRUE(IsValidDomain(TextBefore("-", name) + ".com")) << name;
    }
}

} // namespace
