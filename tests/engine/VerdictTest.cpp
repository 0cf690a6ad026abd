#include "engine/Verdict.h"
#include "engine/WhoisWording.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <optional>
#include <set>
#include <sstream>
#include <string>

// The order in which a reply is read, on replies made for each rule, and the
// wait read from each wording a refusal uses.

namespace {

using namespace std::chrono_literals;
using enum TVerdictKind;
// The reasons by name; Registered alone is the verdict, Held its reason.
constexpr auto None = TVerdictReason::None;
constexpr auto Held = TVerdictReason::Registered;
constexpr auto Reserved = TVerdictReason::Reserved;
constexpr auto Throttled = TVerdictReason::Throttled;
constexpr auto Unavailable = TVerdictReason::Unavailable;
constexpr auto Failed = TVerdictReason::Failed;
constexpr auto Cut = TVerdictReason::Cut;
constexpr auto InvalidName = TVerdictReason::InvalidName;
constexpr auto UnsupportedSuffix = TVerdictReason::UnsupportedSuffix;

struct TReadingCase {
    const char* Name;
    std::string Reply;
    std::string Host;
    TExchangeEnd End;
    TVerdictKind Kind;
    TVerdictReason Reason;
};

void PrintTo(const TReadingCase& c, std::ostream* out) {
    *out << c.Name;
}

class VerdictOrder : public ::testing::TestWithParam<TReadingCase> {};

TEST_P(VerdictOrder, ReadsTheRuleThatComesFirst) {
    const TReadingCase& c = GetParam();
    const TVerdict verdict = ReadWhoisVerdict(TExchangeResult{c.Reply, c.End, 0}, c.Host);
    EXPECT_EQ(VerdictWord(verdict.Kind), VerdictWord(c.Kind)) << verdict.Detail;
    EXPECT_EQ(ReasonWord(verdict.Reason), ReasonWord(c.Reason)) << verdict.Detail;
}

constexpr auto Closed = TExchangeEnd::Closed;
const std::string NoMatch = "No match for \"EXAMPLE.COM\".\r\n";
const std::string Afnic = "%%\r\n%% Too many requests...\r\n%%\r\n\r\n"
                          "%% No entries found in the AFNIC Database.\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rules, VerdictOrder,
    ::testing::Values(
        // 1. An answer the server did not end, or next to nothing, says nothing.
        TReadingCase{"ResetAfterNoMatch", NoMatch, "whois.example", TExchangeEnd::Reset, Unknown,
                     Cut},
        TReadingCase{"IdleBoundAfterNoMatch", NoMatch, "h", TExchangeEnd::IdleBound, Unknown, Cut},
        TReadingCase{"WholeBound", NoMatch, "h", TExchangeEnd::WholeBound, Unknown, Cut},
        TReadingCase{"SizeBound", NoMatch, "h", TExchangeEnd::SizeBound, Unknown, Cut},
        TReadingCase{"ResetBeforeAByte", "", "h", TExchangeEnd::Reset, Unknown, Failed},
        TReadingCase{"Refused", "", "h", TExchangeEnd::Refused, Unknown, Failed},
        TReadingCase{"LookupFailed", "", "h", TExchangeEnd::NameLookupFailed, Unknown, Failed},
        TReadingCase{"ConnectBound", "", "h", TExchangeEnd::ConnectBound, Unknown, Failed},
        TReadingCase{"ErrorAfterBytes", NoMatch, "h", TExchangeEnd::OtherError, Unknown, Failed},
        TReadingCase{"Empty", "", "h", Closed, Unknown, Failed},
        TReadingCase{"TwoBytes", "\r\n", "h", Closed, Unknown, Failed},
        TReadingCase{"ThreeBytesAreAReply", "abc", "h", Closed, Registered, Held},
        // 2. Refusals and outages before any not-found text.
        TReadingCase{"AfnicRefusalThenNoEntries", Afnic, "whois.nic.fr", Closed, Unknown,
                     Throttled},
        TReadingCase{"HostWithPortAndCapitals", Afnic, "WHOIS.NIC.RE.:43", Closed, Unknown,
                     Throttled},
        TReadingCase{"HostWordsOfItsOwnHost", "# Too many connections.\nNo entries found\n",
                     "whois.dk-hostmaster.dk", Closed, Unknown, Throttled},
        TReadingCase{"HostWordsOfAnotherHost", "# Too many connections.\nNo entries found\n",
                     "whois.example", Closed, Free, None},
        TReadingCase{"GeneralRefusalBeforeNoMatch", "Query limit exceeded\n" + NoMatch,
                     "whois.example", Closed, Unknown, Throttled},
        TReadingCase{"NominetWordsFromAnyHost",
                     "The WHOIS query quota for 127.0.0.1 has been exceeded and will be "
                     "replenished in 1 seconds.\r\n" +
                         NoMatch,
                     "whois.verisign-grs.com", Closed, Unknown, Throttled},
        TReadingCase{"RefusalOutweighsNameServers", "Name Server: ns1.example\nLIMIT EXCEEDED\n",
                     "whois.example", Closed, Unknown, Throttled},
        TReadingCase{"HostOutageBeforeGeneralRefusal", "Server too busy, try again later\n",
                     "whois.domain-registry.nl", Closed, Unknown, Unavailable},
        TReadingCase{"GeneralRefusalBeforeGeneralOutage", "Server too busy, try again later\n",
                     "whois.example", Closed, Unknown, Throttled},
        TReadingCase{"GeneralOutage", "Service temporarily unavailable.\n", "whois.example", Closed,
                     Unknown, Unavailable},
        TReadingCase{"NoticeBesideAFullAnswer",
                     "% Query rate limit exceeded. Reduced information.\n" + NoMatch,
                     "whois.registro.br", Closed, Free, None},
        TReadingCase{"NoticeOfAnotherHostRefuses",
                     "% Query rate limit exceeded. Reduced information.\n" + NoMatch,
                     "whois.example", Closed, Unknown, Throttled},
        TReadingCase{"RefusalBeforeRefusedName",
                     "% Error: 55000000002 access control limit reached.\nStatus: invalid\n",
                     "whois.denic.de", Closed, Unknown, Throttled},
        // 3. Refused and reserved names.
        TReadingCase{"RefusedNameBeforeNoMatch",
                     "This domain cannot be registered because it contravenes the rules.\n" +
                         NoMatch,
                     "whois.nic.uk", Closed, Unknown, InvalidName},
        TReadingCase{"RefusedNameWithATab", "Domain:\tx.be\nStatus:\tNOT ALLOWED\n", "whois.dns.be",
                     Closed, Unknown, InvalidName},
        TReadingCase{"RefusedNameWholeLine", "Invalid input\r\n", "whois.nic.tr", Closed, Unknown,
                     InvalidName},
        TReadingCase{"UnsupportedSuffix", "TLD is not supported.\n", "whois.example", Closed,
                     Unknown, UnsupportedSuffix},
        TReadingCase{"ReservedBeforeNoMatch",
                     "Status: PREMIUM NAME (No match for domain \"x.sx\")\n", "whois.sx", Closed,
                     Registered, Reserved},
        TReadingCase{"ReservedWordsOfAnotherHost",
                     "Status: PREMIUM NAME (No match for domain \"x.sx\")\n", "whois.example",
                     Closed, Free, None},
        TReadingCase{"ReservedWithManyBlanks", "Domain status:         unavailable\n",
                     "whois.cira.ca", Closed, Registered, Reserved},
        // 4. The host's not-found words, then the general markers.
        TReadingCase{"HostNotFound", "Domain x.tm is available for purchase\n", "whois.nic.tm",
                     Closed, Free, None},
        TReadingCase{"HostNotFoundOfAnotherHost", "Domain x.tm is available for purchase\n",
                     "whois.example", Closed, Registered, Held},
        TReadingCase{"NameServersOutweighHostNotFound",
                     "Domain x.tm is available for purchase\nName Server: ns1.example\n",
                     "whois.nic.tm", Closed, Registered, Held},
        TReadingCase{"NameServersOutweighMarkers", NoMatch + "Name Server: ns1.example\n",
                     "whois.example", Closed, Registered, Held},
        TReadingCase{"GeneralMarker", NoMatch, "whois.example", Closed, Free, None},
        TReadingCase{"WholeLineAlone", "\r\n  Available \r\n\r\nDomain: x.co.za\r\n",
                     "coza-whois.registry.net.za", Closed, Free, None},
        TReadingCase{"WholeLineInsideAnother", "Not Available\r\nDomain: x.co.za\r\n",
                     "coza-whois.registry.net.za", Closed, Registered, Held},
        TReadingCase{"LineEnd", "x.nl is free\r\n", "whois.domain-registry.nl", Closed, Free, None},
        TReadingCase{"LineEndNotAtTheEnd", "x.nl is free of charge for holders\r\n",
                     "whois.domain-registry.nl", Closed, Registered, Held},
        TReadingCase{"GbkAroundAMarker", "\xD3\xF2\xC3\xFB No match \xB2\xE9\xD1\xAF\r\n",
                     "whois.example", Closed, Free, None},
        // 5. Anything else.
        TReadingCase{"NothingToGoBy", "Domain Name: EXAMPLE.COM\r\n", "whois.example", Closed,
                     Registered, Held}),
    [](const ::testing::TestParamInfo<TReadingCase>& info) { return info.param.Name; });

