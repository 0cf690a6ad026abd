#include "app/CliCandidates.h"
#include "app/CliCommands.h"
#include "app/CliJournal.h"
#include "app/CliProxies.h"
#include "app/CliQueryOptions.h"
#include "app/CliResultFormat.h"

#include "batch/BatchController.h"
#include "batch/GbkListModel.h"
#include "batch/ServerPace.h"
#include "engine/GbkCodec.h"
#include "engine/IntegerText.h"
#include "engine/QueryDomain.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"
#include "engine/UtcTimeText.h"
#include "engine/dns/DnsFirstRule.h"
#include "engine/zone/ZoneIndex.h"

#include <QEventLoop>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

constexpr const char* Program = "tavirelbrisvane-cli check";
constexpr const char* DefaultThreads = "5";
constexpr const char* DefaultRetries = "3";
constexpr int MostRetries = 10;
constexpr const char* DefaultShow = "domain,regtime,exptime";
// More queries at once would need more sockets and threads than a process
// commonly gets, and no WHOIS server answers that many from one address.
constexpr int MaxThreads = 256;
// Invalid lines listed one by one; the rest are only counted.
constexpr std::size_t ListedSkippedLines = 20;

constexpr const char* Usage =
    "usage: tavirelbrisvane-cli check [--threads N] [--retries N] [--pace HOST=N/s]...\n"
    "           [--show LIST] [--format FORMAT] [--free-out FILE] [--unknown-out FILE]\n"
    "           [--results-out FILE] [--journal FILE] [--protocol auto|whois|rdap]\n"
    "           [--dns on|off] [--zone FILE]... [--confirm on|off] [--registry-data FILE]\n"
    "           [--proxy URL]... [--proxy-file FILE] [--gbk] [FILE]\n"
    "  FILE               one domain name per line (\"-\" or none: standard input); each\n"
    "                     valid name is checked once, invalid lines are listed on\n"
    "                     standard error with the reason and skipped. Names are one\n"
    "                     label and a top-level domain (my-shop.com, "
    "\xe4\xbe\x8b\xe5\xad\x90.\xe4\xb8\xad\xe5\x9b\xbd);\n"
    "                     names below a second-level suffix (example.co.uk) are out\n"
    "                     of scope\n"
    "  --threads N        queries at once, 1 to 256 (default 5)\n"
    "  --retries N        how often a name left unknown for a reason time can mend\n"
    "                     (throttled, unavailable, failed, cut) is asked again, 0 to 10\n"
    "                     (default 3); the wait is the server's when it names one, else\n"
    "                     5 s, 15 s, 45 s, ... (at most 10 minutes). A server that names\n"
    "                     a longer wait is not waited for: its names end unknown\n"
    "                     (throttled) and the summary says when it may be asked again\n"
    "  --pace HOST=N/s    ask HOST at most N queries a second, N from 1/60 (0.0167) to\n"
    "                     1000, fractions allowed; the pace still halves when HOST\n"
    "                     refuses; repeatable. Without it a server starts at its\n"
    "                     registry's published limit, or unlimited; with proxies, each\n"
    "                     proxy has its own pace and waits per server\n"
    "  --show LIST        comma list of domain,regtime,exptime,email,ip: what the result\n"
    "                     lines show (default domain,regtime,exptime); email and ip cost\n"
    "                     a referral query and a name lookup\n"
    "  --format FORMAT    standard output: text (the result lines, default), csv (RFC 4180,\n"
    "                     UTF-8, a header row) or jsonl (one JSON object per line); csv and\n"
    "                     jsonl carry domain, verdict, reason, detail, creation_date,\n"
    "                     expiry_date, email, ip, server, method\n"
    "  --dns on|off       ask each TLD's own name servers first (default on; off with\n"
    "                     proxies unless on is given): a name they delegate is\n"
    "                     registered without a registry query (method dns); any other\n"
    "                     name is asked of the registry. DNS never makes a name free\n"
    "  --zone FILE        a TLD zone file (as registries publish it, or a master file;\n"
    "                     plain or .gz): a name it delegates is registered without a\n"
    "                     query (method zone); repeatable. Indexed once into the cache\n"
    "                     folder and used again while the file is unchanged\n"
    "  --confirm on|off   a name a port-43 server reads free is reported free only when\n"
    "                     its suffix's own RDAP service agrees (404); otherwise it is\n"
    "                     unknown (unconfirmed) and asked again (default on)\n"
    "  --free-out FILE    save the free names (GBK, CR LF after every line)\n"
    "  --unknown-out FILE save the names left without a verdict, each with a tab and its\n"
    "                     reason after it (for an unreadable reply a tab and the reply's\n"
    "                     first line too), ready to check again (a tab ends a name)\n"
    "  --results-out FILE save the result lines as the window saves them\n"
    "  --journal FILE     keep every result in FILE (SQLite) as it comes; run the same\n"
    "                     command again to ask only the names still without a verdict\n"
    "                     and get the whole result, the kept results first\n"
    "  --gbk              text lines in the program's GBK bytes instead of UTF-8\n";
