#include "engine/ServerChoice.h"

#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"

#include <array>
#include <cstdlib>

namespace {

// Tests, benchmarks and offline trials point the whole program at one server.
constexpr const char* WhoisServerOverrideVariable = "TAVIREL_WHOIS_SERVER";

constexpr std::array<std::string_view, 3> ProtocolWords = {"none", "whois", "rdap"};
constexpr std::array<std::string_view, 4> SourceWords = {"none", "table", "data", "override"};
constexpr std::array<std::string_view, 3> PreferenceWords = {"auto", "whois", "rdap"};

// The suffix with its dot, lower case: the form the suffix table is keyed by.
std::string DottedSuffix(std::string_view suffix) {
    if (!suffix.empty() && suffix.front() == '.')
        suffix.remove_prefix(1);
    std::string dotted = ".";
    dotted += LowerAscii(suffix);
    return dotted;
}

// The port-43 route of a suffix: the table's server, unless the data lists
// the suffix without a port-43 host but with an RDAP base (the registry has
// moved); else the data's host. A table suffix the data knows nothing better
// for (no host, no RDAP) keeps the table's server.
TServerRoute WhoisRouteOf(std::string_view dottedSuffix, const TTldServers* servers) {
    const std::string_view table = TableWhoisServer(dottedSuffix);
    const bool gone =
        servers != nullptr && servers->WhoisServer.empty() && !servers->RdapBase.empty();
    if (!table.empty() && !gone)
        return {TQueryProtocol::Whois, std::string(table), TServerSource::Table};
    if (servers != nullptr && !servers->WhoisServer.empty())
        return {TQueryProtocol::Whois, servers->WhoisServer, TServerSource::Data};
    return {};
}

TServerRoute RdapRouteOf(const TTldServers* servers) {
    if (servers == nullptr || servers->RdapBase.empty())
        return {};
    return {TQueryProtocol::Rdap, servers->RdapBase, TServerSource::Data};
}

TServerRoute SuffixRouteOf(const TServerRoute& whois, const TServerRoute& rdap,
                           TProtocolPreference preference) {
    switch (preference) {
    case TProtocolPreference::Whois:
        return whois;
    case TProtocolPreference::Rdap:
        return rdap;
    case TProtocolPreference::Auto:
        break;
    }
    return whois.Protocol != TQueryProtocol::None ? whois : rdap;
}

} // namespace

std::string_view ProtocolWord(TQueryProtocol protocol) {
    return ProtocolWords[static_cast<std::size_t>(protocol)];
}

std::string_view SourceWord(TServerSource source) {
    return SourceWords[static_cast<std::size_t>(source)];
}

std::string_view PreferenceWord(TProtocolPreference preference) {
    return PreferenceWords[static_cast<std::size_t>(preference)];
}

bool ParseProtocolPreference(std::string_view word, TProtocolPreference& preference) {
    for (std::size_t i = 0; i < PreferenceWords.size(); ++i) {
        if (word == PreferenceWords[i]) {
            preference = static_cast<TProtocolPreference>(i);
            return true;
        }
    }
    return false;
}

TServerChoice ChooseServerForSuffix(std::string_view suffix, const TRegistryData& data,
                                    TProtocolPreference preference,
                                    std::string_view whoisOverride) {
    const std::string dotted = DottedSuffix(suffix);
    const TTldServers* servers =
        dotted.size() > 1 ? data.Find(std::string_view(dotted).substr(1)) : nullptr;
    const TServerRoute rdap = RdapRouteOf(servers);

    TServerChoice choice;
    choice.SuffixRoute = SuffixRouteOf(WhoisRouteOf(dotted, servers), rdap, preference);
    choice.RdapBase = rdap.Server;
    if (!whoisOverride.empty() && preference != TProtocolPreference::Rdap)
        choice.Route = {TQueryProtocol::Whois, std::string(whoisOverride), TServerSource::Override};
    else
        choice.Route = choice.SuffixRoute;
    return choice;
}

TServerChoice ChooseServer(std::string_view queryName, const TRegistryData& data,
                           TProtocolPreference preference) {
    const std::size_t dot = queryName.rfind('.');
    const std::string_view suffix =
        dot == std::string_view::npos ? std::string_view() : queryName.substr(dot + 1);
    const char* overrideServer = std::getenv(WhoisServerOverrideVariable);
    return ChooseServerForSuffix(suffix, data, preference,
                                 overrideServer != nullptr ? overrideServer : "");
}

std::string WhoisServerOverride() {
    const char* overrideServer = std::getenv(WhoisServerOverrideVariable);
    return overrideServer != nullptr ? overrideServer : "";
}
