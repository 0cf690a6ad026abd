#pragma once

// The conversion every number field of the program uses: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X", and nothing after them, within the 32-bit signed range.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::optional<std::int32_t> ParseIntegerText(std::string_view text);

// "'TEXT' is not a valid integer value", the message for a text that fails.
std::string NotAnIntegerMessage(std::string_view text);
