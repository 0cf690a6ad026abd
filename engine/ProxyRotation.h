#pragma once

// The proxies of a batch taken in turn: each query takes the next usable one.
// A proxy that fails (TProxyFault) is set aside for 30 s, twice as long at
// each failure after that, at most 10 minutes, and its queries go to the
// others; a success makes its next failure count as its first again. The
// batch owns one and hands it to its jobs; safe to share between threads.
// No Qt here.

#include "engine/ProxyList.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What a query says when every proxy is set aside.
inline constexpr const char* NoUsableProxyText = "no usable proxy";

inline constexpr std::chrono::seconds ProxyFirstSetAside{30};
inline constexpr std::chrono::seconds ProxyLongestSetAside{600};

// The time the rotation reads; tests pass their own.
using TProxyClock = std::function<std::chrono::steady_clock::time_point()>;

// One proxy taken for one query: hand it back through Report when the query
// is over. Proxy points into the rotation and lives as long as it does.
struct TProxyPick {
    std::size_t Index = 0;
    const TProxy* Proxy = nullptr;
    // The proxy's key for pacing and waits per proxy and server: its masked
    // URL, unique within a list read by ReadProxyLines.
    const std::string* Key = nullptr;
    // Which set-aside the pick was taken after: a report of a query that
    // started before the proxy's latest set-aside tells nothing new.
    unsigned long long Epoch = 0;
};

class TProxyRotation {
public:
    explicit TProxyRotation(std::vector<TProxy> proxies,
                            TProxyClock clock = &std::chrono::steady_clock::now);

    TProxyRotation(const TProxyRotation&) = delete;
    TProxyRotation& operator=(const TProxyRotation&) = delete;

    std::size_t Size() const { return FEntries.size(); }
    const TProxy& Proxy(std::size_t index) const { return FEntries[index].Proxy; }
    const std::string& Key(std::size_t index) const { return FEntries[index].Key; }

    // The next proxy in turn that is not set aside; nullopt when every one is
    // (or the list is empty): the query then fails with NoUsableProxyText.
    std::optional<TProxyPick> Next();
    // Proxy index itself, when it is not set aside: the batch picks the
    // proxy of each query by its pace for the query's server.
    std::optional<TProxyPick> Take(std::size_t index);
    // Whether proxy index is not set aside now.
    bool IsUsable(std::size_t index) const;

    // How the query through pick went: a fault sets the proxy aside, None
    // (any answer or failure of the server behind it) clears its failures.
    // Reports of queries started before the proxy's latest set-aside are
    // ignored, so one outage seen by many queries at once counts once.
    void Report(const TProxyPick& pick, TProxyFault fault);

    // When the first proxy set aside comes back; nullopt when one is usable
    // now or the list is empty.
    std::optional<std::chrono::steady_clock::time_point> NextUsableAt() const;

private:
    struct TEntry {
        TProxy Proxy;
        std::string Key;
        int Failures = 0; // in a row, since the last success
        std::chrono::steady_clock::time_point AsideUntil{};
        unsigned long long Epoch = 0;
    };

    // With FMutex held.
    bool UsableAt(std::size_t index, std::chrono::steady_clock::time_point now) const;
    TProxyPick PickOf(std::size_t index) const;

    std::vector<TEntry> FEntries; // fixed at construction: picks point into it
    TProxyClock FClock;
    mutable std::mutex FMutex;
    std::size_t FCursor = 0;
};

// How long the failures-th failure in a row sets a proxy aside (from 1).
std::chrono::seconds ProxySetAsideFor(int failures);

// One attempt of a query through proxy: the proxy's own fault (None once the
// server behind it was reached, however that went), and that fault in words
// for people, the proxy masked.
struct TProxyAttempt {
    TProxyFault Fault = TProxyFault::None;
    std::string FaultText;
};
using TProxyAttemptFn = std::function<TProxyAttempt(const TProxy& proxy)>;

// A query through the rotation: attempt through the next usable proxy, and
// while the proxy itself fails (reported, so it is set aside) through the
// next one, at most once per proxy: a proxy's failure never reached the
// server, so trying another costs it nothing. first, when given and usable,
// is tried before the rest. The pick whose attempt reached the server, or
// nothing when no proxy was usable; whyNot then says NoUsableProxyText, with
// the last failure met after a colon.
std::optional<TProxyPick> AttemptThroughRotation(TProxyRotation& rotation,
                                                 const TProxyAttemptFn& attempt,
                                                 std::string& whyNot,
                                                 std::optional<std::size_t> first = std::nullopt);
