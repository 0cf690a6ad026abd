#include "engine/WhoisWording.h"

#include "engine/Unit_Functions.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

using enum TWordingKind;
using enum TWordingPlace;

// Registries that answer from several hosts, old names and new.
constexpr std::string_view Afnic = "whois.nic.fr whois.nic.re whois.nic.pm whois.nic.tf "
                                   "whois.nic.wf whois.nic.yt";
constexpr std::string_view Zacr =
    "whois.registry.net.za coza-whois.registry.net.za org-whois.registry.net.za "
    "net-whois.registry.net.za web-whois.registry.net.za capetown-whois.registry.net.za "
    "durban-whois.registry.net.za joburg-whois.registry.net.za whois.nic.capetown "
    "whois.nic.durban whois.nic.joburg";
constexpr std::string_view Pir = "whois.pir.org whois.publicinterestregistry.org";
constexpr std::string_view DkHostmaster = "whois.dk-hostmaster.dk whois.punktum.dk";
constexpr std::string_view InternetNz = "whois.srs.net.nz whois.irs.net.nz";
constexpr std::string_view Switch = "whois.nic.ch whois.nic.li";
constexpr std::string_view Freenom = "whois.dot.tk whois.dot.cf";
constexpr std::string_view Swhoisd = "whois.ax whois.nic.bj";

