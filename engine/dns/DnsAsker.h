#pragma once

// Many NS questions in flight at once towards a TLD's authoritative name
// servers, with recursion off. c-ares does the exchanges (UDP, and TCP when
// a reply comes back truncated); each server address has a channel of its
// own holding one try at a time per question, so the bounds are ours: a
// bound per try, a number of tries per server, and a rotation across at most
// a few of the TLD's servers, each address at its own pace (DnsPace). A
// server that was silent, failed or refused is asked no more about the name
// than those bounds allow; the name then ends with what the last try said.
// One thread uses an asker at a time: the callbacks run inside Process. No
// Qt here.

#include "engine/dns/DnsPace.h"
#include "engine/dns/DnsReply.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct TDnsBounds {
    std::chrono::milliseconds PerTry{1500};
    int TriesPerServer = 2;
    int ServersPerName = 3;           // of the TLD's servers, at most this many are asked
    std::size_t MostInFlight = 4096;  // over every address
    std::size_t MostPerAddress = 512; // queries one address has in flight
};

// One name server of a TLD: its name for people, and the address asked.
struct TNameServer {
    std::string Name;    // "a.nic.example", or the address itself
    std::string Address; // "192.0.2.1:53", "[2001:db8::1]:53"
};
using TNameServers = std::shared_ptr<const std::vector<TNameServer>>;

// "a.nic.example (192.0.2.1:53)", or the address alone when it is the name.
std::string NameServerText(const TNameServer& server);

// What came of one question, after its tries.
struct TDnsExchange {
    TDnsReading Reading; // of the last try
    std::string Server;  // NameServerText of the server of the last try
    int Tries = 0;
};

class TDnsAsker {
public:
    using TDone = std::function<void(TDnsExchange&& exchange)>;

    explicit TDnsAsker(TDnsBounds bounds = {});
    // Questions still open are dropped; their callbacks are not called.
    ~TDnsAsker();
    TDnsAsker(const TDnsAsker&) = delete;
    TDnsAsker& operator=(const TDnsAsker&) = delete;

    // Queues the question "NS of name?" (name in A-labels, any case) to
    // servers (not empty); done is called from a later Process, once.
    void AskNs(std::string name, TNameServers servers, TDone done);
    // Sends what the paces allow and takes in replies and time-outs until
    // no question is open or wait has passed.
    void Process(std::chrono::milliseconds wait);
    // Questions asked and not yet done.
    std::size_t Pending() const { return FPending; }
    const TDnsBounds& Bounds() const { return FBounds; }

private:
    struct TQuestion;
    struct TAddress;
    using TClock = TDnsPace::TClock;

    static void OnReply(void* arg, int status, int timeouts, unsigned char* reply, int length);

    TAddress& AddressOf(const TNameServer& server);
    void Queue(std::unique_ptr<TQuestion> question);
    void SendReady(TClock::time_point now);
    void Send(TAddress& address, std::unique_ptr<TQuestion> question);
    void Replied(std::unique_ptr<TQuestion> question, int status, const unsigned char* reply,
                 int length);
    bool Retry(TQuestion& question, TDnsOutcome outcome) const;
    void Finish(std::unique_ptr<TQuestion> question, TDnsReading&& reading);
    int WaitMilliseconds(TClock::time_point now, TClock::time_point deadline) const;
    void PollOnce(int timeoutMs);

    TDnsBounds FBounds;
    // Stable on insertion: a reply may bring a new address while the loop
    // goes over them.
    std::map<std::string, std::unique_ptr<TAddress>> FAddresses;
    std::size_t FPending = 0;
    std::size_t FInFlight = 0;
    std::size_t FRotation = 0;
    bool FClosing = false;
};
