#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"
#include "engine/Verdict.h"

#include <cstdio>
#include <string>

// lookup [--ip] DOMAIN...: asks the WHOIS server of each domain and shows what
// the engine reads in the reply, for trying the engine by hand against a real
// or a fake server (TAVIREL_WHOIS_SERVER). Domains come in the terminal's
// UTF-8; everything shown goes back out in UTF-8.

namespace {

constexpr const char* Program = "tavirelbrisvane-cli lookup";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli lookup [--ip] DOMAIN...\n"
    "  for each domain: whether it is a valid name, the server chosen, the reply and\n"
    "  what ended it, the free/registered test, the verdict (with its reason when\n"
    "  unknown), and the creation and expiration dates\n"
    "  --ip   resolve the domain's IPv4 address too (asks the name service)\n"
    "exit status: 0 done, 2 bad arguments\n";

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

void LookUpOne(const std::string& terminalDomain, bool resolveAddress) {
    const std::string domain = Utf8ToGbk(terminalDomain);
    const std::string server = GetWhoisServer(domain);
    const TExchangeResult answer = GetWhoisAnswer(domain, server);
    const std::string& reply = answer.Reply;

    PrintLine("domain", domain);
    std::printf("valid: %s\n", YesNo(IsValidDomain(domain)));
    PrintLine("server", server);
    std::printf("reply: %zu bytes (%s)\n", reply.size(),
                GbkToUtf8(DescribeExchangeEnd(answer, server)).c_str());
    const std::string shown = GbkToUtf8(reply);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    if (!shown.empty() && shown.back() != '\n')
        std::fputc('\n', stdout);
    std::printf("end of reply\n");
    std::printf("available: %s\n", YesNo(IsDomainAvailable(reply)));
    PrintLine("verdict", VerdictText(ReadWhoisVerdict(answer, server)));
    PrintLine("creation date", ExtractWhoisField(reply, "creation date", "\n"));
    PrintLine("expiration date", ExtractWhoisField(reply, "expiration date", "\n"));
    if (resolveAddress)
        PrintLine("ip", GetHostIP(domain));
    std::printf("\n");
}

} // namespace

int RunLookupCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    bool resolveAddress = false;
    std::vector<std::string> domains;
    for (const std::string& arg : args) {
        if (arg == "--ip")
            resolveAddress = true;
        else if (arg.starts_with("--"))
            return FailCommand(Program, 2, "unknown option '" + arg + "'\n" + Usage);
        else
            domains.push_back(arg);
    }
    if (domains.empty())
        return FailCommand(Program, 2, std::string("no domain given\n") + Usage);
    for (const std::string& domain : domains) {
        LookUpOne(domain, resolveAddress);
        std::fflush(stdout);
    }
    return 0;
}
