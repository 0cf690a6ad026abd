#include "engine/GbkCodec.h"

#include <cerrno>
#include <cstddef>
#include <iconv.h>

// Both directions run glibc iconv over the whole text at once and step in by
// hand only where iconv stops at a sequence it cannot take. Each call opens
// its own converters: an iconv_t carries shift state and must not be shared
// between threads.

namespace {

// Owns one iconv converter; IsOpen() is false when glibc lacks the pair.
class TConverter {
public:
    TConverter(const char* to, const char* from) : FHandle(::iconv_open(to, from)) {}
    ~TConverter() {
        if (IsOpen())
            ::iconv_close(FHandle);
    }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    bool IsOpen() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of in as iconv takes, appending to out and advancing
    // in. Returns 0 when all of in was taken, else the errno iconv stopped with
    // (EILSEQ, EINVAL) with in at the offending byte.
    int Convert(std::string_view& in, std::string& out) {
        ::iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
        char chunk[4096];
        while (!in.empty()) {
            char* inPtr = const_cast<char*>(in.data());
            std::size_t inLeft = in.size();
            char* outPtr = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t rc = ::iconv(FHandle, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
            out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
            in.remove_prefix(in.size() - inLeft);
            if (error != 0 && error != E2BIG)
                return error;
        }
        return 0;
    }

private:
    iconv_t FHandle;
};

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at the start of text (1 to 4), or 0
// when it is ill-formed; then invalidLength is the maximal subpart that
// starts it (at least 1): a lead byte with the continuation bytes that could
// still belong to it, as the Unicode standard counts them for replacement.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t& invalidLength) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    invalidLength = 1;
    if (lead < 0x80)
        return 1;
    std::size_t need = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF; // excludes over-long forms, surrogates and > U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= text.size())
            return 0;
        const unsigned char b = at(i);
        const bool fits = i == 1 ? (b >= low && b <= high) : IsContinuation(b);
        if (!fits)
            return 0;
        invalidLength = i + 1;
    }
    return need + 1;
}

// The two-byte code GB18030 gives a character GBK's table lacks (in
// particular the user-defined pair A4 F6 for U+E774); '?' when GB18030 needs
// four bytes for it or cannot take it.
void AppendGbkFallback(std::string_view character, TConverter& gb18030, std::string& out) {
    if (gb18030.IsOpen()) {
        std::string code;
        std::string_view in = character;
        if (gb18030.Convert(in, code) == 0 && code.size() == 2) {
            out += code;
            return;
        }
    }
    out += '?';
}

void AppendReplacementCharacter(std::string& out) {
    out += "\xEF\xBF\xBD";
}

bool IsGbkLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
bool IsGbkDigit(unsigned char b) {
    return b >= 0x30 && b <= 0x39;
}

// How many bytes one undecodable unit at the start of text spans: a complete
// four-byte GB18030 form that maps to nothing counts as one unit, anything
// else one byte, so that the byte after a bad lead byte is decoded afresh.
std::size_t UndecodableLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (text.size() >= 4 && IsGbkLead(at(0)) && IsGbkDigit(at(1)) && IsGbkLead(at(2)) &&
        IsGbkDigit(at(3)))
        return 4;
    return 1;
}

} // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    try {
        out.reserve(utf8.size());
        // Opening a converter costs more than converting a line: each thread
        // keeps its own (Convert starts each text from the initial state).
        thread_local TConverter gbk("GBK", "UTF-8");
        thread_local TConverter gb18030("GB18030", "UTF-8");
        std::string_view rest = utf8;
        while (!rest.empty()) {
            if (gbk.IsOpen() && gbk.Convert(rest, out) == 0)
                break;
            // rest starts at a sequence iconv would not take (or iconv is missing).
            std::size_t invalidLength = 1;
            const std::size_t length = Utf8SequenceLength(rest, invalidLength);
            if (length == 1) {
                out += rest.front(); // only without a GBK converter
            } else if (length > 1) {
                AppendGbkFallback(rest.substr(0, length), gb18030, out);
            } else {
                out += '?';
                rest.remove_prefix(invalidLength);
                continue;
            }
            rest.remove_prefix(length);
        }
    } catch (...) {
        // Memory ran out: the text converted so far is all there is.
    }
    return out;
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    try {
        out.reserve(gbk.size() + gbk.size() / 2);
        thread_local TConverter decoder("UTF-8", "GB18030");
        std::string_view rest = gbk;
        while (!rest.empty()) {
            if (decoder.IsOpen() && decoder.Convert(rest, out) == 0)
                break;
            const auto first = static_cast<unsigned char>(rest.front());
            if (first < 0x80) {
                out += rest.front(); // only without a converter
                rest.remove_prefix(1);
            } else if (first == 0x80) {
                // Code page 936 has the euro sign here, and GBK encodes U+20AC
                // to it, which GB18030 alone would not decode.
                out += "\xE2\x82\xAC";
                rest.remove_prefix(1);
            } else {
                AppendReplacementCharacter(out);
                rest.remove_prefix(UndecodableLength(rest));
            }
        }
    } catch (...) {
        // Memory ran out: the text decoded so far is all there is.
    }
    return out;
}
