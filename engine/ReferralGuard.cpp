#include "engine/ReferralGuard.h"

#include "engine/DomainName.h"
#include "engine/Unit_Functions.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

namespace {

constexpr int WhoisPort = 43;

constexpr TIPv4 Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// Addresses that belong to this host, to the user's networks, or to no one:
// a public WHOIS server has none of them.
constexpr std::array<TAddressBlock, 9> NonPublicBlocks = {{
    {Ip(0, 0, 0, 0), 8, "0.0.0.0/8 (this network)"},
    {Ip(10, 0, 0, 0), 8, "10.0.0.0/8 (private network)"},
    {Ip(100, 64, 0, 0), 10, "100.64.0.0/10 (carrier-grade NAT)"},
    {Ip(127, 0, 0, 0), 8, "127.0.0.0/8 (loopback)"},
    {Ip(169, 254, 0, 0), 16, "169.254.0.0/16 (link-local)"},
    {Ip(172, 16, 0, 0), 12, "172.16.0.0/12 (private network)"},
    {Ip(192, 168, 0, 0), 16, "192.168.0.0/16 (private network)"},
    {Ip(224, 0, 0, 0), 4, "224.0.0.0/4 (multicast)"},
    {Ip(240, 0, 0, 0), 4, "240.0.0.0/4 (reserved)"},
}};

bool InBlock(TIPv4 address, const TAddressBlock& block) {
    const TIPv4 mask = block.PrefixLength == 0 ? 0 : ~TIPv4{0} << (32 - block.PrefixLength);
    return (address & mask) == block.Base;
}

TReferralTarget Refusal(std::string host, std::string reason) {
    TReferralTarget target;
    target.Host = std::move(host);
    target.Reason = std::move(reason);
    return target;
}

// Any form inet_aton reads ("127.1", "0x7f.0.0.1", "2130706433") is an
// address, whatever it looks like.
bool ParseIPv4Literal(const std::string& text, TIPv4& address) {
    in_addr parsed{};
    if (::inet_aton(text.c_str(), &parsed) == 0)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

// "" when every byte may stand in a host name (and ':' where a port may be
// named), else why not: a URL, a port, an IPv6 address or a byte of neither,
// each in its own words.
std::string CharacterProblem(const std::string& value, bool portAllowed) {
    const std::string quoted = "'" + value + "'";
    if (value.find('/') != std::string::npos)
        return quoted + " is a URL, not a host name";
    for (unsigned char c : value) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.')
            continue;
        if (c == ':' && portAllowed)
            continue;
        if (c == ':')
            return std::count(value.begin(), value.end(), ':') > 1
                       ? quoted + " is an IPv6 address, not a host name"
                       : quoted + " names a port; only port 43 is asked";
        return quoted + " is not a host name (" + DescribeByte(c) + ")";
    }
    return "";
}

// Splits "host:port" (loopback tests only); false for a port that is not a
// number from 1 to 65535.
bool SplitTestPort(std::string& host, int& port) {
    const std::size_t colon = host.find(':');
    if (colon == std::string::npos)
        return true;
    const std::string digits = host.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::atoi(digits.c_str());
    host.resize(colon);
    return port >= 1 && port <= 65535;
}

// The refusal for the first address no referral may lead to, or "".
std::string AddressProblem(const std::string& host, const std::vector<TIPv4>& addresses,
                           const TReferralPolicy& policy) {
    for (TIPv4 address : addresses) {
        if (policy.AllowLoopback && IsLoopbackAddress(address))
            continue;
        if (const TAddressBlock* block = NonPublicBlockOf(address))
            return host + " resolves to " + DottedAddress(address) + ", in " +
                   std::string(block->Name) + "; only public servers are asked";
    }
    return "";
}

} // namespace

const TAddressBlock* NonPublicBlockOf(TIPv4 address) {
    for (const TAddressBlock& block : NonPublicBlocks)
        if (InBlock(address, block))
            return &block;
    return nullptr;
}

bool IsLoopbackAddress(TIPv4 address) {
    return (address >> 24) == 127;
}

std::string DottedAddress(TIPv4 address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

TReferralPolicy ReferralPolicyFromEnvironment() {
    const char* allow = std::getenv("TAVIREL_ALLOW_LOCAL_REFERRALS");
    return TReferralPolicy{allow != nullptr && std::strcmp(allow, "1") == 0};
}

bool ResolveAllIPv4(const std::string& host, std::vector<TIPv4>& addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        addresses.push_back(ntohl(in->sin_addr.s_addr));
    }
    ::freeaddrinfo(found);
    return !addresses.empty();
}

TReferralTarget CheckReferral(std::string_view value, const TResolveIPv4& resolve,
                              TReferralPolicy policy) {
    std::string host = LowerAscii(TrimText(value));
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty())
        return Refusal("", "the referral names no server");
    if (std::string why = CharacterProblem(host, policy.AllowLoopback); !why.empty())
        return Refusal(host, std::move(why));
    int port = WhoisPort;
    const std::string written = host;
    if (!SplitTestPort(host, port))
        return Refusal(written, "'" + written + "' names no usable port");

    std::vector<TIPv4> addresses;
    TIPv4 literal = 0;
    if (ParseIPv4Literal(host, literal)) {
        if (!(policy.AllowLoopback && IsLoopbackAddress(literal)))
            return Refusal(host, "'" + host + "' is an address, not a host name");
        addresses.push_back(literal);
    } else if (!IsHostName(host)) {
        return Refusal(host, "'" + host + "' is not a host name");
    } else if (!resolve || !resolve(host, addresses) || addresses.empty()) {
        return Refusal(host, "name lookup of " + host + " failed");
    }

    if (std::string why = AddressProblem(host, addresses, policy); !why.empty())
        return Refusal(host, std::move(why));
    if (port != WhoisPort) {
        for (TIPv4 address : addresses)
            if (!IsLoopbackAddress(address))
                return Refusal(host, "'" + written + "' names port " + std::to_string(port) +
                                         "; only port 43 is asked");
    }
    TReferralTarget target;
    target.Allowed = true;
    target.Host = host;
    target.Address = DottedAddress(addresses.front());
    target.Port = port;
    return target;
}

TReferralTarget CheckReferral(std::string_view value) {
    return CheckReferral(value, ResolveAllIPv4, ReferralPolicyFromEnvironment());
}

TReferralTarget CheckReferralForm(std::string_view value, TReferralPolicy policy) {
    // A public address stands in for the name's own (192.0.2.1, TEST-NET-1:
    // never routed), so only the written form can refuse the referral.
    const TResolveIPv4 standIn = [](const std::string&, std::vector<TIPv4>& addresses) {
        addresses.assign(1, Ip(192, 0, 2, 1));
        return true;
    };
    TReferralTarget target = CheckReferral(value, standIn, policy);
    target.Address.clear();
    return target;
}
