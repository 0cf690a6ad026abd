#pragma once

// "Is this exact name delegated?", asked of the TLD's own name servers. A
// name their zone delegates (NS records for exactly that name, in a
// referral or an answer) is registered; nothing else decides anything: no
// delegation, an error or silence leaves the name to the registry, and no
// answer here ever makes a name free.
//
// Before the first name of a TLD, its servers are found (TldServers) and
// asked about a random 30-letter label: a TLD whose servers delegate,
// resolve or hold any record for a name nobody registered (a wildcard;
// anything but NXDOMAIN) proves nothing by a
// delegation, so the check is off for it for the checker's life, as it is
// for a TLD whose servers cannot be found or do not answer.
//
// Two ways to ask:
// - AskDelegation: one name, blocking, for a caller that needs one answer
//   now (a second opinion on a verdict, a reply nobody can read). It finds
//   the TLD's servers each time: a caller asking many names keeps a
//   TDelegationChecker instead.
// - TDelegationChecker: many names in flight; Ask queues, Process drives.
//   One thread at a time; the callbacks run inside Process.
// No Qt here.

#include "engine/dns/DnsAsker.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TDelegation {
    // The TLD's servers delegate exactly the name: it is registered.
    bool Delegated = false;
    // Whether a server was asked about the name at all (false: the check is
    // off for its TLD, or the name has none).
    bool Asked = false;
    TDnsOutcome Outcome = TDnsOutcome::Failed; // what the last try said
    std::string Server;                        // the server of the last try
    std::vector<std::string> NameServers;      // Delegated: the NS targets
    // For people: "a.nic.example (192.0.2.1:53): NS ns1.host.example", or why
    // nothing was asked ("DNS first is off for .example: ...").
    std::string Detail;
};

// Asks queryName (A-labels, "example.com") of its TLD's servers and waits
// for the answer, within the bounds' tries and a finding bound for the
// servers.
TDelegation AskDelegation(std::string_view queryName, const TDnsBounds& bounds = {});

class TDelegationChecker {
public:
    using TDone = std::function<void(TDelegation&& delegation)>;
    // Finding one TLD's servers takes at most this long.
    static constexpr std::chrono::milliseconds FindBound{5000};
    static constexpr std::size_t ProbeLetters = 30;

    explicit TDelegationChecker(TDnsBounds bounds = {});

    // Queues queryName (A-labels); done is called from a later Process.
    void Ask(std::string queryName, TDone done);
    // Drives the questions for at most wait; returns once none is open.
    void Process(std::chrono::milliseconds wait);
    // Names asked and not yet answered.
    std::size_t Pending() const { return FPending; }
    // The TLDs the check is off for, and why (".example": "its servers
    // delegate any name (wildcard)").
    const std::map<std::string, std::string>& TldsOff() const { return FTldsOff; }

private:
    enum class TTldState { Probing, Ready, Off };
    struct TTld {
        TTldState State = TTldState::Probing;
        TNameServers Servers;
        std::vector<std::pair<std::string, TDone>> Waiting; // until the probe is answered
    };

    TTld& TldOf(const std::string& tld);
    void Probe(const std::string& tld, TTld& entry);
    void ProbeAnswered(const std::string& tld, const TDnsExchange& exchange);
    void SendToServers(TTld& entry, std::string queryName, TDone done);
    void PassOn(const std::string& tld, TDone& done);
    void TurnOff(const std::string& tld, TTld& entry, std::string why);

    TDnsAsker FAsker;
    std::map<std::string, TTld> FTlds;
    std::map<std::string, std::string> FTldsOff;
    std::size_t FPending = 0;
    std::mt19937 FRandom;
};