TEST(Verdict, RefusalCarriesItsWaitAndSaysWhoRefused) {
    const TVerdict throttled =
        ReadWhoisVerdict(TExchangeResult{"The WHOIS query quota for 127.0.0.1 has been exceeded\r\n"
                                         "    and will be replenished in 50 seconds.\r\n",
                                         Closed, 0},
                         "whois.nic.uk");
    EXPECT_EQ(throttled.Reason, Throttled);
    EXPECT_EQ(throttled.Wait, std::optional(50s));
    EXPECT_EQ(throttled.Detail, "whois.nic.uk: \"the whois query quota for\"");

    const TVerdict busy =
        ReadWhoisVerdict(TExchangeResult{"Server too busy, try again in 2 minutes\n", Closed, 0},
                         "whois.domain-registry.nl");
    EXPECT_EQ(busy.Reason, Unavailable);
    EXPECT_EQ(busy.Wait, std::optional(120s));

    const TVerdict reserved =
        ReadWhoisVerdict(TExchangeResult{"Reserved by DotAsia\n", Closed, 0}, "whois.nic.asia");
    EXPECT_EQ(reserved.Wait, std::nullopt);
}

// ---- Against the fake server's ways of misbehaving -----------------------------

struct TServerCase {
    const char* Name;
    TFakeWhoisMode Mode;
    int Queries; // the verdict of the last
    double LimitPerSecond;
    int FlakyEvery;
    TVerdictKind Kind;
    TVerdictReason Reason;
};

