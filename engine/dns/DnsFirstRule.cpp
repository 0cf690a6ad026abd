#include "engine/dns/DnsFirstRule.h"

#include "engine/dns/TldServers.h"

#include <cstdlib>

namespace {

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

} // namespace

std::optional<TDnsChoice> ParseDnsChoice(std::string_view word) {
    if (word == "on")
        return TDnsChoice::On;
    if (word == "off")
        return TDnsChoice::Off;
    return std::nullopt;
}

TDnsFirstDecision DecideDnsFirst(TDnsChoice choice, bool proxiesConfigured) {
    if (choice == TDnsChoice::Off)
        return {false, "DNS first is turned off"};
    std::string error;
    const bool standInDns = DnsServerOverride(error).has_value();
    if (!error.empty())
        return {false, error};
    for (const char* variable : {"TAVIREL_WHOIS_SERVER", "TAVIREL_RDAP_BASE"}) {
        if (IsSet(variable) && !standInDns)
            return {false, std::string(variable) + " is set without " + DnsServerVariable};
    }
    if (proxiesConfigured && choice != TDnsChoice::On)
        return {false, "proxies are set up: DNS queries would leave from this machine's own "
                       "address (--dns on asks them all the same)"};
    return {true, ""};
}
