#pragma once

// Whether a referral in a WHOIS reply (the value after "whois server:") may be
// followed. A reply is written by whoever runs the server, so its referral may
// only lead to a public WHOIS server on port 43: a host name (no port, no
// address) whose addresses are all public. The check resolves the name once
// and hands back the address it checked, and the caller connects to that
// address, so a second lookup cannot answer differently (DNS rebinding).
// No Qt here; safe on any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// An IPv4 address, host byte order (127.0.0.1 is 0x7F000001).
using TIPv4 = std::uint32_t;

// A block of addresses no referral may lead to.
struct TAddressBlock {
    TIPv4 Base;
    int PrefixLength;
    std::string_view Name; // "10.0.0.0/8 (private network)"
};

// The block address lies in, or nullptr for a public address.
const TAddressBlock* NonPublicBlockOf(TIPv4 address);
bool IsLoopbackAddress(TIPv4 address);
// "192.0.2.1"
std::string DottedAddress(TIPv4 address);

struct TReferralPolicy {
    // Lets loopback addresses, IPv4 literals of them and a port through, for
    // tests that run the referred-to server on loopback. Never private ones.
    bool AllowLoopback = false;
};
// AllowLoopback from TAVIREL_ALLOW_LOCAL_REFERRALS=1 (for tests only).
TReferralPolicy ReferralPolicyFromEnvironment();

// Every IPv4 address of host; false when the name service has none.
using TResolveIPv4 = std::function<bool(const std::string& host, std::vector<TIPv4>& addresses)>;
// The name service: getaddrinfo with AF_INET.
bool ResolveAllIPv4(const std::string& host, std::vector<TIPv4>& addresses);

struct TReferralTarget {
    bool Allowed = false;
    std::string Host;    // the referral's host, lower case: whose wording the reply is read with
    std::string Address; // dotted IPv4 address to connect to, when allowed
    int Port = 43;
    std::string Reason; // why the referral is refused; "" when allowed
    // "address:port", the server to hand to the exchange.
    std::string Server() const { return Address + ":" + std::to_string(Port); }
};

// Decides on a referral value (blanks at either end and one final dot are
// ignored) with resolve in place of the name service.
TReferralTarget CheckReferral(std::string_view value, const TResolveIPv4& resolve,
                              TReferralPolicy policy);
// The same with the name service and the policy of the environment.
TReferralTarget CheckReferral(std::string_view value);

// The guard's rules on the written value alone (a host name, no port, no
// address), with no name lookup: for a referral that is asked of another
// server (TAVIREL_WHOIS_SERVER), so that no packet goes to the host it names.
// Address is "" when allowed.
TReferralTarget CheckReferralForm(std::string_view value, TReferralPolicy policy);
