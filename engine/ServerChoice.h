#pragma once

// Which server is asked about a name, and over which protocol. The suffix
// table of Unit_Functions (with .com and .net at InterNIC) comes first,
// except for a suffix whose port-43 service the registry data marks gone (no
// port-43 host, but an RDAP base: .info, .uk), which is asked over RDAP. Any
// other suffix goes by the data: port 43 where it lists a host, RDAP
// otherwise. A suffix with neither is asked of no one: no server that does
// not hold a suffix can say its names are free. No Qt here; safe on any
// thread (the data is read-only).

#include <string>
#include <string_view>

class TRegistryData;

enum class TQueryProtocol { None, Whois, Rdap };
enum class TServerSource { None, Table, Data, Override };
// What the user asked for: Auto (port 43 where the suffix has it, RDAP
// otherwise), or one protocol only, so that a suffix without it is asked of no
// one.
enum class TProtocolPreference { Auto, Whois, Rdap };

struct TServerRoute {
    TQueryProtocol Protocol = TQueryProtocol::None;
    // Whois: "host" or "host:port"; Rdap: the base URL, ending in '/'; None: "".
    std::string Server;
    TServerSource Source = TServerSource::None;
};

struct TServerChoice {
    TServerRoute Route; // whom to ask
    // Whom the suffix itself would have been asked: the same as Route unless
    // TAVIREL_WHOIS_SERVER overrides it. The reply is read with this server's
    // wording, so a fake server can stand in for a real one.
    TServerRoute SuffixRoute;
    // The suffix's RDAP base, "" when it has none: where a port-43 query that
    // failed for good may be asked again.
    std::string RdapBase;
};

// "none", "whois", "rdap"; "none", "table", "data", "override"; "auto", ...
std::string_view ProtocolWord(TQueryProtocol protocol);
std::string_view SourceWord(TServerSource source);
std::string_view PreferenceWord(TProtocolPreference preference);
// "auto", "whois" or "rdap"; false for anything else.
bool ParseProtocolPreference(std::string_view word, TProtocolPreference& preference);

// The choice for suffix (the last label, any case, with or without its dot:
// "io", ".IO", "xn--fiqs8s") with whoisOverride in place of
// TAVIREL_WHOIS_SERVER ("" for none). The override stands for every suffix
// unless RDAP alone was asked for.
TServerChoice ChooseServerForSuffix(std::string_view suffix, const TRegistryData& data,
                                    TProtocolPreference preference, std::string_view whoisOverride);

// The choice for a query name (ASCII, A-labels: CheckDomainName's QueryName),
// with TAVIREL_WHOIS_SERVER read as GetWhoisServer reads it.
TServerChoice ChooseServer(std::string_view queryName, const TRegistryData& data,
                           TProtocolPreference preference = TProtocolPreference::Auto);

// TAVIREL_WHOIS_SERVER, the server that stands in for every port-43 server;
// "" when not set.
std::string WhoisServerOverride();
