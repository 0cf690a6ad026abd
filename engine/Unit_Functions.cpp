#include "engine/Unit_Functions.h"

#include "engine/GbkCodec.h"
#include "engine/Unit_FunctionsTesting.h"
#include "engine/WhoisExchange.h"

#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <random>

namespace {

// --- Text helpers -------------------------------------------------------------

// Only A-Z change: bytes of 128 and above belong to GBK characters and must
// stay as they are.
std::string Trim(std::string_view text) {
    return std::string(TrimText(text));
}

bool Contains(std::string_view text, std::string_view marker) {
    return text.find(marker) != std::string_view::npos;
}

std::string_view UpToFirstZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::string RemoveBytes(std::string_view text, std::string_view bytes) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (bytes.find(c) == std::string_view::npos)
            result += c;
    }
    return result;
}

// Memory gone inside a text routine or the regular-expression engine leaves
// no sound answer to give: a cut text or a wrong verdict would lose data
// silently. Ending loudly beats that, and beats an exit that looks like
// success.
[[noreturn]] void AbortOnEngineFailure(const char* where) {
    std::fprintf(stderr, "tavirelbrisvane: %s: out of memory, stopping\n", where);
    std::abort();
}

template <class TBody> auto OrStop(const char* where, TBody&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        AbortOnEngineFailure(where);
    } catch (...) {
        // Nothing else is thrown here short of a string too long to hold,
        // which is the same exhaustion.
        AbortOnEngineFailure(where);
    }
}

// Each occurrence of find, left to right and without overlap, gives way to
// what replacement() returns for it; an empty find changes nothing.
template <class TReplacement>
std::string ReplaceEachOccurrence(std::string_view text, std::string_view find,
                                  TReplacement&& replacement) {
    if (find.empty())
        return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(find); at != std::string_view::npos;
         at = text.find(find, from)) {
        result.append(text.substr(from, at - from));
        result.append(replacement());
        from = at + find.size();
    }
    result.append(text.substr(from));
    return result;
}

// --- Regular expressions ----------------------------------------------------

// Latin-1 so every GBK byte is one plain character; RE2's \w and \d are ASCII
// and its ^ and $ (without multi-line) bind to the whole text only. RE2 runs
// in time linear in the text, so no reply can stall a search.
RE2::Options RegexOptions() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_case_sensitive(true);
    options.set_log_errors(false);
    return options;
}

const RE2& DomainRegex() {
    static const RE2 regex("^([a-zA-Z0-9]+)\\.([a-zA-Z]+)$", RegexOptions());
    return regex;
}

// The registrant e-mail search of the query jobs uses this pattern on every
// reply; compiling it once spares each query a compilation.
constexpr std::string_view EmailPattern = "[\\w\\d\\-\\.]+@[\\w\\d\\-]+(\\.[\\w\\d\\-]+)+";

const RE2& EmailRegex() {
    static const RE2 regex(re2::StringPiece(EmailPattern.data(), EmailPattern.size()),
                           RegexOptions());
    return regex;
}

std::string FirstMatchOf(const RE2& regex, std::string_view text) {
    if (!regex.ok())
        return "";
    re2::StringPiece subject(text.data(), text.size());
    re2::StringPiece match;
    if (!regex.Match(subject, 0, subject.size(), RE2::UNANCHORED, &match, 1))
        return "";
    return Trim(std::string_view(match.data(), match.size()));
}

// --- WHOIS servers ------------------------------------------------------------

struct TWhoisServerRow {
    const char* Suffix;
    const char* Server;
};

