#pragma once

// Whether a batch asks the TLDs' name servers before the registries. On by
// default; off when the user says so; off when proxies are set up unless the
// user asks for it (DNS queries would leave from the user's own address);
// and off whenever a stand-in WHOIS server or RDAP base is set without a
// stand-in name server (TAVIREL_DNS_SERVER), whatever the user asked, so an
// offline run or a test asks no name server it did not start. No Qt here.

#include <optional>
#include <string>
#include <string_view>

enum class TDnsChoice { Default, On, Off };

// "on" or "off"; nothing for any other word.
std::optional<TDnsChoice> ParseDnsChoice(std::string_view word);

struct TDnsFirstDecision {
    bool On = false;
    std::string Why; // when off, why (for people)
};

TDnsFirstDecision DecideDnsFirst(TDnsChoice choice, bool proxiesConfigured);
