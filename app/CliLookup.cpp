#include "app/CliCandidates.h"
#include "app/CliCommands.h"
#include "app/CliProxies.h"

#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"
#include "engine/Verdict.h"
#include "engine/WhoisAsking.h"

#include <cstdio>
#include <string>

// lookup [--ip] [--proxy URL]... DOMAIN...: asks the WHOIS server of each domain and shows what
// the engine reads in the reply, for trying the engine by hand against a real
// or a fake server (TAVIREL_WHOIS_SERVER). Domains come in the terminal's
// UTF-8; everything shown goes back out in UTF-8.

namespace {

constexpr const char* Program = "tavirelbrisvane-cli lookup";
constexpr const char* UsageStart =
    "usage: tavirelbrisvane-cli lookup [--ip] [--proxy URL]... [--proxy-file FILE] DOMAIN...\n"
    "  for each domain: whether it is a valid name, the server chosen, the proxy asked\n"
    "  through, the reply and what ended it, the free/registered test, the verdict\n"
    "  (with its reason when unknown), and the creation and expiration dates\n"
    "  --ip               resolve the domain's IPv4 address too (asks the name service)\n";
constexpr const char* UsageEnd = "exit status: 0 done, 2 bad arguments or a bad proxy\n";

std::string Usage() {
    return std::string(UsageStart) + ProxyOptionsUsage + UsageEnd;
}

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

void LookUpOne(const std::string& terminalDomain, bool resolveAddress, TProxyRotation* proxies) {
    const std::string domain = Utf8ToGbk(terminalDomain);
    const std::string server = GetWhoisServer(domain);
    const TWhoisAsking asked = AskWhoisServer(domain, server, proxies);
    const std::string& reply = asked.Answer.Reply;

    PrintLine("domain", domain);
    std::printf("valid: %s\n", YesNo(IsValidDomain(domain)));
    PrintLine("server", server);
    if (proxies != nullptr)
        PrintLine("proxy", asked.ProxyKey.empty() ? std::string("none usable") : asked.ProxyKey);
    std::printf("reply: %zu bytes (%s)\n", reply.size(), GbkToUtf8(asked.EndText).c_str());
    const std::string shown = GbkToUtf8(reply);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    if (!shown.empty() && shown.back() != '\n')
        std::fputc('\n', stdout);
    std::printf("end of reply\n");
    std::printf("available: %s\n", YesNo(IsDomainAvailable(reply)));
    PrintLine("verdict", VerdictText(ReadAskedVerdict(asked, server)));
    PrintLine("creation date", ExtractWhoisField(reply, "creation date", "\n"));
    PrintLine("expiration date", ExtractWhoisField(reply, "expiration date", "\n"));
    if (resolveAddress)
        PrintLine("ip", GetHostIP(domain));
    std::printf("\n");
}

} // namespace

int RunLookupCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage().c_str(), stdout);
        return 0;
    }
    bool resolveAddress = false;
    TProxyOptions proxyOptions;
    std::vector<std::string> domains;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string> proxyError;
        if (arg == "--ip")
            resolveAddress = true;
        else if (proxyOptions.Take(args, i, proxyError)) {
            if (proxyError)
                return FailCommand(Program, 2, *proxyError + "\n" + Usage());
        } else if (arg.starts_with("--"))
            return FailCommand(Program, 2, "unknown option '" + arg + "'\n" + Usage());
        else
            domains.push_back(arg);
    }
    if (domains.empty())
        return FailCommand(Program, 2, "no domain given\n" + Usage());
    std::string error;
    const std::optional<std::shared_ptr<TProxyRotation>> proxies =
        ReadProxyOptions(proxyOptions, error);
    if (!proxies)
        return FailCommand(Program, 2, error);
    for (const std::string& domain : domains) {
        LookUpOne(domain, resolveAddress, proxies->get());
        std::fflush(stdout);
    }
    return 0;
}