void PrintTo(const TServerCase& c, std::ostream* out) {
    *out << c.Name;
}

class VerdictOfFakeServer : public ::testing::TestWithParam<TServerCase> {};

// A "No match" that never arrives whole is never free.
TEST_P(VerdictOfFakeServer, FreeOnlyFromAWholeAnswer) {
    const TServerCase& c = GetParam();
    TFakeWhoisOptions options;
    options.FallbackReply = "No match for \"X.COM\".\r\n>>> Last update of whois database <<<\r\n";
    options.Mode = c.Mode;
    options.ResetAfterBytes = 10;
    options.DripPauseMs = 20;
    options.HugeBytes = 1u << 20;
    options.LimitPerSecond = c.LimitPerSecond;
    options.FlakyEvery = c.FlakyEvery;
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    TWhoisBounds bounds;
    bounds.Idle = 300ms;
    bounds.Whole = 600ms;
    bounds.MaxReplyBytes = 64u << 10;
    TExchangeResult answer;
    for (int i = 0; i < c.Queries; ++i)
        answer = RunWhoisExchange(server.Address(), "x.com\r\n", bounds);
    const TVerdict verdict = ReadWhoisVerdict(answer, "whois.verisign-grs.com", bounds);
    EXPECT_EQ(VerdictWord(verdict.Kind), VerdictWord(c.Kind)) << verdict.Detail;
    EXPECT_EQ(ReasonWord(verdict.Reason), ReasonWord(c.Reason)) << verdict.Detail;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, VerdictOfFakeServer,
    ::testing::Values(
        TServerCase{"Normal", TFakeWhoisMode::Normal, 1, 0, 0, Free, None},
        TServerCase{"ResetAfterTenBytes", TFakeWhoisMode::Reset, 1, 0, 0, Unknown, Cut},
        TServerCase{"DripCutByTheWholeBound", TFakeWhoisMode::Drip, 1, 0, 0, Unknown, Cut},
        TServerCase{"Silent", TFakeWhoisMode::Silent, 1, 0, 0, Unknown, Failed},
        TServerCase{"HugeCutBySize", TFakeWhoisMode::Huge, 1, 0, 0, Unknown, Cut},
        TServerCase{"BeyondTheLimit", TFakeWhoisMode::Normal, 2, 0.2, 0, Unknown, Throttled},
        TServerCase{"FlakyReset", TFakeWhoisMode::Normal, 1, 0, 1, Unknown, Failed}),
    [](const ::testing::TestParamInfo<TServerCase>& info) { return info.param.Name; });