constexpr const char* UsageEnd =
    "exit status: 0 every name got a verdict, 1 some name is unknown (all results are\n"
    "still written) or a file could not be saved, 2 bad arguments or an unreadable FILE\n";

struct TCheckOptions {
    std::string Threads = DefaultThreads;
    std::string Retries = DefaultRetries;
    std::map<std::string, double> Paces;
    TDisplayFlags Flags;
    TResultFormat Format = TResultFormat::Text;
    std::string FreeOut;
    std::string UnknownOut;
    std::string ResultsOut;
    std::string Journal;
    bool Gbk = false;
    std::string Input = "-";
    TQueryOptions Query;
    TProxyOptions Proxies;
    TDnsChoice Dns = TDnsChoice::Default;
    bool ConfirmFree = true;
    std::vector<std::string> Zones;
};

std::string UsageText() {
    return std::string(Usage) + QueryOptionsUsage + ProxyOptionsUsage + UsageEnd;
}

int BadArguments(const std::string& message) {
    return FailCommand(Program, 2, message);
}

// "--show domain,regtime,..." into the five flags. Every item must be one of
// the five: an empty item is as much a mistake as an unknown one.
std::optional<std::string> ParseShowList(const std::string& list, TDisplayFlags& flags) {
    flags = TDisplayFlags{false, false, false, false, false};
    std::stringstream items(list + ",");
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item == "domain")
            flags.ShowDomain = true;
        else if (item == "regtime")
            flags.ShowRegTime = true;
        else if (item == "exptime")
            flags.ShowExpTime = true;
        else if (item == "email")
            flags.ShowEmail = true;
        else if (item == "ip")
            flags.ShowIPAddress = true;
        else
            return "--show: " +
                   (item.empty() ? std::string("empty item") : "unknown item '" + item + "'") +
                   " in '" + list + "' (use domain,regtime,exptime,email,ip)";
    }
    return std::nullopt;
}

std::optional<std::string> CheckThreadCount(const std::string& text) {
    const std::optional<std::int32_t> count = ParseIntegerText(text);
    if (!count)
        return "--threads: " + NotAnIntegerMessage(text);
    if (*count < 1 || *count > MaxThreads)
        return "--threads: " + std::to_string(*count) + " is out of range (1 to " +
               std::to_string(MaxThreads) + ")";
    return std::nullopt;
}

std::optional<std::string> CheckRetryCount(const std::string& text) {
    const std::optional<std::int32_t> count = ParseIntegerText(text);
    if (!count)
        return "--retries: " + NotAnIntegerMessage(text);
    if (*count < 0 || *count > MostRetries)
        return "--retries: " + std::to_string(*count) + " is out of range (0 to " +
               std::to_string(MostRetries) + ")";
    return std::nullopt;
}

// The --pace range in words.
std::string PaceRangeText() {
    return "from 1/60 (0.0167, one query a minute) to " +
           std::to_string(static_cast<int>(FastestUserPace));
}

// "HOST=N/s" or "HOST=N": a server and queries a second, within the range a
// pace keeps.
std::optional<std::string> ParsePace(const std::string& text,
                                     std::map<std::string, double>& paces) {
    const std::size_t equals = text.rfind('=');
    const std::string host = LowerAscii(TrimText(text.substr(0, std::min(equals, text.size()))));
    std::string rate = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (rate.size() > 2 && rate.compare(rate.size() - 2, 2, "/s") == 0)
        rate.resize(rate.size() - 2);
    char* end = nullptr;
    const double value = rate.empty() ? 0 : std::strtod(rate.c_str(), &end);
    if (host.empty() || rate.empty() || *end != '\0' || !std::isfinite(value) || value <= 0)
        return "--pace: '" + text +
               "' is not HOST=N/s with N above 0 (for example whois.nic.uk=5/s)";
    if (value < SlowestPace || value > FastestUserPace)
        return "--pace: '" + text + "': N is out of range (" + PaceRangeText() +
               " queries a second)";
    paces[host] = value;
    return std::nullopt;
}

