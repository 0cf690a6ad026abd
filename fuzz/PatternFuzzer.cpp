// The expansion of a pattern expression (GBK bytes, as the user types it or
// `generate` takes it), as the generation job expands it, each expansion
// added to the job's index of names.
//
// Input: the pattern.

#include "candidates/NameIndex.h"
#include "engine/Unit_Functions.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

// {数字} {字母} {随机} {拼音} {拼音x2} {拼音x3}
constexpr std::array<std::string_view, 6> Placeholders = {
    "{\xCA\xFD\xD7\xD6}", "{\xD7\xD6\xC4\xB8}",   "{\xCB\xE6\xBB\xFA}",
    "{\xC6\xB4\xD2\xF4}", "{\xC6\xB4\xD2\xF4x2}", "{\xC6\xB4\xD2\xF4x3}",
};

// The most one expansion of a pattern byte can grow to: {拼音x3}, 8 bytes,
// becomes at most three six-letter syllables.
constexpr std::size_t MaxGrowth = 3;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view pattern = fuzzinput::Text(data, size);
    TNameIndex names({});
    std::vector<std::string> expansions;
    for (int i = 0; i < 3; ++i) {
        std::string name = ExpandDomainPattern(pattern);
        FUZZ_EXPECT(name.size() <= MaxGrowth * pattern.size());
        // Every placeholder is replaced, none made anew by a replacement.
        for (std::string_view placeholder : Placeholders)
            FUZZ_EXPECT(name.find(placeholder) == std::string::npos);
        if (!name.empty())
            names.Add(name);
        expansions.push_back(std::move(name));
    }
    // The index keeps the first of equal names, in their order.
    std::vector<std::string> distinct;
    for (const std::string& name : expansions)
        if (!name.empty() && std::find(distinct.begin(), distinct.end(), name) == distinct.end())
            distinct.push_back(name);
    FUZZ_EXPECT(names.TakeAdded() == distinct);
    return 0;
}
