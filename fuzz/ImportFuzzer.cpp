// The lines of a candidate file, as the import reads them: in blocks of any
// size, with reads that hand over fewer bytes than asked, the result must be
// that of reading the whole file at once; then the names go through the
// import's index of names met.
//
// Input: one byte for the block size, one for the most a read hands over,
// then the file's bytes.

#include "candidates/CandidateLines.h"
#include "candidates/NameIndex.h"
#include "engine/Unit_Functions.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// Hands over file from memory, at most step bytes a read.
TReadSome ReadFrom(std::string_view file, std::size_t step) {
    return [file, step, at = std::size_t{0}](char* into, std::size_t room) mutable {
        const std::size_t n = std::min({room, step, file.size() - at});
        std::memcpy(into, file.data() + at, n);
        at += n;
        return n;
    };
}

std::vector<std::string> LinesOf(std::string_view file, std::size_t blockBytes, std::size_t step) {
    std::vector<std::string> lines;
    ReadCandidateLines(
        ReadFrom(file, step), [&](std::string_view line) { lines.emplace_back(line); }, blockBytes);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t blockBytes = 1 + data[0] % 64;
    const std::size_t step = 1 + data[1];
    const std::string_view file = fuzzinput::Text(data + 2, size - 2);

    const std::vector<std::string> whole = LinesOf(file, file.size() + 1, file.size() + 1);
    FUZZ_EXPECT(LinesOf(file, blockBytes, step) == whole);
    for (const std::string& line : whole)
        FUZZ_EXPECT(!line.empty() && TrimText(line).size() == line.size());

    // The valid names, each once, in file order; the rest are rejected.
    TNameIndex names({});
    std::set<std::string> met;
    std::vector<std::string> expected;
    for (const std::string& line : whole) {
        if (!IsValidDomain(line))
            continue;
        FUZZ_EXPECT(names.Add(line) == met.insert(line).second);
        if (expected.size() < met.size())
            expected.push_back(line);
    }
    FUZZ_EXPECT(names.TakeAdded() == expected);
    return 0;
}