// Returns the error text, or nothing when the arguments are good. Nothing
// here touches a file.
std::optional<std::string> ParseCheckArguments(const std::vector<std::string>& args,
                                               TCheckOptions& options) {
    std::string show = DefaultShow;
    std::string format = "text";
    bool haveInput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string pace, dns, zone, confirm;
        std::string* value = arg == "--threads"       ? &options.Threads
                             : arg == "--retries"     ? &options.Retries
                             : arg == "--pace"        ? &pace
                             : arg == "--show"        ? &show
                             : arg == "--format"      ? &format
                             : arg == "--free-out"    ? &options.FreeOut
                             : arg == "--unknown-out" ? &options.UnknownOut
                             : arg == "--results-out" ? &options.ResultsOut
                             : arg == "--journal"     ? &options.Journal
                             : arg == "--dns"         ? &dns
                             : arg == "--zone"        ? &zone
                             : arg == "--confirm"     ? &confirm
                                                      : nullptr;
        if (value) {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            *value = args[++i];
            if (value == &pace) {
                if (auto error = ParsePace(pace, options.Paces))
                    return error;
            } else if (value == &dns) {
                const std::optional<TDnsChoice> choice = ParseDnsChoice(dns);
                if (!choice)
                    return "--dns: '" + dns + "' is neither on nor off";
                options.Dns = *choice;
            } else if (value == &confirm) {
                if (confirm != "on" && confirm != "off")
                    return "--confirm: '" + confirm + "' is neither on nor off";
                options.ConfirmFree = confirm == "on";
            } else if (value == &zone) {
                if (zone.empty())
                    return "--zone needs a file";
                options.Zones.push_back(zone);
            }
        } else if (auto error = TakeQueryOption(args, i, options.Query)) {
            if (!error->empty())
                return error;
        } else if (std::optional<std::string> proxyError;
                   options.Proxies.Take(args, i, proxyError)) {
            if (proxyError)
                return proxyError;
        } else if (arg == "--gbk") {
            options.Gbk = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else if (haveInput) {
            return "only one input file may be given";
        } else {
            options.Input = arg;
            haveInput = true;
        }
    }
    if (auto error = CheckThreadCount(options.Threads))
        return error;
    if (auto error = CheckRetryCount(options.Retries))
        return error;
    if (auto error = ParseShowList(show, options.Flags))
        return error;
    const std::optional<TResultFormat> parsed = ParseResultFormat(format);
    if (!parsed)
        return "--format: unknown format '" + format + "' (use text, csv or jsonl)";
    options.Format = *parsed;
    return std::nullopt;
}

// A text of the program for the terminal: UTF-8, or its own bytes with --gbk.
std::string ForTerminal(const std::string& gbk, bool keepGbk) {
    return keepGbk ? gbk : GbkToUtf8(gbk);
}

void ReportSkippedLines(const TSkippedLines& skipped, bool gbk) {
    for (std::size_t i = 0; i < skipped.First.size(); ++i) {
        const std::string reason = i < skipped.Reasons.size() ? skipped.Reasons[i] : "";
        std::fprintf(stderr, "%s: skipped, not a valid domain name: %s (%s)\n", Program,
                     ForTerminal(skipped.First[i], gbk).c_str(), ForTerminal(reason, gbk).c_str());
    }
    if (skipped.Count > skipped.First.size())
        std::fprintf(stderr, "%s: skipped %zu more invalid lines\n", Program,
                     skipped.Count - skipped.First.size());
}

// How the checked names came out, and what it took.
struct TTally {
    int Free = 0;
    int Registered = 0;
    int Unknown = 0;
    // The reasons of the unknown names (their ReasonWord, as a journal keeps it).
    std::map<std::string, int> UnknownBy;
    int Queries = 0;
    int Throttled = 0; // queries the server refused for too many queries
    // The registered names by what decided them ("dns", "whois", ...).
    std::map<std::string, int> RegisteredBy;
    // The free names by what confirmed them ("rdap", "second query").
    std::map<std::string, int> ConfirmedBy;