// Looked up in this order; every suffix occurs once.
constexpr std::array<TWhoisServerRow, 35> WhoisServerTable = {{
    {".la", "whois.nic.la"},
    {".vc", "whois.identitydigital.services"},
    {".sc", "whois.nic.sc"},
    {".org", "whois.publicinterestregistry.org"},
    {".cn", "whois.cnnic.cn"},
    {".kr", "whois.kr"},
    {".edu", "whois.educause.edu"},
    {".info", "whois.nic.info"},
    {".bz", "whois.identitydigital.services"},
    {".jp", "whois.jprs.jp"},
    {".sg", "whois.sgnic.sg"},
    {".tw", "whois.twnic.net.tw"},
    {".biz", "whois.nic.biz"},
    {".tc", "whois.nic.tc"},
    {".be", "whois.dns.be"},
    {".gov", "whois.nic.gov"},
    {".de", "whois.denic.de"},
    {".at", "whois.nic.at"},
    {".it", "whois.nic.it"},
    {".cc", "ccwhois.verisign-grs.com"},
    {".ch", "whois.nic.ch"},
    {".au", "whois.auda.org.au"},
    {".ac", "whois.nic.ac"},
    {".am", "whois.amnic.net"},
    {".cl", "whois.nic.cl"},
    {".mx", "whois.mx"},
    {".li", "whois.nic.li"},
    {".lk", "whois.nic.lk"},
    {".mm", "whois.registry.gov.mm"},
    {".tj", "whois.nic.tj"},
    {".uk", "whois.nic.uk"},
    {".as", "whois.nic.as"},
    {".nu", "whois.iis.nu"},
    {".st", "whois.nic.st"},
    {".sh", "whois.nic.sh"},
}};

constexpr const char* DefaultWhoisServer = "whois.internic.net";

// Tests, benchmarks and offline trials point the whole program at one server.
constexpr const char* WhoisServerOverrideVariable = "TAVIREL_WHOIS_SERVER";

const std::vector<std::string>& WhoisSuffixList() {
    static const std::vector<std::string> suffixes = [] {
        std::vector<std::string> list;
        for (const TWhoisServerRow& row : WhoisServerTable)
            list.emplace_back(row.Suffix);
        return list;
    }();
    return suffixes;
}

bool IsGbkLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// The text from the last dot to the end, when no backslash or colon comes
// after that dot; the second byte of a double-byte character (which may be a
// backslash) is not a delimiter.
std::string DomainSuffix(std::string_view domain) {
    std::size_t lastDelimiter = std::string_view::npos;
    for (std::size_t i = 0; i < domain.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(domain[i]);
        if (IsGbkLeadByte(c) && i + 1 < domain.size()) {
            ++i;
            continue;
        }
        if (c == '.' || c == '\\' || c == ':')
            lastDelimiter = i;
    }
    if (lastDelimiter == std::string_view::npos || domain[lastDelimiter] != '.')
        return "";
    return std::string(domain.substr(lastDelimiter));
}

// --- Reading a reply ----------------------------------------------------------

// Plain not-found markers, looked for in the lower-cased reply.
constexpr std::array<std::string_view, 14> NotFoundMarkers = {
    "not registered",
    "no match",
    "not found",
    "nomatch",
    "no found",
    "nothing found",
    "no entries found",
    "do not have an entry",
    // Phrases of registries whose replies the first markers miss.
    "no data found",
    "no object found",
    "object_not_found",
    "no such domain",
    "no existe",
    "not available in our whois database",
};

// Looked for in the lower-cased reply with every blank removed (a tab between
// the colon and the word still prevents it).
constexpr std::string_view FreeStatusMarker = "status:free";
// Looked for with every blank and every tab removed: registries that write it
// align the value with tabs.
constexpr std::string_view AvailableStatusMarker = "status:available";
// A reply that lists name servers belongs to a registered domain, whatever
// else it says.
constexpr std::string_view RegisteredMarker = "name server:";

struct TMonthRow {
    std::string_view Name;
    std::string_view Number;
};

constexpr std::array<TMonthRow, 12> MonthTable = {{
    {"jan", "01"},
    {"feb", "02"},
    {"mar", "03"},
    {"apr", "04"},
    {"may", "05"},
    {"jun", "06"},
    {"jul", "07"},
    {"aug", "08"},
    {"sep", "09"},
    {"oct", "10"},
    {"nov", "11"},
    {"dec", "12"},
}};

// --- Address lookup -------------------------------------------------------------

