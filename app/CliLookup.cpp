#include "app/CliCommands.h"

#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"

#include <cstdio>
#include <string>

// lookup DOMAIN...: asks the WHOIS server of each domain and shows what the
// engine reads in the reply, for trying the engine by hand against a real or
// a fake server (TAVIREL_WHOIS_SERVER). Domains come in the terminal's UTF-8;
// everything shown goes back out in UTF-8.

namespace {

void PrintLine(const char* label, const std::string& gbkValue) {
    std::printf("%s: %s\n", label, GbkToUtf8(gbkValue).c_str());
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

void LookUpOne(const std::string& terminalDomain) {
    const std::string domain = Utf8ToGbk(terminalDomain);
    const std::string server = GetWhoisServer(domain);
    const std::string reply = GetWhoisReply(domain, server);

    PrintLine("domain", domain);
    std::printf("valid: %s\n", YesNo(IsValidDomain(domain)));
    PrintLine("server", server);
    std::printf("reply: %zu bytes\n", reply.size());
    const std::string shown = GbkToUtf8(reply);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    if (!shown.empty() && shown.back() != '\n')
        std::fputc('\n', stdout);
    std::printf("end of reply\n");
    std::printf("available: %s\n", YesNo(IsDomainAvailable(reply)));
    PrintLine("creation date", ExtractWhoisField(reply, "creation date", "\n"));
    PrintLine("expiration date", ExtractWhoisField(reply, "expiration date", "\n"));
    PrintLine("ip", GetHostIP(domain));
    std::printf("\n");
}

} // namespace

int RunLookupCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: tavirelbrisvane-cli lookup DOMAIN...\n");
        return 2;
    }
    for (const std::string& domain : args) {
        LookUpOne(domain);
        std::fflush(stdout);
    }
    return 0;
}
