#include "engine/Verdict.h"
#include "engine/Unit_Functions.h"
#include "engine/WhoisEvidence.h"
#include "engine/WhoisWording.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
constexpr auto Unreadable = TVerdictReason::Unreadable;

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
        TReadingCase{"ThreeBytesAreAReply", "abc", "h", Closed, Unknown, Unreadable},
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
        TReadingCase{"PerSecondLimitBeforeNoMatch",
                     "maximum number of requests per second exceeded\n" + NoMatch,
                     "whois.domain-registry.nl", Closed, Unknown, Throttled},
        TReadingCase{"PerClientIntervalBeforeNoMatch",
                     "The number of requests per client per time interval is restricted.\n" +
                         NoMatch,
                     "whois.example", Closed, Unknown, Throttled},
        TReadingCase{"RestrictedNameIsNotFree",
                     "Registration of this domain is restricted.\n" + NoMatch, "whois.example",
                     Closed, Registered, Reserved},
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
                     "whois.example", Closed, Unknown, Unreadable},
        TReadingCase{"NameServersOutweighHostNotFound",
                     "Domain x.tm is available for purchase\nName Server: ns1.example\n",
                     "whois.nic.tm", Closed, Registered, Held},
        TReadingCase{"NameServersOutweighMarkers", NoMatch + "Name Server: ns1.example\n",
                     "whois.example", Closed, Registered, Held},
        TReadingCase{"GeneralMarker", NoMatch, "whois.example", Closed, Free, None},
        TReadingCase{"WholeLineAlone", "\r\n  Available \r\n\r\nDomain: x.co.za\r\n",
                     "coza-whois.registry.net.za", Closed, Free, None},
        TReadingCase{"WholeLineInsideAnother", "Not Available\r\nDomain: x.co.za\r\n",
                     "coza-whois.registry.net.za", Closed, Unknown, Unreadable},
        TReadingCase{"LineEnd", "x.nl is free\r\n", "whois.domain-registry.nl", Closed, Free, None},
        TReadingCase{"LineEndNotAtTheEnd", "x.nl is free of charge for holders\r\n",
                     "whois.domain-registry.nl", Closed, Unknown, Unreadable},
        TReadingCase{"GbkAroundAMarker", "\xD3\xF2\xC3\xFB No match \xB2\xE9\xD1\xAF\r\n",
                     "whois.example", Closed, Free, None},
        // 5. The host's registered words, or a fact of the record; else unreadable.
        TReadingCase{"HostRegisteredWording", "Tonic whoisd V1.1\ngo ns1.example.to\n",
                     "whois.tonic.to", Closed, Registered, Held},
        TReadingCase{"RegisteredWordingOfAnotherHost", "Tonic whoisd V1.1\ngo ns1.example.to\n",
                     "whois.example", Closed, Unknown, Unreadable},
        TReadingCase{"HostNotFoundBeforeHostRegistered", "Tonic whoisd V1.1\nNo match for x\n",
                     "whois.tonic.to", Closed, Free, None},
        TReadingCase{"NothingToGoBy", "Domain Name: EXAMPLE.COM\r\n", "whois.example", Closed,
                     Unknown, Unreadable}),
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

// ---- Registered only with evidence ----------------------------------------------

struct TEvidenceCase {
    const char* Name;
    std::string Reply;
    // The fact that shows the name held, or none: then the reply is unreadable.
    std::optional<TEvidenceKind> Kind;
    // The line the verdict names: the fact's, or the reply's first meaningful one.
    std::string Line;
};

void PrintTo(const TEvidenceCase& c, std::ostream* out) {
    *out << c.Name;
}

class RegisteredEvidence : public ::testing::TestWithParam<TEvidenceCase> {};

TEST_P(RegisteredEvidence, EachFactAloneIsEnoughAndNoneIsUnreadable) {
    const TEvidenceCase& c = GetParam();
    const TVerdict verdict = ReadWhoisVerdict(TExchangeResult{c.Reply, Closed, 0}, "whois.example");
    if (c.Kind) {
        EXPECT_EQ(VerdictWord(verdict.Kind), "registered") << verdict.Detail;
        EXPECT_EQ(verdict.Detail, std::string(EvidenceWord(*c.Kind)) + ": " + c.Line);
    } else {
        EXPECT_EQ(ReasonWord(verdict.Reason), "unreadable") << verdict.Detail;
        EXPECT_EQ(verdict.Detail, c.Line);
        EXPECT_FALSE(IsRetryable(verdict.Reason));
    }
}

constexpr auto Date = TEvidenceKind::Date;
constexpr auto Registrar = TEvidenceKind::Registrar;
constexpr auto NameServer = TEvidenceKind::NameServer;
constexpr auto Status = TEvidenceKind::Status;
constexpr auto Holder = TEvidenceKind::Holder;
const std::string Head = "Domain Name: EXAMPLE.COM\r\n";