std::string HostIPWith(std::string_view name,
                       const std::function<std::string(const std::string&)>& resolve) {
    try {
        const std::string host(name);
        std::string address = resolve(host);
        if (!address.empty())
            return address;
        // Also for a name that already begins with "www.": a bare domain often
        // has no address while its web host has one.
        return resolve("www." + host);
    } catch (...) {
        return "";
    }
}

// --- Pattern expressions ------------------------------------------------------

// Placeholders of a pattern expression, GBK bytes.
constexpr std::string_view DigitPlaceholder = "{\xCA\xFD\xD7\xD6}";         // {数字}
constexpr std::string_view LetterPlaceholder = "{\xD7\xD6\xC4\xB8}";        // {字母}
constexpr std::string_view DigitOrLetterPlaceholder = "{\xCB\xE6\xBB\xFA}"; // {随机}
constexpr std::string_view PinyinPlaceholder = "{\xC6\xB4\xD2\xF4}";        // {拼音}
constexpr std::string_view TwoPinyinPlaceholder = "{\xC6\xB4\xD2\xF4x2}";   // {拼音x2}
constexpr std::string_view ThreePinyinPlaceholder = "{\xC6\xB4\xD2\xF4x3}"; // {拼音x3}

constexpr std::string_view DigitSet = "01234567891";
constexpr std::string_view LetterSet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view DigitOrLetterSet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The one generator of the process. Only the pattern generation job draws
// from it, and at most one such job runs at a time (its button stays disabled
// while it runs), so it needs no lock; nothing depends on its sequence.
std::mt19937_64& RandomGenerator() {
    static std::mt19937_64 generator(static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

std::size_t DrawBelow(std::size_t n) {
    std::uniform_int_distribution<std::size_t> distribution(0, n - 1);
    return distribution(RandomGenerator());
}

// The distinct bytes of set, in the order they first appear.
std::string DistinctCharacters(std::string_view set) {
    std::string distinct;
    for (char c : set) {
        if (distinct.find(c) == std::string::npos)
            distinct += c;
    }
    return distinct;
}

const char* const PinyinTable[] = {
    "a",     "ai",     "an",     "ang",   "ao",   "ba",    "bai",   "ban",   "bang",  "bao",
    "bei",   "ben",    "beng",   "bi",    "bian", "biao",  "bie",   "bin",   "bing",  "bo",
    "bu",    "ca",     "cai",    "can",   "cang", "cao",   "ce",    "ceng",  "cha",   "chai",
    "chan",  "chang",  "chao",   "che",   "chen", "cheng", "chi",   "chong", "chou",  "chu",
    "chuai", "chuan",  "chuang", "chui",  "chun", "chuo",  "ci",    "cong",  "cou",   "cu",
    "cuan",  "cui",    "cun",    "cuo",   "da",   "dai",   "dan",   "dang",  "dao",   "de",
    "deng",  "di",     "dian",   "diao",  "die",  "ding",  "diu",   "dong",  "dou",   "du",
    "duan",  "dui",    "dun",    "duo",   "e",    "en",    "er",    "fa",    "fan",   "fang",
    "fei",   "fen",    "feng",   "fu",    "fou",  "ga",    "gai",   "gan",   "gang",  "gao",
    "ge",    "ji",     "gen",    "geng",  "gong", "gou",   "gu",    "gua",   "guai",  "guan",
    "guang", "gui",    "gun",    "guo",   "ha",   "hai",   "han",   "hang",  "hao",   "he",
    "hei",   "hen",    "heng",   "hong",  "hou",  "hu",    "hua",   "huai",  "huan",  "huang",
    "hui",   "hun",    "huo",    "jia",   "jian", "jiang", "qiao",  "jiao",  "jie",   "jin",
    "jing",  "jiong",  "jiu",    "ju",    "juan", "jue",   "jun",   "ka",    "kai",   "kan",
    "kang",  "kao",    "ke",     "ken",   "keng", "kong",  "kou",   "ku",    "kua",   "kuai",
    "kuan",  "kuang",  "kui",    "kun",   "kuo",  "la",    "lai",   "lan",   "lang",  "lao",
    "le",    "lei",    "leng",   "li",    "lia",  "lian",  "liang", "liao",  "lie",   "lin",
    "ling",  "liu",    "long",   "lou",   "lu",   "luan",  "lue",   "lun",   "luo",   "ma",
    "mai",   "man",    "mang",   "mao",   "me",   "mei",   "men",   "meng",  "mi",    "mian",
    "miao",  "mie",    "min",    "ming",  "miu",  "mo",    "mou",   "mu",    "na",    "nai",
    "nan",   "nang",   "nao",    "ne",    "nei",  "nen",   "neng",  "ni",    "nian",  "niang",
    "niao",  "nie",    "nin",    "ning",  "niu",  "nong",  "nu",    "nuan",  "nue",   "yao",
    "nuo",   "o",      "ou",     "pa",    "pai",  "pan",   "pang",  "pao",   "pei",   "pen",
    "peng",  "pi",     "pian",   "piao",  "pie",  "pin",   "ping",  "po",    "pou",   "pu",
    "qi",    "qia",    "qian",   "qiang", "qie",  "qin",   "qing",  "qiong", "qiu",   "qu",
    "quan",  "que",    "qun",    "ran",   "rang", "rao",   "re",    "ren",   "reng",  "ri",
    "rong",  "rou",    "ru",     "ruan",  "rui",  "run",   "ruo",   "sa",    "sai",   "san",
    "sang",  "sao",    "se",     "sen",   "seng", "sha",   "shai",  "shan",  "shang", "shao",
    "she",   "shen",   "sheng",  "shi",   "shou", "shu",   "shua",  "shuai", "shuan", "shuang",
    "shui",  "shun",   "shuo",   "si",    "song", "sou",   "su",    "suan",  "sui",   "sun",
    "suo",   "ta",     "tai",    "tan",   "tang", "tao",   "te",    "teng",  "ti",    "tian",
    "tiao",  "tie",    "ting",   "tong",  "tou",  "tu",    "tuan",  "tui",   "tun",   "tuo",
    "wa",    "wai",    "wan",    "wang",  "wei",  "wen",   "weng",  "wo",    "wu",    "xi",
    "xia",   "xian",   "xiang",  "xiao",  "xie",  "xin",   "xing",  "xiong", "xiu",   "xu",
    "xuan",  "xue",    "xun",    "ya",    "yan",  "yang",  "ye",    "yi",    "yin",   "ying",
    "yo",    "yong",   "you",    "yu",    "yuan", "yue",   "yun",   "za",    "zai",   "zan",
    "zang",  "zao",    "ze",     "zei",   "zen",  "zeng",  "zha",   "zhai",  "zhan",  "zhang",
    "zhao",  "zhe",    "zhen",   "zheng", "zhi",  "zhong", "zhou",  "zhu",   "zhua",  "zhuai",
    "zhuan", "zhuang", "zhui",   "zhun",  "zhuo", "zi",    "zong",  "zou",   "zu",    "zuan",
    "zui",   "zun",    "zuo",    "ba",    "ei",   "m",     "n",     "dia",   "cen",   "nou",
    "jv",    "qv",     "xv",     "lv",    "nv",
};

} // namespace

// --- Domain names and WHOIS servers -----------------------------------------

bool IsValidDomain(std::string_view domain) {
    return OrStop("domain name check", [&] {
        // The pattern is fixed and valid: only memory can keep it from compiling.
        if (!DomainRegex().ok())
            AbortOnEngineFailure("domain name check");
        return RE2::PartialMatch(re2::StringPiece(domain.data(), domain.size()), DomainRegex());
    });
}

int IndexOfString(std::string_view text, const std::vector<std::string>& list, int lastIndex) {
    const int last = std::min(lastIndex, static_cast<int>(list.size()) - 1);
    for (int i = 0; i <= last; ++i) {
        if (list[i] == text)
            return i;
    }
    return -1;
}

std::string GetWhoisServer(std::string_view domain) {
    try {
        const char* overrideServer = std::getenv(WhoisServerOverrideVariable);
        if (overrideServer != nullptr && *overrideServer != '\0')
            return overrideServer;
        const std::string suffix = LowerAscii(DomainSuffix(domain));
        const int index = IndexOfString(suffix, WhoisSuffixList(), 34);
        return index >= 0 ? WhoisServerTable[index].Server : DefaultWhoisServer;
    } catch (...) {
        return DefaultWhoisServer;
    }
}

std::string_view TableWhoisServer(std::string_view suffix) {
    const std::string lower = LowerAscii(suffix);
    const int index = IndexOfString(lower, WhoisSuffixList(), 34);
    if (index >= 0)
        return WhoisServerTable[index].Server;
    if (lower == ".com" || lower == ".net")
        return DefaultWhoisServer;
    return {};
}

// --- WHOIS exchange -----------------------------------------------------------

std::string WhoisQueryLine(std::string_view domain) {
    return LowerAscii(domain) + "\r\n";
}

void ConvertReplyToGbk(std::string& reply) {
    if (IsUtf8Text(reply))
        reply = Utf8ToGbk(reply);
}

TExchangeResult GetWhoisAnswer(std::string_view domain, std::string_view server) {
    TExchangeResult answer;
    try {
        answer = RunWhoisExchange(server, WhoisQueryLine(domain), TWhoisBounds{});
        ConvertReplyToGbk(answer.Reply);
    } catch (...) {
        // A failed exchange is the empty reply, which every caller reports.
        answer.Reply.clear();
        answer.End = TExchangeEnd::OtherError;
    }
    return answer;
}

std::string GetWhoisReply(std::string_view domain, std::string_view server) {
    return GetWhoisAnswer(domain, server).Reply;
}

bool IsUtf8Text(std::string_view text) {
    int pending = 0;
    bool allAscii = true;
    for (char ch : UpToFirstZero(text)) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b >= 128)
            allAscii = false;
        if (pending > 0) {
            if ((b & 0xC0) != 0x80)
                return false;
            --pending;
        } else if (b >= 128) {
            int ones = 0;
            for (unsigned char mask = 0x80; mask != 0 && (b & mask); mask >>= 1)
                ++ones;
            if (ones == 1)
                return false;
            pending = ones - 1;
        }
    }
    return pending == 0 && !allAscii;
}

