#pragma once

// What the fuzz programs share: the input as text, split where a program
// takes its first line for a setting, and the check that turns a promise a
// reader broke into a finding (an abort, which libFuzzer reports with the
// input that caused it).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#define FUZZ_EXPECT(condition)                                                                     \
    ((condition) ? void() : fuzzinput::BrokenPromise(#condition, __FILE__, __LINE__))

namespace fuzzinput {

[[noreturn]] inline void BrokenPromise(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, what);
    std::abort();
}

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The text before the first LF, and the text after it ("" and all of text
// when there is none).
inline std::pair<std::string_view, std::string_view> FirstLineAndRest(std::string_view text) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos)
        return {{}, text};
    return {text.substr(0, lf), text.substr(lf + 1)};
}

} // namespace fuzzinput
