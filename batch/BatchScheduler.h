#pragma once

// Which name a free slot of the batch queries next, and what becomes of a
// name whose query ended. A name left unknown for a reason time can mend is
// asked again later, within bounds; it waits in a retry queue ordered by due
// time and holds no slot meanwhile. A free slot takes a due retry first, then
// the next candidate of the list. Each server keeps its own waits and pace
// (ServerPace): a name whose server is waiting is put back without spending
// an attempt, and the names of other servers go on. With proxies, a registry
// counts each proxy's address on its own, so the waits and pace are kept per
// proxy and server: a name goes through the next usable proxy in turn whose
// pace for its server is ready. A server that asks for a wait longer than the
// longest back-off is not waited for: it is put off until then, and its
// names end unknown without a query while the rest of the batch goes on.
// Plain C++ with the times handed in, so tests can drive it with any clock.

#include "batch/ServerPace.h"
#include "engine/Verdict.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// How often and after what waits a name is asked again.
struct TRetryPolicy {
    int Retries = 3; // queries after the first, at most
    // When the server names no wait: the first wait, multiplied by Factor for
    // each further retry, never beyond LongestWait.
    TBatchDuration FirstWait = std::chrono::seconds(5);
    int Factor = 3;
    TBatchDuration LongestWait = std::chrono::minutes(10);
    // Before the second look at a free that no RDAP base confirms: time for a
    // server that lies over its limit to refill its quota.
    TBatchDuration SecondLookWait = std::chrono::seconds(2);
    // Each wait is drawn within this share either side, so names refused
    // together do not all come back at once.
    double Jitter = 0.2;
};

// The wait before the retry-th retry (1 for the first) when nothing names
// one: 5 s, 15 s, 45 s, ... at most 10 minutes with the default policy.
TBatchDuration BackoffWait(const TRetryPolicy& policy, int retry);

// One name of the batch on its way.
struct TBatchName {
    int Position = 0; // in the candidate list
    std::string Domain;
    std::string Server; // the server it is asked of, whose waits and pace apply
    int Attempts = 0;   // queries ended so far
    // The proxy it goes through (its place in the batch's list), picked by
    // Next; when the query ended through another, the caller sets that one
    // before Ended. Nothing: straight, or no proxy was usable.
    std::optional<std::size_t> Proxy;
    // The next query is the second look at a free an earlier one read, which
    // stands only when this one agrees (the caller sets it when the query
    // ended so, or when the second look itself got no answer).
    bool SecondLook = false;
    // Set by the caller when the query ended unknown (unconfirmed) and
    // leaves the server under suspicion of answering free while over its
    // quota: its port-43 free was contradicted by RDAP, or a second look's
    // canary read otherwise than registered. A second look that found the
    // name registered shows the first free wrong, not the server lying now.
    bool CaughtLying = false;
    // Set by Next for a name not to be asked: its server asked for a wait
    // longer than the batch waits out. The name ends with this verdict.
    std::optional<TVerdict> Settled{};
};

// A server that asked for a wait longer than the batch waits out, and when it
// may be asked again (the earliest of its proxies, with proxies).
struct TPutOffServer {
    std::string Server;
    TBatchTime Until;
};

// The batch's proxies as the scheduler sees them: how many, and whether one
// is usable now (not set aside after a failure).
struct TBatchProxies {
    std::size_t Count = 0; // 0: every server is asked straight
    std::function<bool(std::size_t proxy)> Usable;
};

// A name waiting for its retry, and when it is due (or, when later, when its
// server may be asked again).
struct TWaitingName {
    std::string Domain;
    TBatchTime Due;
};

class TBatchScheduler {
public:
    // The candidate at a position, or nothing past the end of the batch.
    using TCandidateAt = std::function<std::optional<std::string>(int position)>;
    // The server a name is asked of ("" for a name that is asked of none).
    using TServerOf = std::function<std::string(const std::string& domain)>;
    // A factor within 1 +- the policy's jitter; unset: drawn at random.
    using TJitter = std::function<double()>;

    // userPaces: queries a second by server, as the user set them ("host" or
    // "host:port", lower case).
    TBatchScheduler(TRetryPolicy policy, std::map<std::string, double> userPaces,
                    TCandidateAt candidateAt, TServerOf serverOf, TJitter jitter = {});

    // Before the first Next: the proxies the names go through.
    void SetProxies(TBatchProxies proxies);