    void Add(const TBatchResult& result) {
        (result.Kind == TVerdictKind::Free         ? Free
         : result.Kind == TVerdictKind::Registered ? Registered
                                                   : Unknown)++;
        if (result.Kind == TVerdictKind::Unknown)
            ++UnknownBy[result.Reason];
        if (result.Kind == TVerdictKind::Registered)
            ++RegisteredBy[result.Method.empty() ? "whois" : result.Method];
    }
    // A name's last query: a free it confirmed, by the second source.
    void AddConfirmation(const TQueryDomain& job) {
        if (job.Verdict.Kind != TVerdictKind::Free || job.Confirmation.empty())
            return;
        ++ConfirmedBy[job.Confirmation.rfind("RDAP", 0) == 0 ? "rdap" : "second query"];
    }
    // "free confirmed by rdap 2, second query 1; 1 unconfirmed", or "" when
    // no free was confirmed or left unconfirmed.
    std::string ConfirmationText() const {
        const auto unconfirmed =
            UnknownBy.find(std::string(ReasonWord(TVerdictReason::Unconfirmed)));
        const int left = unconfirmed == UnknownBy.end() ? 0 : unconfirmed->second;
        if (ConfirmedBy.empty() && left == 0)
            return "";
        std::string text = "free confirmed by";
        const char* separator = " ";
        for (const auto& [source, count] : ConfirmedBy) {
            text += separator + source + " " + std::to_string(count);
            separator = ", ";
        }
        if (ConfirmedBy.empty())
            text += " none";
        return text + "; " + std::to_string(left) + " unconfirmed";
    }
    void AddQuery(const TVerdict& verdict) {
        ++Queries;
        if (verdict.Reason == TVerdictReason::Throttled)
            ++Throttled;
    }
    int Checked() const { return Free + Registered + Unknown; }
    // "2 unknown (1 throttled, 1 cut)", "0 unknown"
    std::string UnknownText() const {
        std::string text = std::to_string(Unknown) + " unknown";
        const char* separator = " (";
        for (const auto& [reason, count] : UnknownBy) {
            text += separator + std::to_string(count) + " " + reason;
            separator = ", ";
        }
        return UnknownBy.empty() ? text : text + ")";
    }
    // "registered by dns 90, whois 10"
    std::string RegisteredByText() const {
        std::string text = "registered by";
        const char* separator = " ";
        for (const auto& [method, count] : RegisteredBy) {
            text += separator + method + " " + std::to_string(count);
            separator = ", ";
        }
        return text;
    }
};

// Progress on standard error: redrawn in place on a terminal, otherwise only
// the closing summary.
class TProgressReport {
public:
    TProgressReport() : FTerminal(::isatty(STDERR_FILENO) == 1), FStart(TClock::now()) {}

    // Results a journal kept from earlier runs: counted, but not in the rate.
    int Kept = 0;

    void Update(const TTally& tally, int total) {
        if (!FTerminal)
            return;
        const auto now = TClock::now();
        const int done = tally.Checked();
        if (done < total && now - FLastDraw < std::chrono::milliseconds(100))
            return;
        FLastDraw = now;
        std::fprintf(stderr, "\r%d/%d  free %d  unknown %d  %.1f/s\033[K", done, total, tally.Free,
                     tally.Unknown, Rate(done, now));
        std::fflush(stderr);
    }

    void Summary(const TTally& tally, std::size_t skipped) {
        const auto now = TClock::now();
        if (FTerminal)
            std::fprintf(stderr, "\r\033[K");
        std::fprintf(stderr,
                     "checked %d names: %d free, %d registered, %s; %zu skipped as "
                     "invalid; in %.2f s (%.1f/s); %d queries, %d throttled\n",
                     tally.Checked(), tally.Free, tally.Registered, tally.UnknownText().c_str(),
                     skipped, Seconds(now), Rate(tally.Checked(), now), tally.Queries,
                     tally.Throttled);
    }

private:
    using TClock = std::chrono::steady_clock;

    double Seconds(TClock::time_point now) const {
        return std::chrono::duration<double>(now - FStart).count();
    }
    double Rate(int done, TClock::time_point now) const {
        const double seconds = Seconds(now);
        return seconds > 0 ? (done - Kept) / seconds : 0.0;
    }