// Each registry's own words, as it writes them for every name.
constexpr auto Registries = std::to_array<TWording>({
    // AFNIC sends "No entries found" after its refusal: the refusal decides.
    {Afnic, Throttled, "%% too many requests"},
    {Afnic, Reserved, "status: not_open"},
    {"whois.aero", Reserved, "name is restricted from registration"},
    {"whois.afilias.net whois.nic.io", Reserved, "reserved by registry", WholeLine},
    {"whois.cctld.by", NotFound, "object does not exist"},
    {"whois.cctld.uz", Reserved, "status: reserved"},
    {"whois.cira.ca", Reserved, "domain status: unavailable"},
    {"whois.cnnic.cn", Reserved, "the domain you requested is in the reserved list"},
    {"whois.co.ca", Reserved, "domain is not available or is reserved by the registry"},
    {"whois.co.ca", NotFound, " is available.", LineEnd},
    {"whois.co.pl", NotFound, "no results were found"},
    {"whois.denic.de", Throttled, "access control limit reached"},
    {"whois.denic.de", Invalid, "non bijective ace-idn convertible domain"},
    {"whois.denic.de", Invalid, "status: invalid"},
    {DkHostmaster, Throttled, "# too many connections"},
    {DkHostmaster, Reserved, "status: reserved"},
    {"whois.dns.be", Throttled, "excessive querying, grace period of"},
    {"whois.dns.be", Throttled, "maximum queries per hour reached"},
    {"whois.dns.be", Throttled, "-3: ip address blocked"},
    {"whois.dns.be", Invalid, "status: not allowed"},
    {"whois.dns.pl", Throttled, "request limit exceeded for"},
    {"whois.dns.pl", NotFound, "no information available about domain name"},
    {"whois.dns.pt", Reserved, "status: reserved"},
    {"whois.domain-registry.nl", Throttled, "only 1 request per second allowed"},
    {"whois.domain-registry.nl", Throttled, "daily whois-limit exceeded"},
    {"whois.domain-registry.nl", Unavailable, "server too busy"},
    {"whois.domain-registry.nl", NotFound, " is free", LineEnd},
    {"whois.eu", Throttled, "still in grace period, wait"},
    {"whois.fi", Reserved, "domain not available", WholeLine},
    {Freenom, NotFound, "invalid query or domain name not known in"},
    {"whois.hkirc.hk", NotFound, "the domain has not been registered"},
    {"whois.iana.org", NotFound, "this query returned 0 objects"},
    {"whois.in.ua", NotFound, "no records found for object"},
    {InternetNz, Throttled, "query_status: 440 request denied"},
    {InternetNz, Invalid, "query_status: 500 invalid characters in query string"},
    {InternetNz, NotFound, "query_status: 220 available"},
    {"whois.isoc.org.il", NotFound, "no data was found to match the request criteria"},
    {"whois.jprs.jp", Reserved, "[state] reserved"},
    {"whois.kenic.or.ke", Invalid, "does not have any records for that zone"},
    {"whois.markmonitor.com", Throttled, "you have exceeded your quota of queries"},
    {"whois.mynic.my", NotFound, "does not exist in database"},
    {"whois.nic.ai", NotFound, "not registred"},
    {"whois.nic.asia", Reserved, "reserved by dotasia"},
    {Switch, Throttled, "requests of this client are not permitted"},
    {"whois.nic.coop", NotFound, "no domain records were found to match"},
    {"whois.nic.cz", Throttled, "your connection limit exceeded"},
    {"whois.nic.es", NotFound, "there is no information available on the domain consulted"},
    {"whois.nic.gd", Reserved, "restricted - restricted domain name"},
    {"whois.nic.name", Reserved, "not available for second level registration"},
    {"whois.nic.pr", Unavailable, "connection attempt failed"},
    {"whois.nic.tm", NotFound, "is available for purchase"},
    {"whois.nic.tr", Invalid, "invalid input", WholeLine},
    {"whois.nic.uk", Throttled, "the whois query quota for"},
    {"whois.nic.uk", Throttled, "has exceeded its quota for forwarded whois queries"},
    {"whois.nic.uk", Invalid, "this domain cannot be registered because it contravenes"},
    {"whois.nic.wed", Reserved, "prohibited string - object cannot be registered"},
    {"whois.nic.xxx", Reserved, "reserved by icm registry"},
    {Pir, Throttled, "whois limit exceeded"},
    {"whois.register.bg", NotFound, "does not exist in database"},
    {"whois.registre.ma", NotFound, "no objects found"},
    // Registro.br still answers past its limit, with less detail.
    {"whois.registro.br", Notice, "query rate limit exceeded. reduced information."},
    {"whois.registry.om", Reserved, "restricted", WholeLine},
    {Swhoisd, NotFound, "no records matching"},
    {"whois.sx", Reserved, "status: premium name"},
    {"whois.udag.net", NotFound, "we could not find the requested domain"},
    {"whois.uniregistry.net", Reserved, "is registry reserved by"},
    {"whois.uniregistry.net", NotFound, "is available for registration"},
    {"whois.verisign-grs.com", Unavailable, "the whois database is currently down"},
    {Zacr, Throttled, "please go away for"},
    {Zacr, NotFound, "available", WholeLine},
    {"kero.yachay.pe", Throttled, "looup quota exceeded"},
    // Each host's own words for a name it does not hold, as its replies in
    // the reply corpora word it (data/whois-wordings.tsv names each reply).
    // The general markers read most of them too; the rows name the host's
    // wording in the verdict and keep it when a general marker changes.
    {"whois.kr", NotFound, "above domain name is not registered to krnic"},
    {"whois.kg", NotFound, "data not found. this domain is available for registration"},
    {"whois.donuts.co whois.enom.com whois.fi whois.nic.la whois.registry.hm whois.sgnic.sg "
     "whois.tld.ee",
     NotFound, "domain not found"},
    {"whois.nic.sl", NotFound, "domain not found, marked private, or error in your query"},
    {"whois.cira.ca whois.gg whois.nic.cd whois.nic.gs whois.nic.mg whois.nic.net.ng "
     "whois.nic.net.sb whois.pnina.ps whois.tld.sy",
     NotFound, "domain status: available"},
    {"whois.cmc.iq whois.na-nic.com.na whois.nic.af whois.nic.cx whois.nic.gl whois.nic.gs "
     "whois.nic.hn whois.nic.ht whois.nic.ki whois.nic.ms whois.nic.mu whois.nic.nf whois.nic.tc "
     "whois.nic.tl whois.registry.gy whois1.nic.bi",
     NotFound, "domain status: no object found"},
    {"whois.dns.hr", NotFound, "error: no entries found"},
    {"whois.nic.cz whois.nic.fo whois.nic.ir whois.tznic.or.tz", NotFound,
     "error:101: no entries found"},
    {"whois.rnids.rs", NotFound, "error:103: domain is not registered"},
    {"whois.nic.pr", NotFound, "is not registered"},
    {"whois.1und1.info whois.schlund.info whois.wildwestdomains.com", NotFound,
     "is not registered here"},
    {"whois.eu.org", NotFound, "key not found"},
    {"whois.audns.net.au whois.biz", NotFound, "no data found"},
    {"whois.nic.sm", NotFound, "no entries found"},
    {"whois.ua", NotFound, "no entries found for"},
    {"whois.nic.st", NotFound, "no entries found for domain"},
    {"whois.isnic.is", NotFound, "no entries found for query"},
    {"whois.dk-hostmaster.dk", NotFound, "no entries found for the selected source"},
    {"whois.co.ug whois.nic.priv.at whois.register.si whois.rotld.ro whois.tcinet.ru", NotFound,
     "no entries found for the selected source(s)"},
    {"whois.nc", NotFound, "no entries found in the .nc database"},
    {"whois.nic.fr whois.nic.pm whois.nic.re whois.nic.wf", NotFound,
     "no entries found in the afnic database"},
    {"whois.nic.cl", NotFound, "no existe"},
    {"whois.twnic.net.tw", NotFound, "no found"},
    {"whois.amnic.net whois.dns.pt whois.educause.edu whois.jprs.jp whois.nic.hu whois.norid.no",
     NotFound, "no match"},
    {"ccwhois.verisign-grs.com tvwhois.verisign-grs.com whois.corporatedomains.com "
     "whois.dotgov.gov whois.monic.mo whois.networksolutions.com whois.nic.jobs whois.nic.md "
     "whois.nic.net.sa whois.nic.org.uy whois.nic.uk whois.nic.ve whois.registro.br "
     "whois.rrpproxy.net whois.thnic.co.th whois.tonic.to whois.tucows.com whois.verisign-grs.com "
     "whois.website.ws whois.yoursrs.com",
     NotFound, "no match for"},
    {"whois.nic.name whois.registro.br", NotFound, "no match for domain"},
    {"whois.gov.za whois.nic.tr", NotFound, "no match found for"},
    {"whois.pairnic.com", NotFound, "no matching domain name found"},
    {"whois.cnnic.cn", NotFound, "no matching record"},
    {"whois.nic.dz", NotFound, "no object found"},
    {"whois.dns.lu whois.ja.net whois.za.net whois.za.org", NotFound, "no such domain"},
    {"whois.nic.mx", NotFound, "no_se_encontro_el_objeto/object_not_found"},
    {"ccwhois.ksregistry.net whois.afilias-grs.info whois.afilias.net whois.ati.tn whois.cat "
     "whois.eenet.ee whois.iis.nu whois.iis.se whois.museum whois.nic.ac whois.nic.as "
     "whois.nic.asia whois.nic.ci "
     "whois.nic.co whois.nic.io whois.nic.ly whois.nic.me whois.nic.sh whois.nic.sn whois.nic.so "
     "whois.nic.tel "
     "whois.nic.travel whois.nic.us whois.pir.org whois.sk-nic.sk",
     NotFound, "not found"},
    {"whois.cctld.uz", NotFound, "not found in database"},
    {"whois.domainregistry.ie", NotFound, "not registered - the domain you have requested"},
    {"whois.nic.at", NotFound, "nothing found"},
    {"whois.nic.kz", NotFound, "nothing found for this query"},
    {"whois.ascio.com whois.smallregistry.net", NotFound, "object not found"},
    {"whois.dns.be whois.domreg.lt whois.eu whois.nic.it whois.sx", NotFound, "status: available"},
    {"whois.denic.de whois.nic.lv", NotFound, "status: free"},
    {"kero.yachay.pe whois.je whois.kenic.or.ke whois.netcom.cm whois.nic.ec", NotFound,
     "status: not registered"},
    {"whois.nic.berlin", NotFound, "the queried object does not exist", WholeLine},
    {"whois.nic.fm whois.nic.london", NotFound,
     "the queried object does not exist: domain not found"},
    {"whois.nic.lk", NotFound, "this domain is not available in our whois database"},
    {"whois.nic.im whois.usp.ac.fj", NotFound, "was not found"},
    {"whois.nic.ch whois.nic.li", NotFound,
     "we do not have an entry in our database matching your query"},
    // Each host's own words for a name it holds, where its record shows no
    // fact of its own (data/whois-wordings.tsv).
    {"whois.afilias.net", Registered, "name is reserved by afilias"},
    {"whois.cnnic.cn", Registered, "the domain you requested is prohibited"},
    {"whois.tonic.to", Registered, "tonic whoisd", LineStart},
});

