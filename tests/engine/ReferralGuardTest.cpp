#include "engine/ReferralGuard.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <map>
#include <string>
#include <vector>

// The decisions are made on addresses a fake name service gives: no test
// here resolves a name or opens a connection.

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TIPv4 Parse(const char* dotted) {
    in_addr address{};
    EXPECT_EQ(::inet_pton(AF_INET, dotted, &address), 1) << dotted;
    return ntohl(address.s_addr);
}

// --- Addresses ---------------------------------------------------------------------

struct TAddressCase {
    const char* Address;
    const char* Block; // "" for a public address
};

TEST(ReferralGuard, AddressBlocksAtTheirEdges) {
    for (const TAddressCase& c : {
             TAddressCase{"0.0.0.0", "0.0.0.0/8"},
             TAddressCase{"0.255.255.255", "0.0.0.0/8"},
             TAddressCase{"1.0.0.0", ""},
             TAddressCase{"8.8.8.8", ""},
             TAddressCase{"9.255.255.255", ""},
             TAddressCase{"10.0.0.0", "10.0.0.0/8"},
             TAddressCase{"10.255.255.255", "10.0.0.0/8"},
             TAddressCase{"11.0.0.0", ""},
             TAddressCase{"100.63.255.255", ""},
             TAddressCase{"100.64.0.0", "100.64.0.0/10"},
             TAddressCase{"100.127.255.255", "100.64.0.0/10"},
             TAddressCase{"100.128.0.0", ""},
             TAddressCase{"126.255.255.255", ""},
             TAddressCase{"127.0.0.0", "127.0.0.0/8"},
             TAddressCase{"127.0.0.1", "127.0.0.0/8"},
             TAddressCase{"127.255.255.255", "127.0.0.0/8"},
             TAddressCase{"128.0.0.0", ""},
             TAddressCase{"169.253.255.255", ""},
             TAddressCase{"169.254.0.0", "169.254.0.0/16"},
             TAddressCase{"169.254.169.254", "169.254.0.0/16"},
             TAddressCase{"169.255.0.0", ""},
             TAddressCase{"172.15.255.255", ""},
             TAddressCase{"172.16.0.0", "172.16.0.0/12"},
             TAddressCase{"172.31.255.255", "172.16.0.0/12"},
             TAddressCase{"172.32.0.0", ""},
             TAddressCase{"192.167.255.255", ""},
             TAddressCase{"192.168.0.0", "192.168.0.0/16"},
             TAddressCase{"192.168.255.255", "192.168.0.0/16"},
             TAddressCase{"192.169.0.0", ""},
             TAddressCase{"199.7.0.1", ""},
             TAddressCase{"223.255.255.255", ""},
             TAddressCase{"224.0.0.0", "224.0.0.0/4"},
             TAddressCase{"239.255.255.255", "224.0.0.0/4"},
             TAddressCase{"240.0.0.0", "240.0.0.0/4"},
             TAddressCase{"255.255.255.255", "240.0.0.0/4"},
         }) {
        const TAddressBlock* block = NonPublicBlockOf(Parse(c.Address));
        if (*c.Block == '\0') {
            EXPECT_EQ(block, nullptr) << c.Address << " is public";
        } else {
            ASSERT_NE(block, nullptr) << c.Address;
            EXPECT_TRUE(Has(std::string(block->Name), c.Block)) << c.Address << ": " << block->Name;
        }
        EXPECT_EQ(DottedAddress(Parse(c.Address)), c.Address);
    }
}

// --- Referral values ---------------------------------------------------------------

// The fake name service: each host's addresses, and how often it was asked.
class TFakeNameService {
public:
    TFakeNameService() {
        Add("whois.example.com", {"192.0.43.10"});
        Add("whois.two.example", {"192.0.43.10", "198.51.100.7"});
        Add("internal.example.com", {"10.0.0.5"});
        Add("mixed.example.com", {"192.0.43.10", "192.168.1.20"});
        Add("loop.example.com", {"127.0.0.1"});
        Add("cgnat.example.com", {"100.64.3.3"});
        Add("metadata.example.com", {"169.254.169.254"});
    }
    void Add(const std::string& host, const std::vector<const char*>& addresses) {
        for (const char* a : addresses)
            FHosts[host].push_back(Parse(a));
    }
    TResolveIPv4 Resolver() {
        return [this](const std::string& host, std::vector<TIPv4>& addresses) {
            ++Lookups;
            const auto found = FHosts.find(host);
            if (found == FHosts.end())
                return false;
            addresses = found->second;
            return true;
        };
    }
    int Lookups = 0;

private:
    std::map<std::string, std::vector<TIPv4>> FHosts;
};

struct TReferralCase {
    const char* Value;
    bool AllowLoopback;
    bool Allowed;
    const char* Expected; // the server to connect to when allowed, else a part of the reason
};

