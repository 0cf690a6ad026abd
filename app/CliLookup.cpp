#include "app/CliCandidates.h"
#include "app/CliCommands.h"
#include "app/CliProxies.h"
#include "app/CliQueryOptions.h"

#include "engine/GbkCodec.h"
#include "engine/NameQuery.h"
#include "engine/QueryDomain.h"
#include "engine/RegistryData.h"
#include "engine/SecondLook.h"
#include "engine/Unit_Functions.h"
#include "engine/Verdict.h"
#include "engine/dns/DelegationCheck.h"
#include "engine/dns/DnsFirstRule.h"

#include <cstdio>
#include <string>

// lookup [--ip] DOMAIN...: asks each domain of the server its suffix has
// (port 43 or RDAP) and shows what the engine reads in the answer, for trying
// the engine by hand against a real or a fake server (TAVIREL_WHOIS_SERVER,
// TAVIREL_RDAP_BASE). Domains come in the terminal's UTF-8; everything shown
// goes back out in UTF-8.

namespace {

constexpr const char* Program = "tavirelbrisvane-cli lookup";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli lookup [--ip] [--protocol auto|whois|rdap]\n"
    "           [--registry-data FILE] [--proxy URL]... [--proxy-file FILE] DOMAIN...\n"
    "  for each domain: whether it is a valid name (one label and a top-level domain;\n"
    "  names below a second-level suffix such as example.co.uk are out of scope), the\n"
    "  name asked, the protocol and server chosen, the proxy asked through, the reply and what "
    "ended it, the\n"
    "  referral and whether it was followed, the verdict (with its reason when\n"
    "  unknown), and the creation and expiration dates; before the registry, what the\n"
    "  TLD's own name servers say of the name (the dns: line; a delegation is what\n"
    "  check --dns on takes for registered)\n"
    "  --ip               resolve the domain's IPv4 address too (asks the name service)\n"
    "  --dns on|off       ask the TLD's name servers first (default on; off with proxies\n"
    "                     unless on is given)\n";
constexpr const char* UsageEnd = "exit status: 0 done, 2 bad arguments or a bad proxy\n";

void PrintLine(const char* label, const std::string& gbkValue) {
    std::printf("%s: %s\n", label, GbkToUtf8(gbkValue).c_str());
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

// "free", "registered", or "unknown (failed: no byte for 15 s)".
std::string VerdictText(const TVerdict& verdict) {
    std::string text(VerdictWord(verdict.Kind));
    if (verdict.Kind == TVerdictKind::Unknown)
        text += " (" + std::string(ReasonWord(verdict.Reason)) + ": " + verdict.Detail + ")";
    return text;
}

// The server asked, and with a stand-in server whom the suffix would have
// been asked.
std::string ServerText(const TNameAnswer& answer) {
    if (answer.Choice.Route.Source != TServerSource::Override)
        return answer.Server;
    const TServerRoute& suffix = answer.Choice.SuffixRoute;
    return answer.Server + " (TAVIREL_WHOIS_SERVER; the suffix's server: " +
           std::string(ProtocolWord(suffix.Protocol)) + " " +
           (suffix.Server.empty() ? "-" : suffix.Server) + ")";
}

void PrintReply(const std::string& gbkReply) {
    const std::string shown = GbkToUtf8(gbkReply);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    if (!shown.empty() && shown.back() != '\n')
        std::fputc('\n', stdout);
    std::printf("end of reply\n");
}

// The referral the reply names: followed when the guard allows it (its reply
// shown), else refused with the reason.
void PrintReferral(const std::string& reply, const std::string& queryName,
                   TProxyRotation* proxies) {
    const std::string named = ReadReferralServer(reply);
    if (named.size() <= queryfields::MinReferralBytes)
        return;
    TReferral referral = DecideReferral(named);
    if (!referral.Allowed()) {
        PrintLine("referral", ReferralRefusalText(referral));
        return;
    }
    AskReferral(referral, queryName, proxies);
    PrintLine("referral", named + " (asked of " + referral.Server + ")");
    std::printf("referral reply: %zu bytes (%s)\n", referral.Answer.Reply.size(),
                GbkToUtf8(DescribeExchangeEnd(referral.Answer, referral.Server)).c_str());
    PrintReply(referral.Answer.Reply);
}

void PrintWhoisAnswer(const TNameAnswer& answer, TProxyRotation* proxies) {
    const std::string& reply = answer.Reply;
    PrintReply(reply);
    std::printf("available: %s\n", YesNo(IsDomainAvailable(reply)));
    PrintReferral(reply, answer.Name.QueryName, proxies);
    // A free over port 43 stands only when RDAP, or a second query beside a
    // name the server must know, agreed.
    if (!answer.Confirmation.empty())
        PrintLine("confirmation", answer.Confirmation);
    // Settled: no proxy was usable, the server was not asked.
    PrintLine("verdict",
              VerdictText(answer.Settled ? *answer.Settled
                                         : ReadWhoisVerdict(answer.Whois, answer.Server)));
    // The dates as the result lines show them.
    PrintLine("creation date", ReadRegTime(reply));
    PrintLine("expiration date", ReadExpTime(reply));
}

void PrintRdapAnswer(const TNameAnswer& answer) {
    const std::string indented = IndentRdapJson(answer.Rdap->Body);
    PrintReply(indented.empty() ? answer.Reply : Utf8ToGbk(indented));
    PrintLine("verdict", VerdictText(*answer.Settled));
    PrintLine("creation date", answer.RdapReading->RegTime);
    PrintLine("expiration date", answer.RdapReading->ExpTime);
}

// "delegated: a.nic.example (127.0.0.1:53): NS ns1.host.example", "not
// delegated (nxdomain): ...", or why nothing was asked.
std::string DnsText(const std::string& queryName, const TDnsFirstDecision& dnsFirst) {
    if (!dnsFirst.On)
        return "not asked (" + dnsFirst.Why + ")";
    const TDelegation delegation = AskDelegation(queryName);
    if (!delegation.Asked)
        return "not asked (" + delegation.Detail + ")";
    if (delegation.Delegated)
        return "delegated: " + delegation.Detail;
    return "not delegated (" + std::string(DnsOutcomeWord(delegation.Outcome)) +
           "): " + delegation.Detail;
}

void LookUpOne(const std::string& terminalDomain, const TQueryOptions& options,
               const TRegistryData& data, bool resolveAddress, TProxyRotation* proxies,
               const TDnsFirstDecision& dnsFirst) {
    const std::string domain = Utf8ToGbk(terminalDomain);
    const TNameQuerySettings settings{&data, options.Preference, nullptr, proxies, std::nullopt};
    TNameAnswer answer = AskForName(domain, settings);
    LookAgainNow(answer, settings);

    PrintLine("domain", domain);
    const bool valid = answer.Name.Problem == TNameProblem::None;
    std::printf("valid: %s\n", valid ? "yes" : ("no (" + answer.Name.Reason + ")").c_str());
    if (valid)
        PrintLine("query name", answer.Name.QueryName);
    if (valid && answer.Protocol != TQueryProtocol::None)
        PrintLine("dns", DnsText(answer.Name.QueryName, dnsFirst));
    PrintLine("protocol", std::string(ProtocolWord(answer.Protocol)));
    PrintLine("server", answer.Server.empty() ? "-" : ServerText(answer));
    if (proxies != nullptr && answer.Protocol != TQueryProtocol::None)
        PrintLine("proxy", answer.ProxyKey.empty() ? std::string("none usable") : answer.ProxyKey);
    if (!answer.FallbackReason.empty())
        PrintLine("fallback", "port 43: " + answer.FallbackReason + "; asked over RDAP");
    if (answer.Protocol != TQueryProtocol::None)
        std::printf("reply: %zu bytes (%s)\n", answer.Reply.size(),
                    GbkToUtf8(answer.EndText).c_str());
    if (answer.Protocol == TQueryProtocol::Whois)
        PrintWhoisAnswer(answer, proxies);
    else if (answer.Protocol == TQueryProtocol::Rdap)
        PrintRdapAnswer(answer);
    else
        PrintLine("verdict", VerdictText(*answer.Settled));
    // The name as asked, or as given when the rule refused it.
    if (resolveAddress)
        PrintLine("ip", GetHostIP(valid ? answer.Name.QueryName : domain));
    std::printf("\n");
}

} // namespace

int RunLookupCommand(const std::vector<std::string>& args) {
    const std::string usage = std::string(Usage) + QueryOptionsUsage + ProxyOptionsUsage + UsageEnd;
    if (AsksForHelp(args)) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    bool resolveAddress = false;
    TDnsChoice dns = TDnsChoice::Default;
    TQueryOptions options;
    TProxyOptions proxyOptions;
    std::vector<std::string> domains;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (auto error = TakeQueryOption(args, i, options)) {
            if (!error->empty())
                return FailCommand(Program, 2, *error + "\n" + usage);
        } else if (std::optional<std::string> proxyError; proxyOptions.Take(args, i, proxyError)) {
            if (proxyError)
                return FailCommand(Program, 2, *proxyError + "\n" + usage);
        } else if (arg == "--ip") {
            resolveAddress = true;
        } else if (arg == "--dns") {
            const std::optional<TDnsChoice> choice =
                i + 1 < args.size() ? ParseDnsChoice(args[i + 1]) : std::nullopt;
            if (!choice)
                return FailCommand(Program, 2, "--dns needs on or off\n" + usage);
            dns = *choice;
            ++i;
        } else if (arg.starts_with("--")) {
            return FailCommand(Program, 2, "unknown option '" + arg + "'\n" + usage);
        } else {
            domains.push_back(arg);
        }
    }
    if (domains.empty())
        return FailCommand(Program, 2, "no domain given\n" + usage);
    std::string error;
    const std::optional<std::shared_ptr<TProxyRotation>> proxies =
        ReadProxyOptions(proxyOptions, error);
    if (!proxies)
        return FailCommand(Program, 2, error);
    const std::shared_ptr<const TRegistryData> data = LoadQueryRegistryData(Program, options);
    const TDnsFirstDecision dnsFirst = DecideDnsFirst(dns, *proxies != nullptr);
    for (const std::string& domain : domains) {
        LookUpOne(domain, options, *data, resolveAddress, proxies->get(), dnsFirst);
        std::fflush(stdout);
    }
    return 0;
}