// Refusals and outages many servers word alike, read for every host after its
// own rows. The not-found markers of IsDomainAvailable are the general
// not-found list.
constexpr auto General = std::to_array<TWording>({
    {"", Throttled, "limit exceeded"},
    {"", Throttled, "quota exceeded"},
    {"", Throttled, "exceeded your quota"},
    {"", Throttled, "exceeded the maximum allowable"},
    {"", Throttled, "exceeded your query limit"},
    {"", Throttled, "you have exceeded this limit"},
    {"", Throttled, "you have exceeded your allotted number of"},
    {"", Throttled, "restricted due to excessive queries"},
    {"", Throttled, "due to query limit controls"},
    {"", Throttled, "maximum daily connection limit reached"},
    {"", Throttled, "maximum query rate reached"},
    {"", Throttled, "number of allowed queries exceeded"},
    {"", Throttled, "queried interval is too short"},
    {"", Throttled, "your access is too fast"},
    {"", Throttled, "too many requests"},
    {"", Throttled, "maximum number of requests per second exceeded"},
    {"", Throttled, "requests per client per time interval is restricted"},
    // Nominet's wording, which other servers (and our fake one) copy.
    {"", Throttled, "will be replenished in"},
    {"", Throttled, "exceeded its quota"},
    {"", Throttled, "try again later"},
    {"", Throttled, "please try again"},
    {"", Unavailable, "server too busy"},
    {"", Unavailable, "temporarily unavailable"},
    {"", Unavailable, "can temporarily not be answered"},
    {"", Unsupported, "tld is not supported"},
    // A name the registry blocks (a brand, a reserved word): not free.
    {"", Reserved, "registration of this domain is restricted"},
});