// ---- The wait a refusal names ------------------------------------------------

struct TWaitCase {
    const char* Text;
    std::optional<std::chrono::seconds> Wait;
};

class AskedWait : public ::testing::TestWithParam<TWaitCase> {};

TEST_P(AskedWait, IsReadAndKeptWithinADay) {
    EXPECT_EQ(ReadAskedWait(WordingText(GetParam().Text)), GetParam().Wait);
}

const std::string ManyDigits = "wait " + std::string(10'000, '9') + " seconds";

INSTANTIATE_TEST_SUITE_P(
    Wordings, AskedWait,
    ::testing::Values(
        TWaitCase{"and will be replenished in 3600 seconds.", 3600s},
        TWaitCase{"The quota will be replenished in 120 Seconds.", 120s},
        TWaitCase{"% Excessive querying, grace period of 12 seconds", 12s},
        TWaitCase{"-1: Still in grace period, wait 10 seconds", 10s},
        TWaitCase{"Please try again in 1 minute", 60s}, TWaitCase{"try again in 5 minutes", 300s},
        TWaitCase{"Please go away for 13 Seconds", 13s},
        TWaitCase{"Rate limit exceeded. Try again after: 24h0m0s", 86400s},
        TWaitCase{"Try again after: 1h30m", 5400s}, TWaitCase{"Try again after: 90s", 90s},
        TWaitCase{"wait 2 hours", 7200s}, TWaitCase{"wait 1 minute 30 seconds", 90s},
        TWaitCase{"wait\t3sec", 3s}, TWaitCase{"Please wait a moment. Then wait 7 seconds", 7s},
        // Silly numbers: never less than a second, never more than a day.
        TWaitCase{"wait 0 seconds", 1s}, TWaitCase{"wait 86399 seconds", 86399s},
        TWaitCase{"wait 86400 seconds", 86400s}, TWaitCase{"wait 86401 seconds", 86400s},
        TWaitCase{"-1: Still in grace period, wait 7777777 seconds", 86400s},
        TWaitCase{"wait 18446744073709551616 seconds", 86400s},
        TWaitCase{"wait 100000000000 hours", 86400s}, TWaitCase{ManyDigits.c_str(), 86400s},
        // No wait named.
        TWaitCase{"wait -5 seconds", std::nullopt}, TWaitCase{"wait 10", std::nullopt},
        TWaitCase{"wait 5 more minutes", std::nullopt},
        TWaitCase{"Please wait a while and try again", std::nullopt},
        TWaitCase{"only 1 request per second allowed, try again later", std::nullopt},
        TWaitCase{"24h0m0s", std::nullopt}, TWaitCase{"", std::nullopt}));

// ---- The tables themselves ---------------------------------------------------

bool IsWordingForm(std::string_view text) {
    for (const char c : text) {
        if (std::isupper(static_cast<unsigned char>(c)) || c == '\t' || c == '\r' || c == '\n')
            return false;
    }
    return !text.empty() && text.find("  ") == std::string_view::npos;
}

// A row in another form than the text it is compared with never matches.
TEST(WhoisWording, EveryRowIsInTheFormRepliesAreReadIn) {
    for (const TWording& row : RegistryWordings()) {
        EXPECT_TRUE(IsWordingForm(row.Text)) << row.Text;
        EXPECT_TRUE(IsWordingForm(row.Hosts)) << row.Text << ": hosts " << row.Hosts;
        EXPECT_EQ(WordingText(row.Text), row.Text);
    }
    for (const TWording& row : GeneralWordings()) {
        EXPECT_TRUE(IsWordingForm(row.Text)) << row.Text;
        EXPECT_TRUE(row.Hosts.empty()) << row.Text;
        // Not-found words of one registry must never free another's reply.
        EXPECT_NE(row.Kind, TWordingKind::NotFound) << row.Text;
        EXPECT_NE(row.Kind, TWordingKind::Notice) << row.Text;
    }
}

// The entries of a libFuzzer dictionary: "text" lines with \\, \" and \xNN.
std::set<std::string> DictionaryEntries(const std::string& path) {
    std::set<std::string> entries;
    std::istringstream lines(testpaths::ReadFileBytes(path));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 2 || line.front() != '"' || line.back() != '"')
            continue;
        std::string entry;
        for (std::size_t i = 1; i + 1 < line.size(); ++i) {
            if (line[i] == '\\' && line[i + 1] == 'x' && i + 3 < line.size()) {
                entry += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else if (line[i] == '\\') {
                entry += line[++i];
            } else {
                entry += line[i];
            }
        }
        entries.insert(entry);
    }
    return entries;
}

