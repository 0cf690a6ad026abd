#include "engine/IntegerText.h"

#include <cstdint>

namespace {

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// Strips a hexadecimal prefix, if any, and tells the base it announces.
int TakeBasePrefix(std::string_view& rest) {
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.substr(0, prefix.size()) == prefix) {
            rest.remove_prefix(prefix.size());
            return 16;
        }
    }
    return 10;
}

} // namespace

std::optional<std::int32_t> ParseIntegerText(std::string_view text) {
    std::string_view rest = text;
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    bool negative = false;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const int base = TakeBasePrefix(rest);
    if (rest.empty())
        return std::nullopt;
    // Accumulate the magnitude in 64 bits; stop as soon as it leaves the range.
    const std::int64_t limit = negative ? std::int64_t{INT32_MAX} + 1 : INT32_MAX;
    std::int64_t magnitude = 0;
    for (char c : rest) {
        const int d = DigitValue(c, base);
        if (d < 0)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::string NotAnIntegerMessage(std::string_view text) {
    return std::string("'").append(text).append("' is not a valid integer value");
}