// --- Reading a reply ----------------------------------------------------------

bool IsDomainAvailable(std::string_view reply) {
    return OrStop("reading a reply", [&]() -> bool {
        const std::string lower = LowerAscii(reply);
        bool free = false;
        for (std::string_view marker : NotFoundMarkers) {
            if (Contains(lower, marker))
                free = true;
        }
        if (Contains(RemoveBytes(lower, " "), FreeStatusMarker))
            free = true;
        if (Contains(RemoveBytes(lower, " \t"), AvailableStatusMarker))
            free = true;
        if (Contains(lower, RegisteredMarker))
            free = false;
        return free;
    });
}

std::string ExtractWhoisField(std::string_view reply, std::string_view startMarker,
                              std::string_view endMarker) {
    return OrStop("reading a reply field", [&]() -> std::string {
        std::string value = TextBefore(endMarker, TextAfter(startMarker, LowerAscii(reply)));
        for (const TMonthRow& month : MonthTable)
            value = ReplaceAllText(value, month.Name, month.Number);
        return Trim(value);
    });
}

std::string ReplaceAllText(std::string_view text, std::string_view oldText,
                           std::string_view newText) {
    return OrStop("text replacement", [&]() -> std::string {
        return ReplaceEachOccurrence(text, oldText, [&] { return newText; });
    });
}