    // The name to query now, started at once (its server's pace counts it),
    // or nothing when no name may be asked before NextWake.
    std::optional<TBatchName> Next(TBatchTime now);
    // The query of name, started at started, ended at now with verdict. True
    // when that was the name's last query: decided, or no retry left; else
    // the name waits for its retry.
    bool Ended(TBatchName name, const TVerdict& verdict, TBatchTime started, TBatchTime now);

    // When Next may have a name again; nothing when no name waits.
    std::optional<TBatchTime> NextWake() const;
    // No candidate left and no name waiting.
    bool Finished();

    // The position of the next candidate of the list.
    int NextPosition() const { return FNextPosition; }
    // Names waiting for a retry.
    int WaitingCount() const;
    // The count waiting names due first, in that order.
    std::vector<TWaitingName> FirstWaiting(std::size_t count) const;
    // The pace of server (through proxy, with proxies); null before the batch
    // has asked it anything.
    const TServerPace* PaceOf(const std::string& server, std::size_t proxy = 0) const;
    // The servers put off now, by name.
    std::vector<TPutOffServer> PutOffServers() const;

private:
    // A name put aside, with what orders it among the other servers' names:
    // a retry by when it fell due, a candidate by its place in the list.
    struct TQueued {
        std::int64_t Rank;
        TBatchName Name;
    };
    struct TPutOff {
        TBatchTime Until;
        std::chrono::seconds Named;
    };
    struct TServer {
        // One pace a proxy, or the one of asking straight.
        std::vector<TServerPace> Paces;
        std::size_t Cursor = 0;         // the proxy whose turn is next
        std::deque<TQueued> DueRetries; // due, in the order they fell due
        // Candidates put aside while the server's pace was not ready, by
        // their place in the list, in list order: a name is read again when
        // its turn comes, so a long run of names waiting for a paced server
        // costs a few bytes each, not the name.
        std::deque<int> Deferred;
        // By pace: until when the server asked to be left alone, where that
        // is longer than the batch waits out, and the wait it named.
        std::vector<std::optional<TPutOff>> PutOff;
    };
    // Whom a name may go through now: straight, or a proxy; when no proxy
    // is usable, none, and the query says so. PutOff: every way to the
    // server is put off, and the name ends without a query.
    struct TLane {
        std::optional<std::size_t> Proxy;
        bool PutOff = false;
    };
    using TRetryQueue = std::multimap<TBatchTime, TBatchName>;

    TServer& ServerNamed(const std::string& server);
    std::optional<TLane> ReadyLane(const TServer& server, TBatchTime now) const;
    TBatchTime ReadyAt(const TServer& server) const;
    TServerPace* PaceFor(TServer& server, const TBatchName& name);
    void ReleaseDueRetries(TBatchTime now);
    template <typename TFirstRank>
    TServer* ReadyServerWithFirst(TBatchTime now, TFirstRank firstRank, TLane& lane);
    std::optional<TBatchName> TakeDueRetry(TBatchTime now);
    std::optional<TBatchName> TakeDeferred(TBatchTime now);
    std::optional<TBatchName> TakeCandidate(TBatchTime now);
    void Defer(TServer& server, int position);
    TBatchName Take(TServer& server, TLane lane, TBatchName name, TBatchTime now);
    void Heard(TServerPace& pace, const TVerdict& verdict, TBatchTime started,
               TBatchTime now) const;
    void ShareWhatPacesFound(TServer& server, TBatchTime now) const;
    bool IsTooLongToWait(const TVerdict& verdict) const;
    std::optional<TPutOff> EarliestPutOff(const TServer& server) const;
    void LiftPutOffsOver(TBatchTime now);
    void PutOff(TServer& server, const TBatchName& name, std::chrono::seconds wait, TBatchTime now);
    TVerdict PutOffVerdict(const TServer& server, const std::string& serverName,
                           TBatchTime now) const;
    TBatchDuration Jittered(TBatchDuration wait);

    TRetryPolicy FPolicy;
    std::map<std::string, double> FUserPaces;
    TCandidateAt FCandidateAt;
    TServerOf FServerOf;
    TJitter FJitter;
    TBatchProxies FProxies;

    int FNextPosition = 0;
    // The candidates looked at by one Next are bounded; when the bound cut
    // the look short, the next look is due at once.
    bool FLookCutShort = false;
    std::map<std::string, TServer> FServers;
    TRetryQueue FRetries;
};
