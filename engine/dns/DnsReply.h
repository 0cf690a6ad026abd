#pragma once

// What a TLD's name server said to "NS of this name?", read from its reply.
// Only NS records owned by exactly the asked name (a referral, or an answer)
// show a delegation; every other reply shows nothing about the name, and a
// name without a delegation may still be registered (held, redeemed, or
// registered without name servers), so nothing here ever makes a name free.
// The reply is read with glibc's resolver library; no Qt here.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class TDnsOutcome {
    Delegated, // NS records for exactly the asked name
    NxDomain,  // the name does not exist in the zone
    NoData,    // the name exists but has no NS records (or nothing was said)
    OtherName, // NS records, but for another name than the one asked
    Address,   // an address or alias for the name: a wildcard's sign
    ServFail,
    Refused,
    OtherCode, // another response code (FORMERR, NOTIMP, ...)
    Truncated, // cut short, and TCP did not mend it
    Malformed, // not a DNS reply that can be read
    TimedOut,  // no reply within the bound
    Failed,    // no exchange at all (connection refused, no route, ...)
};

// "delegated", "nxdomain", "nodata", "other-name", "address", "servfail",
// "refused", "other-code", "truncated", "malformed", "timeout", "failed".
std::string_view DnsOutcomeWord(TDnsOutcome outcome);

// Whether asking another of the TLD's servers (or the same one again) may
// get an answer: a server that failed, refused or was silent says nothing
// about the name, a server that answered said what the zone holds.
bool IsDnsRetryable(TDnsOutcome outcome);

struct TDnsReading {
    TDnsOutcome Outcome = TDnsOutcome::Malformed;
    // Delegated: the name servers named (lower case, without the final dot);
    // OtherName: the owner the NS records were for.
    std::vector<std::string> NameServers;
    std::string Detail; // for people, a few words
};

// Reads reply (a whole DNS message as it came) as the answer to an NS query
// of askedName (any case, with or without its final dot).
TDnsReading ReadNsReply(const unsigned char* reply, std::size_t length, std::string_view askedName);

// The names the same compare as: lower-case ASCII, no final dot.
std::string CanonicalDnsName(std::string_view name);
