#pragma once

// Conversion between the program's GBK texts and UTF-8, for the edges where a
// text leaves or enters the program (terminal, Qt, UTF-8 WHOIS replies).
// No Qt here; safe on any thread.

#include <string>
#include <string_view>

// UTF-8 to GBK. Characters GBK lacks, and byte sequences no decoder accepts,
// become '?'; nothing is dropped or cut.
std::string Utf8ToGbk(std::string_view utf8);
// GBK to UTF-8, decoding as GB18030 so the user-defined pair A4 F6 comes out
// as U+E774. Bytes that do not decode become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
