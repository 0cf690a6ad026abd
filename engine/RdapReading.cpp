#include "engine/RdapReading.h"

#include "engine/GbkCodec.h"
#include "engine/RdapUrl.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace {

using nlohmann::json;

// RDAP answers nest a handful of levels; a body deeper than this is refused
// before it is parsed, so nothing below (parser, reader, printer) recurses
// without end.
constexpr int KMaxJsonDepth = 64;
// Entities hold entities (a registrar's abuse contact); the registrant is
// looked for this many levels down.
constexpr int KMaxEntityDepth = 4;
constexpr std::size_t KMaxEmailBytes = 120;
constexpr std::chrono::seconds KMaxWait{24 * 60 * 60};
constexpr std::size_t KMaxRetryDigits = 10;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view WithoutFinalDot(std::string_view name) {
    return !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
}

TVerdict Unknown(TVerdictReason reason, std::string detail) {
    return TVerdict{TVerdictKind::Unknown, reason, std::nullopt, std::move(detail)};
}

// How deep arrays and objects nest, strings skipped; stops counting once
// past the limit.
int NestingDepth(std::string_view body) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < body.size() && deepest <= KMaxJsonDepth; ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// The body as JSON, or a discarded value when it is none (or too deep).
json ParseBody(std::string_view body) {
    if (NestingDepth(body) > KMaxJsonDepth) {
        return json(json::value_t::discarded);
    }
    return json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
}

// The member as a string, or "" when it is missing or no string.
std::string_view StringMember(const json& object, const char* key) {
    if (!object.is_object()) {
        return {};
    }
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return {};
    }
    return it->get_ref<const json::string_t&>();
}

const json* ArrayMember(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto it = object.find(key);
    return it != object.end() && it->is_array() ? &*it : nullptr;
}

bool IsDomainFor(const json& object, std::string_view name) {
    if (!EqualsNoCase(StringMember(object, "objectClassName"), "domain")) {
        return false;
    }
    const std::string_view asked = WithoutFinalDot(name);
    return EqualsNoCase(WithoutFinalDot(StringMember(object, "ldhName")), asked) ||
           EqualsNoCase(WithoutFinalDot(StringMember(object, "unicodeName")), asked);
}

std::string EventDate(const json& domain, std::string_view action) {
    if (const json* events = ArrayMember(domain, "events")) {
        for (const json& event : *events) {
            if (EqualsNoCase(StringMember(event, "eventAction"), action)) {
                return FormatRdapDate(StringMember(event, "eventDate"));
            }
        }
    }
    return {};
}

bool HasRole(const json& entity, std::string_view role) {
    if (const json* roles = ArrayMember(entity, "roles")) {
        for (const json& r : *roles) {
            if (r.is_string() && EqualsNoCase(r.get_ref<const json::string_t&>(), role)) {
                return true;
            }
        }
    }
    return false;
}

// The first registrant entity, nearest the top first.
const json* FindRegistrant(const json& holder, int depth) {
    const json* entities = ArrayMember(holder, "entities");
    if (entities == nullptr || depth > KMaxEntityDepth) {
        return nullptr;
    }
    for (const json& entity : *entities) {
        if (HasRole(entity, "registrant")) {
            return &entity;
        }
    }
    for (const json& entity : *entities) {
        if (const json* found = FindRegistrant(entity, depth + 1)) {
            return found;
        }
    }
    return nullptr;
}

// The "email" property of a jCard (RFC 7095): ["vcard", [[name, params, type, value], ...]].
std::string_view VcardEmail(const json& entity) {
    const json* card = ArrayMember(entity, "vcardArray");
    if (card == nullptr || card->size() < 2 || !(*card)[1].is_array()) {
        return {};
    }
    for (const json& property : (*card)[1]) {
        if (property.is_array() && property.size() >= 4 && property[0].is_string() &&
            EqualsNoCase(property[0].get_ref<const json::string_t&>(), "email") &&
            property[3].is_string()) {
            return property[3].get_ref<const json::string_t&>();
        }
    }
    return {};
}

// Whether the answer's redaction list (RFC 9537) names the registrant's e-mail.
bool RedactsRegistrantEmail(const json& domain) {
    if (const json* redacted = ArrayMember(domain, "redacted")) {
        for (const json& entry : *redacted) {
            if (!entry.is_object()) {
                continue;
            }
            const auto name = entry.find("name");
            if (name != entry.end() &&
                (EqualsNoCase(StringMember(*name, "type"), "Registrant Email") ||
                 EqualsNoCase(StringMember(*name, "description"), "Registrant Email"))) {
                return true;
            }
        }
    }
    return false;
}