std::string TextBefore(std::string_view marker, std::string_view text) {
    return OrStop("text search", [&]() -> std::string {
        const std::size_t at = marker.empty() ? std::string_view::npos : text.find(marker);
        return std::string(at == std::string_view::npos ? text : text.substr(0, at));
    });
}

std::string TextAfter(std::string_view marker, std::string_view text) {
    return OrStop("text search", [&]() -> std::string {
        const std::size_t at = marker.empty() ? std::string_view::npos : text.find(marker);
        return at == std::string_view::npos ? std::string()
                                            : std::string(text.substr(at + marker.size()));
    });
}

// A pattern that RE2 cannot compile (back-references, for instance) finds
// nothing: the result is the empty text.
std::string FirstRegexMatch(std::string_view text, std::string_view pattern) {
    try {
        const std::string_view subject = UpToFirstZero(text);
        if (pattern == EmailPattern) {
            // Fixed and valid: only memory can keep it from compiling.
            if (!EmailRegex().ok())
                AbortOnEngineFailure("pattern search");
            return FirstMatchOf(EmailRegex(), subject);
        }
        const RE2 regex(re2::StringPiece(pattern.data(), pattern.size()), RegexOptions());
        return FirstMatchOf(regex, subject);
    } catch (const std::bad_alloc&) {
        AbortOnEngineFailure("pattern search");
    }
}