// The verdict's fuzz program is steered by the texts replies are read for; a
// row its dictionary lacks is fuzzed only by chance.
TEST(WhoisWording, FuzzDictionaryHoldsEveryTextAndHost) {
    const std::set<std::string> entries =
        DictionaryEntries(testpaths::SourceDir() + "/fuzz/verdict.dict");
    for (const auto& rows : {RegistryWordings(), GeneralWordings()}) {
        for (const TWording& row : rows) {
            EXPECT_TRUE(entries.count(std::string(row.Text))) << row.Text;
            std::istringstream hosts{std::string(row.Hosts)};
            for (std::string host; hosts >> host;)
                EXPECT_TRUE(entries.count(host)) << host;
        }
    }
}

TEST(WhoisWording, HostIsKeyedWithoutPortCaseOrFinalDot) {
    EXPECT_EQ(WordingHost("WHOIS.NIC.FR:43"), "whois.nic.fr");
    EXPECT_EQ(WordingHost("whois.nic.fr."), "whois.nic.fr");
    EXPECT_EQ(WordingHost("127.0.0.1:4343"), "127.0.0.1");
    EXPECT_EQ(WordingHost(""), "");
    EXPECT_EQ(WordingText("A \t\t B\r\n  C"), "a b\r\n c");
}

} // namespace
