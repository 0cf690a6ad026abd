#pragma once

// Whom a name's delegation is asked of: the TLD's own authoritative name
// servers. They are found once per TLD and run through the system's
// resolver (the TLD's NS records, then each server's IPv4 address, from the
// glue the resolver gives or else asked by name), so that a machine whose
// resolver is filtered or redirected is asked as the user set it up. With
// TAVIREL_DNS_SERVER=HOST:PORT set, that one server stands for every TLD's
// servers (tests, offline runs) and no resolver is asked. No Qt here.

#include "engine/dns/DnsAsker.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* DnsServerVariable = "TAVIREL_DNS_SERVER";

// TAVIREL_DNS_SERVER read: nothing when it is not set (or empty); else the
// server, or error saying why its value cannot be used.
std::optional<TNameServer> DnsServerOverride(std::string& error);

// What finding a TLD's servers came to.
struct TTldServersFound {
    TNameServers Servers; // null when none was found
    std::string Problem;  // why, when none was found
};

// The servers of tld (lower-case A-label, no dot), within bound; the
// override when it is set.
TTldServersFound FindTldServers(std::string_view tld, std::chrono::milliseconds bound);