// Where a refusal names its wait; a number and its unit follow the phrase.
constexpr auto WaitLeadIns = std::to_array<std::string_view>({
    "replenished in",
    "grace period of",
    "wait",
    "try again in",
    "go away for",
    "try again after:",
});

struct TWaitUnit {
    std::string_view Word;
    std::uint64_t Seconds;
};

// Longer words first, so "seconds" is not read as "s" followed by "econds".
constexpr auto WaitUnits = std::to_array<TWaitUnit>({
    {"seconds", 1},
    {"second", 1},
    {"secs", 1},
    {"sec", 1},
    {"s", 1},
    {"minutes", 60},
    {"minute", 60},
    {"mins", 60},
    {"min", 60},
    {"m", 60},
    {"hours", 3600},
    {"hour", 3600},
    {"h", 3600},
});

// Sums beyond this stop growing: far above the longest wait taken, far below
// the range of the type, so no count of digits can overflow.
constexpr std::uint64_t SaturatedSeconds = 1'000'000'000'000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Contains(std::string_view text, std::string_view part) {
    return !part.empty() && text.find(part) != std::string_view::npos;
}

bool ListsHost(std::string_view hosts, std::string_view host) {
    while (!hosts.empty()) {
        const std::size_t blank = hosts.find(' ');
        if (hosts.substr(0, blank) == host)
            return true;
        hosts = blank == std::string_view::npos ? std::string_view() : hosts.substr(blank + 1);
    }
    return false;
}

template <class TLineTest> bool AnyLine(std::string_view text, TLineTest&& test) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        if (test(TrimText(text.substr(0, lf))))
            return true;
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    }
    return false;
}

