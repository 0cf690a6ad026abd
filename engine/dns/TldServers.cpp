#include "engine/dns/TldServers.h"

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <poll.h>
#include <resolv.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

constexpr int DnsPort = 53;
// Of a TLD's servers, the first this many are enough to rotate across.
constexpr std::size_t MostServers = 8;

std::string NumericIpv4Of(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return "";
    char text[INET_ADDRSTRLEN] = "";
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    ::freeaddrinfo(found);
    return text;
}

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    port = std::atoi(text.c_str());
    return port >= 1 && port <= 65535;
}

// The records of a recursive answer: the TLD's NS names, and the IPv4
// addresses of any name it holds.
struct TResolved {
    std::vector<std::string> NameServers;
    std::map<std::string, std::string> Addresses;
    std::string Problem;
    bool Done = false;
};

void ReadAddresses(const unsigned char* reply, int length, TResolved& resolved) {
    ns_msg message;
    if (ns_initparse(reply, length, &message) != 0)
        return;
    for (ns_sect section : {ns_s_an, ns_s_ar}) {
        for (int i = 0; i < ns_msg_count(message, section); ++i) {
            ns_rr record;
            if (ns_parserr(&message, section, i, &record) != 0)
                return;
            if (ns_rr_type(record) != ns_t_a || ns_rr_rdlen(record) != 4)
                continue;
            char text[INET_ADDRSTRLEN] = "";
            ::inet_ntop(AF_INET, ns_rr_rdata(record), text, sizeof text);
            resolved.Addresses.emplace(CanonicalDnsName(ns_rr_name(record)), text);
        }
    }
}

struct TNsQuery {
    TResolved* Resolved;
    std::string Tld;
};

void OnNsReply(void* arg, int status, int, unsigned char* reply, int length) {
    auto* query = static_cast<TNsQuery*>(arg);
    query->Resolved->Done = true;
    if (status != ARES_SUCCESS || reply == nullptr) {
        query->Resolved->Problem = std::string("the resolver said: ") + ares_strerror(status);
        return;
    }
    const TDnsReading reading = ReadNsReply(reply, static_cast<std::size_t>(length), query->Tld);
    if (reading.Outcome != TDnsOutcome::Delegated) {
        query->Resolved->Problem = "the resolver gave no NS records (" + reading.Detail + ")";
        return;
    }
    query->Resolved->NameServers = reading.NameServers;
    ReadAddresses(reply, length, *query->Resolved);
}

struct TAddressQuery {
    TResolved* Resolved;
    std::string Name;
    bool Done = false;
};

void OnHost(void* arg, int status, int, hostent* host) {
    auto* query = static_cast<TAddressQuery*>(arg);
    query->Done = true;
    if (status != ARES_SUCCESS || host == nullptr || host->h_addrtype != AF_INET ||
        host->h_addr_list[0] == nullptr)
        return;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, host->h_addr_list[0], text, sizeof text);
    query->Resolved->Addresses.emplace(query->Name, text);
}

// Runs channel until done() or the deadline.
template <class TDoneTest>
void RunUntil(ares_channel channel, std::chrono::steady_clock::time_point deadline,
              TDoneTest done) {
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return;
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        std::vector<pollfd> fds;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const short events = static_cast<short>((ARES_GETSOCK_READABLE(bits, i) ? POLLIN : 0) |
                                                    (ARES_GETSOCK_WRITABLE(bits, i) ? POLLOUT : 0));
            if (events != 0)
                fds.push_back(pollfd{sockets[i], events, 0});
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left, 100)));
        for (const pollfd& fd : fds) {
            const bool readable = (fd.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
            const bool writable = (fd.revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
            if (readable || writable)
                ares_process_fd(channel, readable ? fd.fd : ARES_SOCKET_BAD,
                                writable ? fd.fd : ARES_SOCKET_BAD);
        }
        ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    }
}

TTldServersFound AskSystemResolver(std::string_view tld, std::chrono::milliseconds bound) {
    ares_library_init(ARES_LIB_INIT_ALL);
    ares_channel channel = nullptr;
    if (const int status = ares_init(&channel); status != ARES_SUCCESS)
        return {nullptr, std::string("no resolver: ") + ares_strerror(status)};
    const auto deadline = std::chrono::steady_clock::now() + bound;
    TResolved resolved;
    TNsQuery nsQuery{&resolved, std::string(tld)};
    ares_query(channel, nsQuery.Tld.c_str(), ns_c_in, ns_t_ns, OnNsReply, &nsQuery);
    RunUntil(channel, deadline, [&] { return resolved.Done; });
    if (!resolved.Done)
        resolved.Problem = "the resolver did not answer in time";

    if (resolved.NameServers.size() > MostServers)
        resolved.NameServers.resize(MostServers);
    std::vector<std::unique_ptr<TAddressQuery>> lookups;
    for (const std::string& name : resolved.NameServers) {
        if (resolved.Addresses.count(name) != 0)
            continue;
        lookups.push_back(std::make_unique<TAddressQuery>(TAddressQuery{&resolved, name}));
        ares_gethostbyname(channel, name.c_str(), AF_INET, OnHost, lookups.back().get());
    }
    RunUntil(channel, deadline, [&] {
        return std::all_of(lookups.begin(), lookups.end(), [](const auto& q) { return q->Done; });
    });
    // Whatever is still open is answered (ARES_EDESTRUCTION) before the
    // queries' records go.
    ares_destroy(channel);

    auto servers = std::make_shared<std::vector<TNameServer>>();
    for (const std::string& name : resolved.NameServers) {
        const auto address = resolved.Addresses.find(name);
        if (address != resolved.Addresses.end())
            servers->push_back({name, address->second + ":" + std::to_string(DnsPort)});
    }
    if (servers->empty())
        return {nullptr, resolved.Problem.empty() ? "no address of its name servers was found"
                                                  : resolved.Problem};
    return {servers, ""};
}

} // namespace

std::optional<TNameServer> DnsServerOverride(std::string& error) {
    const char* value = std::getenv(DnsServerVariable);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    const std::string text = value;
    std::string host = text;
    std::string portText = std::to_string(DnsPort);
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        host = close == std::string::npos ? "" : text.substr(1, close - 1);
        if (close != std::string::npos && close + 1 < text.size()) {
            if (text[close + 1] != ':')
                host.clear();
            portText = text.substr(close + 2);
        }
        if (!host.empty())
            host = "[" + host + "]";
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    int port = 0;
    if (host.empty() || !ParsePort(portText, port)) {
        error = std::string(DnsServerVariable) + " is not HOST:PORT: " + text;
        return std::nullopt;
    }
    std::string address = host.front() == '[' ? host : NumericIpv4Of(host);
    if (address.empty()) {
        error = std::string(DnsServerVariable) + ": no IPv4 address for " + host;
        return std::nullopt;
    }
    return TNameServer{text, address + ":" + std::to_string(port)};
}

TTldServersFound FindTldServers(std::string_view tld, std::chrono::milliseconds bound) {
    std::string error;
    if (const std::optional<TNameServer> standIn = DnsServerOverride(error))
        return {std::make_shared<std::vector<TNameServer>>(1, *standIn), ""};
    if (!error.empty())
        return {nullptr, error};
    return AskSystemResolver(tld, bound);
}
