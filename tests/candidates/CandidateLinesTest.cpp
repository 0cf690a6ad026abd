#include "candidates/CandidateLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

// The lines of file as the import hears them, read in blocks of blockBytes
// from a source that hands over at most step bytes a read.
TLines LinesOf(const std::string& file, std::size_t blockBytes, std::size_t step) {
    std::size_t at = 0;
    TLines lines;
    ReadCandidateLines(
        [&](char* into, std::size_t room) {
            const std::size_t n = std::min({room, step, file.size() - at});
            std::memcpy(into, file.data() + at, n);
            at += n;
            return n;
        },
        [&](std::string_view line) { lines.emplace_back(line); }, blockBytes);
    return lines;
}

struct TLinesCase {
    const char* Name;
    std::string File;
    TLines Lines;
};

class CandidateLines : public ::testing::TestWithParam<TLinesCase> {};

// A line end, a mark or padding split between two blocks, or between two
// reads, is read as if the file came at once.
TEST_P(CandidateLines, SameInBlocksOfEverySize) {
    const TLinesCase& c = GetParam();
    EXPECT_EQ(LinesOf(c.File, CandidateBlockBytes, c.File.size() + 1), c.Lines);
    for (std::size_t block = 1; block <= 9; ++block)
        for (std::size_t step = 1; step <= 4; ++step)
            EXPECT_EQ(LinesOf(c.File, block, step), c.Lines)
                << "blocks of " << block << ", reads of " << step;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CandidateLines,
    ::testing::Values(TLinesCase{"CrLfSplit", "abc.com\r\nxyz.net\r\n", {"abc.com", "xyz.net"}},
                      TLinesCase{
                          "LoneCrAndLf", "a.com\rb.com\n\rc.com", {"a.com", "b.com", "c.com"}},
                      TLinesCase{"ByteOrderMarkAcrossBlocks",
                                 "\xEF\xBB\xBF"
                                 "abcdefghij.com\n",
                                 {"abcdefghij.com"}},
                      // Behind padding the mark is no longer at the start of the file.
                      TLinesCase{"ByteOrderMarkBehindBlanks",
                                 "   \xEF\xBB\xBF"
                                 "a.com\n",
                                 {"\xEF\xBB\xBF"
                                  "a.com"}},
                      TLinesCase{"ByteOrderMarkOfSecondLineKept",
                                 "a.com\n\xEF\xBB\xBF"
                                 "b.com",
                                 {"a.com", "\xEF\xBB\xBF"
                                           "b.com"}},
                      TLinesCase{"LongPaddingBeforeAName",
                                 std::string(40, ' ') + "name.com" + std::string(30, '\t'),
                                 {"name.com"}},
                      TLinesCase{"LineLongerThanEveryBlock",
                                 std::string(50, 'a') + ".com\nb.com",
                                 {std::string(50, 'a') + ".com", "b.com"}},
                      TLinesCase{"CtrlZInALaterBlock",
                                 "first.com\nsecond.com\x1Athird.com\n",
                                 {"first.com", "second.com"}},
                      TLinesCase{"OnlyBlanksAndLineEnds", " \t\r\n\n \x01 ", {}},
                      TLinesCase{"EmptyFile", "", {}}),
    [](const auto& info) { return std::string(info.param.Name); });

// What the source throws ends the reading and reaches the caller.
TEST(CandidateLinesSource, ReadErrorReachesTheCaller) {
    TLines lines;
    EXPECT_THROW(
        ReadCandidateLines(
            [](char*, std::size_t) -> std::size_t { throw std::runtime_error("Cannot read file"); },
            [&](std::string_view line) { lines.emplace_back(line); }),
        std::runtime_error);
    EXPECT_TRUE(lines.empty());
}

} // namespace