const TWording* FindIn(std::span<const TWording> rows, std::string_view text, std::string_view host,
                       TWordingKind kind) {
    for (const TWording& row : rows) {
        if (row.Kind == kind && (host.empty() || ListsHost(row.Hosts, host)) &&
            WordingFound(row, text))
            return &row;
    }
    return nullptr;
}

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
    while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ')
        ++at;
    return at;
}

// A unit word at `at` that ends there (no letter after it), or nullptr.
const TWaitUnit* UnitAt(std::string_view text, std::size_t at) {
    for (const TWaitUnit& unit : WaitUnits) {
        const std::size_t end = at + unit.Word.size();
        if (text.substr(at, unit.Word.size()) == unit.Word &&
            (end == text.size() || !IsLetter(text[end])))
            return &unit;
    }
    return nullptr;
}

// The duration written at `at`: one or more terms of a number and its unit
// ("50 seconds", "1 minute", "24h0m0s"); none when the first term is not one.
std::optional<std::uint64_t> DurationAt(std::string_view text, std::size_t at) {
    std::optional<std::uint64_t> total;
    for (at = SkipBlanks(text, at); at < text.size() && IsDigit(text[at]);) {
        std::uint64_t number = 0;
        for (; at < text.size() && IsDigit(text[at]); ++at)
            number = std::min(number * 10 + static_cast<std::uint64_t>(text[at] - '0'),
                              SaturatedSeconds);
        at = SkipBlanks(text, at);
        const TWaitUnit* unit = UnitAt(text, at);
        if (unit == nullptr)
            break;
        at += unit->Word.size();
        total = std::min(total.value_or(0) + number * unit->Seconds, SaturatedSeconds);
        at = SkipBlanks(text, at);
    }
    return total;
}

} // namespace

std::span<const TWording> RegistryWordings() {
    return Registries;
}

std::span<const TWording> GeneralWordings() {
    return General;
}

std::string WordingText(std::string_view reply) {
    std::string text;
    text.reserve(reply.size());
    for (const char c : LowerAscii(reply)) {
        if (IsBlank(c)) {
            if (!text.empty() && text.back() == ' ')
                continue;
            text += ' ';
        } else {
            text += c;
        }
    }
    return text;
}

std::string WordingHost(std::string_view server) {
    std::string_view host = server.substr(0, server.find(':'));
    while (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return LowerAscii(host);
}

bool WordingFound(const TWording& wording, std::string_view text) {
    switch (wording.Place) {
    case WholeLine:
        return AnyLine(text, [&](std::string_view line) { return line == wording.Text; });
    case LineEnd:
        return AnyLine(text, [&](std::string_view line) { return line.ends_with(wording.Text); });
    case LineStart:
        return AnyLine(text, [&](std::string_view line) { return line.starts_with(wording.Text); });
    case Anywhere:
        break;
    }
    return Contains(text, wording.Text);
}

const TWording* FindRegistryWording(std::string_view text, std::string_view host,
                                    TWordingKind kind) {
    return host.empty() ? nullptr : FindIn(Registries, text, host, kind);
}

const TWording* FindGeneralWording(std::string_view text, TWordingKind kind) {
    return FindIn(General, text, "", kind);
}

std::string WithoutNotices(std::string text, std::string_view host) {
    for (const TWording& row : Registries) {
        if (row.Kind == Notice && ListsHost(row.Hosts, host))
            text = ReplaceAllText(text, row.Text, "");
    }
    return text;
}

std::optional<std::chrono::seconds> ReadAskedWait(std::string_view text) {
    for (const std::string_view leadIn : WaitLeadIns) {
        for (std::size_t at = text.find(leadIn); at != std::string_view::npos;
             at = text.find(leadIn, at + 1)) {
            if (const std::optional<std::uint64_t> seconds = DurationAt(text, at + leadIn.size())) {
                const auto longest = static_cast<std::uint64_t>(LongestAskedWait.count());
                // A wait of nothing still came with a refusal: a second at least.
                return std::chrono::seconds(std::clamp<std::uint64_t>(*seconds, 1, longest));
            }
        }
    }
    return std::nullopt;
}
