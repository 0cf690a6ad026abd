#pragma once

// How registries word what a reply means: refusals for too many queries,
// outages, refused names, reserved names and "no such name", each in the form
// the registry uses for every name. The tables are data: one row per wording,
// keyed by the host that answers, plus general lists for hosts without rows.
// Texts are compared with the reply lower-cased (ASCII only, so GBK bytes stay
// as they are) and every run of blanks and tabs taken as one blank. No Qt here.

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class TWordingKind {
    Throttled,   // too many queries: ask again later, and slower
    Unavailable, // the server cannot answer now
    Unsupported, // the server does not serve the name's suffix
    Invalid,     // the registry refused the query name itself
    Reserved,    // the name is held back by the registry, not registrable
    NotFound,    // the registry holds no such name
    Registered,  // the registry's own words for a name it holds
    Notice,      // a limit noted beside a full answer: no refusal, read past it
};

enum class TWordingPlace {
    Anywhere,  // the text anywhere in the reply
    WholeLine, // a line that is the text and nothing else (blanks around it aside)
    LineEnd,   // a line that ends with the text
    LineStart, // a line that begins with the text
};

struct TWording {
    // The hosts that answer in this wording, separated by blanks; empty in the
    // general lists.
    std::string_view Hosts;
    TWordingKind Kind;
    // Lower-case, single blanks, no tabs.
    std::string_view Text;
    TWordingPlace Place = TWordingPlace::Anywhere;
};

// The rows of the registries, and the general lists read for every host.
std::span<const TWording> RegistryWordings();
std::span<const TWording> GeneralWordings();

// The reply as the tables are read against it: ASCII lower-cased, each run of
// blanks and tabs one blank, line ends kept.
std::string WordingText(std::string_view reply);
// The host as the tables key it: lower-case, without ":port" or a final dot.
std::string WordingHost(std::string_view server);

// Whether the row's text stands in text (a WordingText) at the row's place.
bool WordingFound(const TWording& wording, std::string_view text);
// The first row of that kind, of the host's rows or of the general lists,
// found in text; nullptr when none is.
const TWording* FindRegistryWording(std::string_view text, std::string_view host,
                                    TWordingKind kind);
const TWording* FindGeneralWording(std::string_view text, TWordingKind kind);
// text without the host's notices, so that a limit it merely mentions is not
// read as a refusal by the general lists.
std::string WithoutNotices(std::string text, std::string_view host);

// The longest wait taken from a server's text; longer asks are cut to it.
inline constexpr std::chrono::seconds LongestAskedWait = std::chrono::hours(24);
// The wait a refusal asks for, read from text (a WordingText): "replenished in
// 50 seconds", "grace period of 2 seconds", "wait 10 seconds", "try again in 1
// minute", "go away for 13 seconds", "try again after: 24h0m0s". Between one
// second and LongestAskedWait; none when no such phrase carries a number.
std::optional<std::chrono::seconds> ReadAskedWait(std::string_view text);