TEST(ReferralGuard, FollowsOnlyHostNamesOfPublicServersOnPort43) {
    for (const TReferralCase& c : {
             // Followed: a host name whose addresses are all public.
             TReferralCase{"whois.example.com", false, true, "192.0.43.10:43"},
             TReferralCase{"  Whois.Example.COM.\r", false, true, "192.0.43.10:43"},
             TReferralCase{"whois.two.example", false, true, "192.0.43.10:43"},
             // Not a host name.
             TReferralCase{"", false, false, "names no server"},
             TReferralCase{"   ", false, false, "names no server"},
             TReferralCase{"127.0.0.1:4397", false, false, "names a port; only port 43 is asked"},
             TReferralCase{"whois.example.com:43", false, false, "names a port"},
             TReferralCase{"whois.example.com:4343", false, false, "names a port"},
             TReferralCase{"::1", false, false, "is an IPv6 address, not a host name"},
             TReferralCase{"2001:db8::43", false, false, "is an IPv6 address"},
             TReferralCase{"[::1]", false, false, "character '['"},
             TReferralCase{"http://whois.example.com", false, false,
                           "'http://whois.example.com' is a URL, not a host name"},
             TReferralCase{"https://whois.example.com:43/", false, false, "is a URL"},
             TReferralCase{"whois.example.com/path", false, false, "is a URL"},
             TReferralCase{"who is.example.com", false, false, "byte 0x20"},
             TReferralCase{"whois_srv.example.com", false, false, "character '_'"},
             TReferralCase{"whois.example.com\nquery", false, false, "byte 0x0A"},
             TReferralCase{"-whois.example.com", false, false, "not a host name"},
             TReferralCase{"localhost", false, false, "not a host name"},
             TReferralCase{"whois..example.com", false, false, "not a host name"},
             // Addresses in every form the resolver would take, public or not.
             TReferralCase{"127.0.0.1", false, false, "is an address"},
             TReferralCase{"8.8.8.8", false, false, "is an address"},
             TReferralCase{"127.1", false, false, "is an address"},
             TReferralCase{"0x7f.0.0.1", false, false, "is an address"},
             TReferralCase{"2130706433", false, false, "is an address"},
             // Names that resolve where no public server is.
             TReferralCase{"internal.example.com", false, false, "10.0.0.5, in 10.0.0.0/8"},
             TReferralCase{"mixed.example.com", false, false, "192.168.1.20, in 192.168.0.0/16"},
             TReferralCase{"loop.example.com", false, false, "127.0.0.1, in 127.0.0.0/8"},
             TReferralCase{"cgnat.example.com", false, false, "100.64.0.0/10"},
             TReferralCase{"metadata.example.com", false, false, "169.254.0.0/16"},
             TReferralCase{"unknown.example.com", false, false,
                           "name lookup of unknown.example.com failed"},
             // For tests: loopback, with its port, and nothing else more.
             TReferralCase{"127.0.0.1:4397", true, true, "127.0.0.1:4397"},
             TReferralCase{"127.0.0.1", true, true, "127.0.0.1:43"},
             TReferralCase{"loop.example.com", true, true, "127.0.0.1:43"},
             TReferralCase{"127.0.0.1:0", true, false, "no usable port"},
             TReferralCase{"127.0.0.1:65536", true, false, "no usable port"},
             TReferralCase{"127.0.0.1:", true, false, "no usable port"},
             TReferralCase{"10.0.0.5:43", true, false, "is an address"},
             TReferralCase{"internal.example.com", true, false, "10.0.0.0/8"},
             TReferralCase{"whois.example.com:4343", true, false, "names port 4343"},
             TReferralCase{"whois.example.com", true, true, "192.0.43.10:43"},
         }) {
        TFakeNameService names;
        const TReferralTarget target =
            CheckReferral(c.Value, names.Resolver(), TReferralPolicy{c.AllowLoopback});
        EXPECT_EQ(target.Allowed, c.Allowed) << "'" << c.Value << "': " << target.Reason;
        if (c.Allowed) {
            EXPECT_EQ(target.Server(), c.Expected) << c.Value;
            EXPECT_EQ(target.Reason, "");
        } else {
            EXPECT_TRUE(Has(target.Reason, c.Expected)) << "'" << c.Value << "': " << target.Reason;
            EXPECT_EQ(target.Address, "") << c.Value;
        }
        EXPECT_LE(names.Lookups, 1) << c.Value << ": one lookup, whose answer is the one used";
    }
}

TEST(ReferralGuard, TheAddressCheckedIsTheAddressToConnectTo) {
    // A name service that answers a public address first and a private one
    // after: the target holds the first answer, and no second question is asked.
    int lookups = 0;
    const TResolveIPv4 rebinding = [&](const std::string&, std::vector<TIPv4>& addresses) {
        addresses = {Parse(++lookups == 1 ? "192.0.43.10" : "192.168.0.1")};
        return true;
    };
    const TReferralTarget target = CheckReferral("Rebind.Example.com", rebinding, {});
    EXPECT_TRUE(target.Allowed) << target.Reason;
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(target.Address, "192.0.43.10");
    EXPECT_EQ(target.Host, "rebind.example.com");
    EXPECT_EQ(target.Server(), "192.0.43.10:43");
}

TEST(ReferralGuard, LoopbackOnlyWhenTheTestVariableSaysOne) {
    TScopedEnv variable("TAVIREL_ALLOW_LOCAL_REFERRALS");
    EXPECT_FALSE(ReferralPolicyFromEnvironment().AllowLoopback);
    for (const char* value : {"0", "yes", "true", "", " 1"}) {
        variable.Set(value);
        EXPECT_FALSE(ReferralPolicyFromEnvironment().AllowLoopback) << value;
    }
    variable.Set("1");
    EXPECT_TRUE(ReferralPolicyFromEnvironment().AllowLoopback);
    // An address literal needs no name service.
    EXPECT_EQ(CheckReferral("127.0.0.1:4397").Server(), "127.0.0.1:4397");
    variable.Set("0");
    EXPECT_FALSE(CheckReferral("127.0.0.1:4397").Allowed);
}

} // namespace