// An address a person could write to: an '@', no blank, no redaction
// placeholder ("REDACTED FOR PRIVACY", "redacted@example.invalid").
bool IsUsableEmail(std::string_view email) {
    return email.find('@') != std::string_view::npos &&
           email.find_first_of(" \t\r\n") == std::string_view::npos &&
           Lower(email).find("redact") == std::string::npos && email.size() <= KMaxEmailBytes;
}

std::string RegistrantEmail(const json& domain) {
    const json* registrant = FindRegistrant(domain, 0);
    if (registrant == nullptr || RedactsRegistrantEmail(domain)) {
        return {};
    }
    std::string_view email = VcardEmail(*registrant);
    if (StartsWithNoCase(email, "mailto:")) {
        email.remove_prefix(7);
    }
    return IsUsableEmail(email) ? Utf8ToGbk(email) : std::string();
}

TRdapReading ReadDomainObject(const TRdapAnswer& answer, std::string_view name) {
    TRdapReading reading;
    const json body = ParseBody(answer.Body);
    if (body.is_discarded() || !body.is_object()) {
        reading.Verdict =
            Unknown(TVerdictReason::Failed, "answer from " + answer.Host + " is not RDAP JSON");
        return reading;
    }
    if (!EqualsNoCase(StringMember(body, "objectClassName"), "domain")) {
        reading.Verdict = Unknown(TVerdictReason::Failed,
                                  "answer from " + answer.Host + " is not a domain object");
        return reading;
    }
    if (!IsDomainFor(body, name)) {
        reading.Verdict =
            Unknown(TVerdictReason::Failed, "answer from " + answer.Host + " is for " +
                                                std::string(StringMember(body, "ldhName")) +
                                                ", not " + std::string(name));
        return reading;
    }
    reading.Verdict =
        TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt, ""};
    reading.RegTime = EventDate(body, "registration");
    reading.ExpTime = EventDate(body, "expiration");
    reading.Email = RegistrantEmail(body);
    return reading;
}

// The clock counts nanoseconds in 64 bits: some 292 years either side of
// 1970. A date a server writes may lie far outside that.
bool ClockCanHold(time_t when) {
    constexpr auto limit =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::duration::max())
            .count() -
        1;
    return when >= -limit && when <= limit;
}

TVerdict ThrottledVerdict(const TRdapAnswer& answer) {
    // The server's own clock, when it sent one the clock can hold, is what its
    // HTTP-date counts from.
    auto now = answer.ReceivedAt;
    const time_t serverNow = answer.Date.empty() ? -1 : curl_getdate(answer.Date.c_str(), nullptr);
    if (serverNow != -1 && ClockCanHold(serverNow)) {
        now = std::chrono::system_clock::from_time_t(serverNow);
    }
    TVerdict verdict = Unknown(TVerdictReason::Throttled, "HTTP 429 from " + answer.Host);
    verdict.Wait = ReadRetryAfter(answer.RetryAfter, now);
    if (verdict.Wait) {
        verdict.Detail += ", wait " + std::to_string(verdict.Wait->count()) + " s";
    }
    return verdict;
}

TVerdict VerdictOfStatus(const TRdapAnswer& answer) {
    const std::string status = "HTTP " + std::to_string(answer.Status) + " from " + answer.Host;
    if (answer.Status == 404) {
        if (IsUrlUnderBase(answer.Url, answer.Base)) {
            return TVerdict{TVerdictKind::Free, TVerdictReason::None, std::nullopt, ""};
        }
        return Unknown(TVerdictReason::Failed,
                       status + ", not the suffix's RDAP service: it proves nothing");
    }
    if (answer.Status == 429) {
        return ThrottledVerdict(answer);
    }
    if (answer.Status >= 500 && answer.Status <= 599) {
        return Unknown(TVerdictReason::Unavailable, status);
    }
    return Unknown(TVerdictReason::Failed, status);
}

TVerdict VerdictOfFailure(const TRdapAnswer& answer, const TRdapBounds& bounds) {
    const bool started = answer.Status != 0 || !answer.Body.empty();
    bool cut = false;
    switch (answer.End) {
    case TRdapEnd::SizeBound:
        cut = true;
        break;
    case TRdapEnd::WholeBound:
    case TRdapEnd::Cut:
        cut = started;
        break;
    default:
        break;
    }
    return Unknown(cut ? TVerdictReason::Cut : TVerdictReason::Failed,
                   DescribeRdapEnd(answer, bounds));
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Reads exactly n digits at text[at...] into value.
bool ReadDigits(std::string_view text, std::size_t at, std::size_t n, int& value) {
    if (at + n > text.size() || !IsDigits(text.substr(at, n))) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = value * 10 + (text[at + i] - '0');
    }
    return true;
}