    bool FTerminal;
    TClock::time_point FStart;
    TClock::time_point FLastDraw{};
};

// A line of --unknown-out: the name, its reason, and for a reply no rule can
// read what the reply said first, so the user can look at it.
std::string UnknownLine(const TBatchResult& result) {
    if (result.Reason.empty())
        return result.Domain;
    std::string line = result.Domain + "\t" + result.Reason;
    if (result.Reason == ReasonWord(TVerdictReason::Unreadable)) {
        std::string detail = result.Detail;
        for (char& c : detail) {
            if (c == '\t' || c == '\r' || c == '\n')
                c = ' ';
        }
        line += "\t" + detail;
    }
    return line;
}

// "2026-08-10 12:00:00 UTC"
std::string UtcText(std::chrono::system_clock::time_point when) {
    return UtcTimeText(when, "%Y-%m-%d %H:%M:%S UTC");
}

// The servers the batch did not wait for, after the summary.
void ReportPutOffServers(const TBatchController& batch) {
    for (const auto& [server, until] : batch.PutOffServers())
        std::fprintf(stderr,
                     "%s: %s asked for a wait longer than a batch sits out; its names were left "
                     "unknown (throttled); it may be asked again after %s\n",
                     Program, server.c_str(), UtcText(until).c_str());
}

// The zones of --zone, each opened once (built into the cache folder when
// new or changed); a zone older than two days is named, since names deleted
// from it since would still read registered.
std::optional<TZoneIndexes> OpenZones(const std::vector<std::string>& files, std::string& error) {
    TZoneIndexes zones;
    const auto now = std::chrono::system_clock::now();
    for (const std::string& file : files) {
        TZoneIndex::TOpening opening;
        std::shared_ptr<const TZoneIndex> zone = TZoneIndex::Open(file, error, &opening);
        if (!zone)
            return std::nullopt;
        if (zone->IsOld(now))
            std::fprintf(stderr,
                         "%s: warning: the zone file %s is of %s, more than 48 hours ago; a name "
                         "deleted since still reads registered\n",
                         Program, file.c_str(), UtcText(zone->Date()).c_str());
        zones.push_back(std::move(zone));
    }
    return zones;
}

// Why DNS first is off, when the user may not expect it: asked for it, or
// proxies turned it off.
void ReportDnsFirst(const TDnsFirstDecision& decision, TDnsChoice choice, bool proxies) {
    if (decision.On || choice == TDnsChoice::Off || (choice == TDnsChoice::Default && !proxies))
        return;
    std::fprintf(stderr, "%s: DNS first is off: %s\n", Program, decision.Why.c_str());
}

// After the summary: what decided the registered names, and the TLDs whose
// name servers proved nothing this run.
void ReportEarlyStages(const TBatchController& batch, const TTally& tally) {
    if (!batch.DnsFirst() && tally.RegisteredBy.size() <= 1 && !tally.RegisteredBy.count("zone"))
        return;
    if (!tally.RegisteredBy.empty())
        std::fprintf(stderr, "%s\n", tally.RegisteredByText().c_str());
    for (const auto& [tld, why] : batch.DnsTldsOff())
        std::fprintf(stderr, "%s: DNS first was off for .%s: %s\n", Program, tld.c_str(),
                     why.c_str());
}

void WriteOut(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

bool SaveList(const std::string& path, const std::vector<std::string>& lines) {
    if (path.empty())
        return true;
    std::string error;
    if (SaveCandidateFile(path, lines, error))
        return true;
    FailCommand(Program, 1, error);
    return false;
}

} // namespace