// --- Address lookup -----------------------------------------------------------

std::string GetHostIP(std::string_view name) {
    return HostIPWith(name, [](const std::string& host) { return ResolveIPv4(host); });
}

// --- Pattern expressions ------------------------------------------------------

std::string ExpandDomainPattern(std::string_view pattern) {
    return OrStop("pattern expansion", [&]() -> std::string {
        std::string text = ReplaceEachWithRandomChar(pattern, DigitPlaceholder, DigitSet);
        text = ReplaceEachWithRandomChar(text, LetterPlaceholder, LetterSet);
        text = ReplaceEachWithRandomChar(text, DigitOrLetterPlaceholder, DigitOrLetterSet);
        text = ReplaceAllText(text, PinyinPlaceholder, RandomPinyin(1));
        text = ReplaceAllText(text, TwoPinyinPlaceholder, RandomPinyin(2));
        return ReplaceAllText(text, ThreePinyinPlaceholder, RandomPinyin(3));
    });
}

std::string RandomCharOf(std::string_view set) {
    return OrStop("pattern expansion", [&]() -> std::string {
        const std::string distinct = DistinctCharacters(set);
        if (distinct.empty())
            return "";
        return std::string(1, distinct[DrawBelow(distinct.size())]);
    });
}

std::string RandomPinyin(int n) {
    return OrStop("pattern expansion", [&]() -> std::string {
        const std::vector<std::string>& syllables = PinyinSyllables();
        std::string result;
        for (int i = 0; i < n; ++i) {
            std::string syllable = syllables[DrawBelow(syllables.size())];
            if (syllable[0] >= 'a' && syllable[0] <= 'z')
                syllable[0] = static_cast<char>(syllable[0] - 'a' + 'A');
            result += syllable;
        }
        return result;
    });
}

std::string ReplaceEachWithRandomChar(std::string_view text, std::string_view find,
                                      std::string_view set) {
    return OrStop("pattern expansion", [&]() -> std::string {
        // A fresh character for every occurrence.
        return ReplaceEachOccurrence(text, find, [&] { return RandomCharOf(set); });
    });
}

static_assert(std::size(PinyinTable) == 405, "the syllable table holds 405 entries");

const std::vector<std::string>& PinyinSyllables() {
    static const std::vector<std::string> syllables(std::begin(PinyinTable), std::end(PinyinTable));
    return syllables;
}

// --- Test seams -----------------------------------------------------------------

namespace unitfunctions_testing {

const std::vector<std::string>& WhoisSuffixes() {
    return WhoisSuffixList();
}

std::string GetHostIPUsing(std::string_view name,
                           const std::function<std::string(const std::string&)>& resolve) {
    return HostIPWith(name, resolve);
}

} // namespace unitfunctions_testing

std::string_view TrimText(std::string_view text) {
    auto isSpaceOrControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && isSpaceOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpaceOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

namespace {

std::string ShiftAsciiCase(std::string_view text, char from, char to) {
    std::string result(text);
    for (char& c : result) {
        if (c >= from && c <= static_cast<char>(from + 25))
            c = static_cast<char>(c - from + to);
    }
    return result;
}

} // namespace

std::string LowerAscii(std::string_view text) {
    return ShiftAsciiCase(text, 'A', 'a');
}

std::string UpperAscii(std::string_view text) {
    return ShiftAsciiCase(text, 'a', 'A');
}

std::vector<std::string_view> SplitText(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos)
            return parts;
        start = at + 1;
    }
}