// "Z", "+HH:MM", "+HHMM", "+HH" or nothing (UTC) at text[at...], as minutes east.
bool ReadOffset(std::string_view text, std::size_t at, int& minutes) {
    minutes = 0;
    const std::string_view rest = text.substr(std::min(at, text.size()));
    if (rest.empty() || rest == "Z" || rest == "z") {
        return true;
    }
    if (rest[0] != '+' && rest[0] != '-') {
        return false;
    }
    int hours = 0;
    int mins = 0;
    const bool ok =
        (rest.size() == 3 && ReadDigits(rest, 1, 2, hours)) ||
        (rest.size() == 5 && ReadDigits(rest, 1, 2, hours) && ReadDigits(rest, 3, 2, mins)) ||
        (rest.size() == 6 && rest[3] == ':' && ReadDigits(rest, 1, 2, hours) &&
         ReadDigits(rest, 4, 2, mins));
    if (!ok || hours > 23 || mins > 59) {
        return false;
    }
    minutes = (rest[0] == '-' ? -1 : 1) * (hours * 60 + mins);
    return true;
}

} // namespace

std::string FormatRdapDate(std::string_view text) {
    using namespace std::chrono;
    int y = 0, mo = 0, d = 0;
    if (!ReadDigits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !ReadDigits(text, 5, 2, mo) || !ReadDigits(text, 8, 2, d)) {
        return {};
    }
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok()) {
        return {};
    }
    char out[32];
    if (text.size() == 10) {
        std::snprintf(out, sizeof out, "%04d-%02d-%02d", y, mo, d);
        return out;
    }
    int h = 0, mi = 0, s = 0;
    if ((text[10] != 'T' && text[10] != 't' && text[10] != ' ') || !ReadDigits(text, 11, 2, h) ||
        text.size() < 19 || text[13] != ':' || !ReadDigits(text, 14, 2, mi) || text[16] != ':' ||
        !ReadDigits(text, 17, 2, s) || h > 23 || mi > 59 || s > 60) {
        return {};
    }
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        const std::size_t digits = text.find_first_not_of("0123456789", at + 1);
        at = digits == std::string_view::npos ? text.size() : digits;
        if (at == 20) {
            return {};
        }
    }
    int offset = 0;
    if (!ReadOffset(text, at, offset)) {
        return {};
    }
    // A leap second is shown as the last ordinary second of its minute.
    const auto utc =
        sys_days{date} + hours{h} + minutes{mi} + seconds{std::min(s, 59)} - minutes{offset};
    const auto dayStart = floor<days>(utc);
    const year_month_day utcDate{dayStart};
    const hh_mm_ss clock{utc - dayStart};
    std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02d %02d %02dZ",
                  static_cast<int>(utcDate.year()), static_cast<unsigned>(utcDate.month()),
                  static_cast<unsigned>(utcDate.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return out;
}

std::optional<std::chrono::seconds> ReadRetryAfter(std::string_view value,
                                                   std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const std::string text(value.substr(0, std::min<std::size_t>(value.size(), 64)));
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (IsDigits(trimmed)) {
        if (trimmed.size() > KMaxRetryDigits) {
            return KMaxWait;
        }
        return std::min(seconds{std::stoll(trimmed)}, KMaxWait);
    }
    const time_t when = curl_getdate(trimmed.c_str(), nullptr);
    if (when == -1) {
        return std::nullopt;
    }
    // Counted in whole seconds of time_t, which holds any date curl reads
    // (the clock does not: a year like 27510 overflows it).
    const time_t from = system_clock::to_time_t(now);
    if (when <= from) {
        return seconds{0};
    }
    if (when > from + KMaxWait.count()) {
        return KMaxWait;
    }
    return seconds{when - from};
}

TRdapReading ReadRdapAnswer(const TRdapAnswer& answer, std::string_view name,
                            const TRdapBounds& bounds) {
    try {
        if (answer.End != TRdapEnd::Answered) {
            return TRdapReading{VerdictOfFailure(answer, bounds), {}, {}, {}};
        }
        if (answer.Status == 200) {
            return ReadDomainObject(answer, name);
        }
        return TRdapReading{VerdictOfStatus(answer), {}, {}, {}};
    } catch (...) {
        // Only memory can run out here; the answer then counts as unread.
        return TRdapReading{
            Unknown(TVerdictReason::Failed, "answer could not be read"), {}, {}, {}};
    }
}

std::string IndentRdapJson(std::string_view body) {
    try {
        const json parsed = ParseBody(body);
        if (parsed.is_discarded()) {
            return {};
        }
        return parsed.dump(2, ' ', false, json::error_handler_t::replace);
    } catch (...) {
        return {};
    }
}