int RunCheckCommand(const std::vector<std::string>& args) {
    // Every result line leaves as soon as its job ends, also into a pipe, so
    // whatever finished is out even if the process is killed later.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    if (AsksForHelp(args)) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    TCheckOptions options;
    if (const auto error = ParseCheckArguments(args, options))
        return BadArguments(*error + "\n" + UsageText());

    std::string error;
    for (const std::string* out : {&options.FreeOut, &options.UnknownOut, &options.ResultsOut}) {
        if (!out->empty() && !CanCreateOutputFile(*out, error))
            return BadArguments(error);
    }
    const std::optional<std::shared_ptr<TProxyRotation>> proxies =
        ReadProxyOptions(options.Proxies, error);
    if (!proxies)
        return BadArguments(error);
    const std::optional<TZoneIndexes> zones = OpenZones(options.Zones, error);
    if (!zones)
        return BadArguments(error);
    const std::shared_ptr<const TRegistryData> registryData =
        LoadQueryRegistryData(Program, options.Query);
    std::vector<std::string> candidates;
    TSkippedLines skipped;
    if (!ImportCandidateFile(options.Input, candidates, error, nullptr, &skipped,
                             ListedSkippedLines, registryData))
        return BadArguments(error);
    ReportSkippedLines(skipped, options.Gbk);
    std::unique_ptr<TBatchJournal> journal;
    if (!options.Journal.empty()) {
        journal = OpenCheckJournal(
            options.Journal, candidates, options.Flags,
            {options.Input, options.FreeOut, options.UnknownOut, options.ResultsOut}, error);
        if (!journal)
            return BadArguments(error);
    }

    TGbkListModel domains, queryState, noReg, domainInfo;
    domains.SetLines(std::move(candidates));
    const TDisplayFlags flags = options.Flags;
    TBatchController batch(domains, queryState, noReg, domainInfo, [flags] { return flags; });
    batch.SetRegistryData(registryData);
    batch.SetUserPaces(options.Paces);
    batch.SetProtocolPreference(options.Query.Preference);
    batch.SetProxies(*proxies);
    const bool proxiesSet = *proxies != nullptr;
    const TDnsFirstDecision dnsFirst = DecideDnsFirst(options.Dns, proxiesSet);
    ReportDnsFirst(dnsFirst, options.Dns, proxiesSet);
    batch.SetDnsFirst(dnsFirst.On);
    batch.SetConfirmFree(options.ConfirmFree);
    batch.SetZones(*zones);

    if (options.Format == TResultFormat::Csv)
        WriteOut(CsvHeaderRow());
    TTally tally;
    std::vector<std::string> unknown;
    TProgressReport progress;
    QEventLoop loop;
    const auto report = [&](const TBatchResult& result) {
        WriteOut(FormattedResult(result, options.Format, options.Gbk));
        tally.Add(result);
        // The tab ends the name for the import, so the file checks again as it is.
        if (!HasVerdict(result))
            unknown.push_back(UnknownLine(result));
    };
    if (journal) {
        ReplayCheckJournal(*journal, noReg, domainInfo, report);
        progress.Kept = tally.Checked();
    }
    QObject::connect(&batch, &TBatchController::BudgetLedgerFailed, [](const std::string& why) {
        std::fprintf(stderr, "%s: the daily budgets cannot be kept: %s\n", Program, why.c_str());
    });
    // A name of a server the batch put off was not asked.
    QObject::connect(&batch, &TBatchController::AttemptEnded, [&](const TQueryDomain* job) {
        if (!job->Settled)
            tally.AddQuery(job->Verdict);
    });
    // A name's journal entry is its last result, after its retries.
    QObject::connect(&batch, &TBatchController::QueryEnded, [&](const TQueryDomain* job) {
        const TBatchResult result = BatchResultOfJob(*job);
        if (journal)
            journal->Record(result);
        tally.AddConfirmation(*job);
        report(result);
        progress.Update(tally, domains.Count());
    });
    QObject::connect(&batch, &TBatchController::BatchEnded, &loop, &QEventLoop::quit);

    const std::string message =
        journal ? batch.Start(options.Threads, options.Retries, journal->PositionsLeft())
                : batch.Start(options.Threads, options.Retries);
    if (!message.empty())
        return BadArguments("--threads: " + GbkToUtf8(message));
    if (batch.IsActive())
        loop.exec();
    std::fflush(stdout);
    progress.Summary(tally, skipped.Count);
    ReportEarlyStages(batch, tally);
    if (const std::string confirmed = tally.ConfirmationText(); !confirmed.empty())
        std::fprintf(stderr, "%s\n", confirmed.c_str());
    ReportPutOffServers(batch);

    const bool saved = SaveList(options.FreeOut, noReg.Lines()) &
                       SaveList(options.UnknownOut, unknown) &
                       SaveList(options.ResultsOut, domainInfo.Lines());
    const bool journaled = !journal || EndCheckJournal(*journal);
    return saved && journaled && tally.Unknown == 0 ? 0 : 1;
}