INSTANTIATE_TEST_SUITE_P(
    Facts, RegisteredEvidence,
    ::testing::Values(
        // Each fact alone, in the layouts registries write it in.
        TEvidenceCase{"CreationDate", Head + "Creation Date: 1997-09-15T04:00:00Z\r\n", Date,
                      "Creation Date: 1997-09-15T04:00:00Z"},
        TEvidenceCase{"ExpiryWithMonthName", "Expires on: 13-May-2031\n", Date,
                      "Expires on: 13-May-2031"},
        TEvidenceCase{"UpdateDate", "Updated Date: 2019-09-09\n", Date, "Updated Date: 2019-09-09"},
        TEvidenceCase{"DotLeaders", "Registration date ......: 2001.01.01\n", Date,
                      "Registration date ......: 2001.01.01"},
        TEvidenceCase{"Brackets", "a [Record Created]   13-MAY-2009\n", Date,
                      "a [Record Created]   13-MAY-2009"},
        TEvidenceCase{"Rwhois", "domain:Created:20090324\n", Date, "domain:Created:20090324"},
        TEvidenceCase{"Columns", "Valid-date          2011-05-04\n", Date,
                      "Valid-date          2011-05-04"},
        TEvidenceCase{"DateOnTheNextLine", "Created:\n    2001-01-01\n", Date, "Created:"},
        TEvidenceCase{"Registrar", "Registrar: MarkMonitor Inc.\n", Registrar,
                      "Registrar: MarkMonitor Inc."},
        TEvidenceCase{"RegistrarBlock", "    Registrar:\n        Markmonitor Inc.\n", Registrar,
                      "Registrar:"},
        TEvidenceCase{"NameServer", "nserver: ns1.example.de\n", NameServer,
                      "nserver: ns1.example.de"},
        TEvidenceCase{"NameServerColumn", "dns_name            ns1.dnparking.sk\n", NameServer,
                      "dns_name            ns1.dnparking.sk"},
        TEvidenceCase{"NameServersBlock", "Name Servers:\n   NS1.EXAMPLE.EDU\n", NameServer,
                      "Name Servers:"},
        TEvidenceCase{"Status", "Status: connect\n", Status, "Status: connect"},
        TEvidenceCase{"StateInBrackets", "[State]   Connected (2031/05/31)\n", Status,
                      "[State]   Connected (2031/05/31)"},
        TEvidenceCase{"Registrant", "Registrant: Example Holdings\n", Holder,
                      "Registrant: Example Holdings"},
        TEvidenceCase{"HolderHandle", "holder-c:    ABC1-FRNIC\n", Holder,
                      "holder-c:    ABC1-FRNIC"},
        TEvidenceCase{"HolderBlock", "TITULAR:\r\nOrganizacion: Example Inc.\r\n", Holder,
                      "TITULAR:"},
        TEvidenceCase{"TabsShownAsBlanks", "Registrar:\tExample\n", Registrar,
                      "Registrar: Example"},
        // None of them: labels without the value a fact needs, the database's
        // own dates, comments, sentences.
        TEvidenceCase{"NoFact", Head, std::nullopt, "Domain Name: EXAMPLE.COM"},
        TEvidenceCase{"DateWithoutAYear", "Created: unknown\n", std::nullopt, "Created: unknown"},
        TEvidenceCase{"DatabaseUpdate", "Last update of whois database: 2024-01-01T00:00:00Z\n",
                      std::nullopt, "Last update of whois database: 2024-01-01T00:00:00Z"},
        TEvidenceCase{"CommentedFacts",
                      "% Created: 2001-01-01\n# Registrar: X\n>>> Updated: 2024-01-01 <<<\n"
                      "The queried object does not exist\n",
                      std::nullopt, "The queried object does not exist"},
        TEvidenceCase{"NameServerWithoutAHost", "Name Server:\n\nNo record\n", std::nullopt,
                      "Name Server:"},
        TEvidenceCase{"StatusOfAFreeName", "Domain status: unassigned\n", std::nullopt,
                      "Domain status: unassigned"},
        TEvidenceCase{"UrlIsNoLabel", "Registrant data available at http://dns.example/\n",
                      std::nullopt, "Registrant data available at http://dns.example/"},
        TEvidenceCase{"SentenceIsNoLabel",
                      "registrar.  Users may consult the sponsoring registrar's database\n",
                      std::nullopt,
                      "registrar.  Users may consult the sponsoring registrar's database"},
        TEvidenceCase{"FirstLineAfterCommentsAndRulers",
                      "%% comment\r\n\r\n-----------\r\nSorry, nothing here\r\n", std::nullopt,
                      "Sorry, nothing here"},
        TEvidenceCase{"OnlyComments", "% one\n% two\n", std::nullopt, "% one"}),
    [](const ::testing::TestParamInfo<TEvidenceCase>& info) { return info.param.Name; });

