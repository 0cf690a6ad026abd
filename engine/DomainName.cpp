#include "engine/DomainName.h"

#include "engine/GbkCodec.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"

#include <idn2.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t MaxLabelBytes = 63;
constexpr std::size_t MaxNameBytes = 253;
// Input this long is no name, whatever the conversion makes of it (the most
// it shrinks is a full-width letter: two GBK bytes become one), so it is
// refused before the conversion spends time on it.
constexpr std::size_t MaxInputBytes = 4 * MaxNameBytes;

// The conversion of a query: UTS #46 non-transitional processing maps case
// and width (so "MÜNCHEN" and "Ｅｘａｍｐｌｅ" are asked as registries store them),
// then IDNA2008 validates. The STD3 flag is left off on purpose: libidn2
// drops, not refuses, the characters it bars ("my_shop" would be asked as
// "myshop"); our own label rule refuses them after the conversion.
constexpr int Idn2QueryFlags = IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL;

struct TFreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using TIdn2Text = std::unique_ptr<char, TFreeDeleter>;

bool IsAsciiLetterOrDigit(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool HasNonAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return true;
    return false;
}

bool StartsWithXn(std::string_view label) {
    return label.size() >= 4 && (label[0] == 'x' || label[0] == 'X') &&
           (label[1] == 'n' || label[1] == 'N') && label[2] == '-' && label[3] == '-';
}

// An A-label is kept only when it decodes and encodes back to itself, so the
// registry is never asked a name no one can type.
bool IsValidALabel(const std::string& label) {
    char* unicode = nullptr;
    if (idn2_to_unicode_8z8z(label.c_str(), &unicode, 0) != IDN2_OK)
        return false;
    TIdn2Text decoded(unicode);
    char* ascii = nullptr;
    if (idn2_to_ascii_8z(decoded.get(), &ascii, Idn2QueryFlags) != IDN2_OK)
        return false;
    TIdn2Text encoded(ascii);
    return LowerAscii(label) == encoded.get();
}

TCheckedName Refused(TNameProblem problem, std::string reason) {
    TCheckedName checked;
    checked.Problem = problem;
    checked.Reason = std::move(reason);
    return checked;
}

// The rules on the ASCII form: two labels, lengths, label rules, A-labels.
TCheckedName CheckAsciiName(const std::string& ascii) {
    if (ascii.size() > MaxNameBytes)
        return Refused(TNameProblem::Malformed, "the name is longer than 253 bytes");
    const std::vector<std::string_view> labels = SplitText(ascii, '.');
    if (labels.size() != 2)
        return Refused(TNameProblem::Malformed,
                       "a name is one label and a suffix, such as example.com (names below a "
                       "second-level suffix, such as example.co.uk, are not supported)");
    for (std::string_view label : labels) {
        if (std::string why = LabelProblem(label); !why.empty())
            return Refused(TNameProblem::Malformed, std::move(why));
        if (StartsWithXn(label) && !IsValidALabel(std::string(label)))
            return Refused(TNameProblem::NotConvertible,
                           "label '" + std::string(label) + "' is not a valid A-label");
    }
    TCheckedName checked;
    checked.Problem = TNameProblem::None;
    checked.QueryName = ascii;
    checked.Suffix = std::string(labels.back());
    return checked;
}

// The lower-case ASCII form of a GBK name; libidn2 converts the names that
// hold non-ASCII characters.
TNameProblem ConvertToAscii(std::string_view gbkName, std::string& ascii, std::string& reason) {
    ascii.clear();
    if (gbkName.size() > MaxInputBytes) {
        reason = "the name is longer than 253 bytes";
        return TNameProblem::Malformed;
    }
    for (unsigned char c : gbkName) {
        if (c <= 0x20 || c == 0x7F) {
            reason = DescribeByte(c) + " is not part of a name";
            return TNameProblem::Malformed;
        }
    }
    if (!HasNonAscii(gbkName)) {
        ascii = LowerAscii(gbkName);
        return TNameProblem::None;
    }
    // libidn2 takes UTF-8; bytes that are no GBK character become U+FFFD,
    // which IDNA2008 refuses.
    const std::string utf8 = GbkToUtf8(gbkName);
    char* output = nullptr;
    const int rc = idn2_to_ascii_8z(utf8.c_str(), &output, Idn2QueryFlags);
    const TIdn2Text converted(output);
    if (rc != IDN2_OK) {
        reason = std::string("not a name IDNA2008 allows: ") + idn2_strerror(rc);
        return TNameProblem::NotConvertible;
    }
    ascii = LowerAscii(converted.get());
    return TNameProblem::None;
}

} // namespace

std::string DescribeByte(unsigned char c) {
    char text[40];
    if (c > 0x20 && c < 0x7F)
        std::snprintf(text, sizeof text, "character '%c'", c);
    else
        std::snprintf(text, sizeof text, "byte 0x%02X", c);
    return text;
}

std::string LabelProblem(std::string_view label) {
    const auto shown = [label] {
        return "label '" + std::string(label.substr(0, MaxLabelBytes)) + "'";
    };
    if (label.empty())
        return "empty label (two dots, or a dot first or last)";
    if (label.size() > MaxLabelBytes)
        return shown() + "... is longer than 63 bytes";
    for (unsigned char c : label)
        if (!IsAsciiLetterOrDigit(c) && c != '-')
            return shown() + ": " + DescribeByte(c) + " is not a letter, digit or hyphen";
    if (label.front() == '-' || label.back() == '-')
        return shown() + " begins or ends with a hyphen";
    if (label.size() >= 4 && label[2] == '-' && label[3] == '-' && !StartsWithXn(label))
        return shown() + " has \"--\" in the third and fourth place, which only xn-- labels may";
    return "";
}

bool IsHostName(std::string_view text) {
    if (text.empty() || text.size() > MaxNameBytes)
        return false;
    const std::vector<std::string_view> labels = SplitText(text, '.');
    if (labels.size() < 2)
        return false;
    for (std::string_view label : labels)
        if (!LabelProblem(label).empty())
            return false;
    for (unsigned char c : labels.back())
        if (c < '0' || c > '9')
            return true;
    return false;
}

bool ToAsciiName(std::string_view gbkName, std::string& ascii, std::string& reason) {
    return ConvertToAscii(gbkName, ascii, reason) == TNameProblem::None;
}

TCheckedName CheckDomainName(std::string_view gbkName, const TRegistryData& data) {
    if (gbkName.empty())
        return Refused(TNameProblem::Malformed, "empty name");
    std::string ascii, reason;
    if (const TNameProblem problem = ConvertToAscii(gbkName, ascii, reason);
        problem != TNameProblem::None)
        return Refused(problem, std::move(reason));
    TCheckedName checked = CheckAsciiName(ascii);
    if (checked.IsValid() && data.Find(checked.Suffix) == nullptr) {
        checked.Problem = TNameProblem::UnknownSuffix;
        checked.Reason = "unknown suffix ." + checked.Suffix;
    }
    return checked;
}
