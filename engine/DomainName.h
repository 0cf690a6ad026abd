#pragma once

// The names the program queries: one label before a suffix that is a TLD of
// the registry data, labels of letters, digits and hyphens as registries
// accept them, internationalised names converted to their A-label form
// (IDNA2008 through libidn2). No Qt here; safe on any thread.

#include <string>
#include <string_view>

class TRegistryData;

enum class TNameProblem {
    None,           // a name to query
    Malformed,      // breaks the label rules (characters, hyphens, lengths, label count)
    NotConvertible, // an internationalised name libidn2 refuses
    UnknownSuffix,  // well-formed, but its suffix is no TLD of the data
};

struct TCheckedName {
    TNameProblem Problem = TNameProblem::Malformed;
    std::string QueryName; // what is sent: lower-case ASCII, A-labels ("xn--fiq228c.com")
    std::string Suffix;    // the last label of QueryName ("com", "xn--fiqs8s"), when known
    std::string Reason;    // why the name is refused, for people; "" when valid
    bool IsValid() const { return Problem == TNameProblem::None; }
};

// Checks a name as the user gave it (GBK bytes, not trimmed) and gives the
// name to query. The name shown to people stays the one given.
TCheckedName CheckDomainName(std::string_view gbkName, const TRegistryData& data);

// The lower-case ASCII form of a GBK name, its non-ASCII labels converted to
// A-labels; false with the reason when libidn2 refuses it. Labels are not
// checked beyond what the conversion needs.
bool ToAsciiName(std::string_view gbkName, std::string& ascii, std::string& reason);

// "character 'x'" for a printable ASCII byte, else "byte 0xNN": for reasons
// that name the byte a text may not hold.
std::string DescribeByte(unsigned char c);

// "" when label (ASCII, any case) is 1 to 63 letters, digits and hyphens, with
// no hyphen first or last and "--" in the third and fourth place only in an
// "xn--" label; else why not.
std::string LabelProblem(std::string_view label);

// Dot-separated labels that pass LabelProblem, 253 bytes at most, at least
// two labels, the last not all digits (so no IPv4 address passes).
bool IsHostName(std::string_view text);