TEST(RegisteredEvidence, DetailIsCutWithoutSplittingACharacter) {
    // 199 ASCII bytes, then a two-byte GBK character that would end at byte 201.
    const std::string line = std::string(199, 'x') + "\xD3\xF2" + "tail";
    const TVerdict verdict = ReadWhoisVerdict(TExchangeResult{line + "\n", Closed, 0}, "h");
    EXPECT_EQ(verdict.Detail, std::string(199, 'x'));
    EXPECT_EQ(FirstMeaningfulLine(std::string(3, ' ')), "");
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

// data/whois-wordings.tsv: each row of a registry, one line per host, with
// the reply it was taken from.
struct TWordingSource {
    std::string Host, Kind, Text, Seen, Source;
};

std::vector<TWordingSource> ReadWordingSources() {
    std::vector<TWordingSource> rows;
    std::istringstream lines(
        testpaths::ReadFileBytes(testpaths::SourceDir() + "/data/whois-wordings.tsv"));
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() == 5)
            rows.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
        else
            ADD_FAILURE() << "not five fields: " << line;
    }
    return rows;
}

std::string_view KindWord(TWordingKind kind) {
    switch (kind) {
    case TWordingKind::Throttled:
        return "throttled";
    case TWordingKind::Unavailable:
        return "unavailable";
    case TWordingKind::Unsupported:
        return "unsupported";
    case TWordingKind::Invalid:
        return "invalid";
    case TWordingKind::Reserved:
        return "reserved";
    case TWordingKind::NotFound:
        return "not-found";
    case TWordingKind::Registered:
        return "registered";
    case TWordingKind::Notice:
        break;
    }
    return "notice";
}

// What a reply that is the seen line alone reads as, by the row's kind.
const std::map<std::string, std::string> SeenReadsAs = {
    {"not-found", "free/"},
    {"registered", "registered/registered"},
    {"reserved", "registered/reserved"},
    {"throttled", "unknown/throttled"},
    {"unavailable", "unknown/unavailable"},
    {"invalid", "unknown/invalid"},
    {"notice", "unknown/unreadable"},
};

// The rows of the tables and the data file are the same rows, each with the
// reply it came from, and that reply's line reads as the row's kind.
TEST(WhoisWording, EveryRegistryRowHasItsSourceAndReadsAsItsKind) {
    const std::vector<TWordingSource> sources = ReadWordingSources();
    std::set<std::string> listed;
    for (const TWordingSource& row : sources) {
        listed.insert(row.Host + "\t" + row.Kind + "\t" + row.Text);
        EXPECT_FALSE(row.Source.empty()) << row.Host << " " << row.Text;
        EXPECT_NE(WordingText(row.Seen).find(row.Text), std::string::npos)
            << row.Host << ": '" << row.Seen << "' holds no '" << row.Text << "'";
        const std::string reply =
            ReplaceAllText(row.Seen, "<domain>", "u34jedzcq.example") + "\r\n";
        const TVerdict verdict = ReadWhoisVerdict(TExchangeResult{reply, Closed, 0}, row.Host);
        EXPECT_EQ(std::string(VerdictWord(verdict.Kind)) + "/" +
                      std::string(ReasonWord(verdict.Reason)),
                  SeenReadsAs.at(row.Kind))
            << row.Host << ": " << row.Seen << " (" << verdict.Detail << ")";
    }
    std::size_t rows = 0;
    for (const TWording& row : RegistryWordings()) {
        std::istringstream hosts{std::string(row.Hosts)};
        for (std::string host; hosts >> host; ++rows)
            EXPECT_TRUE(listed.contains(host + "\t" + std::string(KindWord(row.Kind)) + "\t" +
                                        std::string(row.Text)))
                << host << " " << row.Text << " is not in data/whois-wordings.tsv";
    }
    EXPECT_EQ(rows, sources.size()) << "a row of the data file is in no table";
}

// How many suffixes with a port-43 server have a not-found wording of that
// very host (data/tld-servers.tsv): the figure data/SOURCES.md gives.
TEST(WhoisWording, NotFoundWordingsOfTheSuffixesOwnHosts) {
    std::set<std::string> hosts;
    for (const TWording& row : RegistryWordings()) {
        std::istringstream listed{std::string(row.Hosts)};
        for (std::string host; row.Kind == TWordingKind::NotFound && listed >> host;)
            hosts.insert(host);
    }
    std::istringstream lines(
        testpaths::ReadFileBytes(testpaths::SourceDir() + "/data/tld-servers.tsv"));
    int withServer = 0;
    int withWording = 0;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() < 3 || fields[0] == "tld" || fields[2].empty())
            continue;
        ++withServer;
        withWording += hosts.contains(WordingHost(fields[2]));
    }
    std::printf("Suffixes with a port-43 server: %d, with a not-found wording of its host: %d\n",
                withServer, withWording);
    EXPECT_EQ(withServer, 872);
    EXPECT_EQ(withWording, 155);
}

TEST(WhoisWording, HostIsKeyedWithoutPortCaseOrFinalDot) {
    EXPECT_EQ(WordingHost("WHOIS.NIC.FR:43"), "whois.nic.fr");
    EXPECT_EQ(WordingHost("whois.nic.fr."), "whois.nic.fr");
    EXPECT_EQ(WordingHost("127.0.0.1:4343"), "127.0.0.1");
    EXPECT_EQ(WordingHost(""), "");
    EXPECT_EQ(WordingText("A \t\t B\r\n  C"), "a b\r\n c");
}

} // namespace
