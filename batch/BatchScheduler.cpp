#include "batch/BatchScheduler.h"

#include "engine/Unit_Functions.h"

#include <algorithm>
#include <random>

namespace {

// Candidates looked at by one Next: a long run of names whose server waits
// is put aside a piece at a time, so no call holds the UI thread for long.
constexpr int LookAhead = 1024;

// The user's pace for server: by "host:port", else by host.
std::optional<double> UserPaceOf(const std::map<std::string, double>& paces,
                                 const std::string& server) {
    const std::string key = LowerAscii(server);
    auto found = paces.find(key);
    if (found == paces.end())
        found = paces.find(key.substr(0, key.rfind(':')));
    if (found == paces.end())
        return std::nullopt;
    return found->second;
}

double RandomJitter(double share) {
    thread_local std::mt19937 engine{std::random_device{}()};
    return std::uniform_real_distribution<double>(1 - share, 1 + share)(engine);
}

} // namespace

TBatchDuration BackoffWait(const TRetryPolicy& policy, int retry) {
    TBatchDuration wait = policy.FirstWait;
    for (int i = 1; i < retry && wait < policy.LongestWait; ++i)
        wait *= policy.Factor;
    return std::min(wait, policy.LongestWait);
}

TBatchScheduler::TBatchScheduler(TRetryPolicy policy, std::map<std::string, double> userPaces,
                                 TCandidateAt candidateAt, TServerOf serverOf, TJitter jitter)
    : FPolicy(policy), FUserPaces(std::move(userPaces)), FCandidateAt(std::move(candidateAt)),
      FServerOf(std::move(serverOf)), FJitter(std::move(jitter)) {}

void TBatchScheduler::SetProxies(TBatchProxies proxies) {
    if (!proxies.Usable)
        proxies.Count = 0;
    FProxies = std::move(proxies);
}

TBatchScheduler::TServer& TBatchScheduler::ServerNamed(const std::string& server) {
    auto found = FServers.find(server);
    if (found == FServers.end()) {
        // Each proxy's address has the registry's limit to itself.
        const TServerPace pace(PublishedPace(server), UserPaceOf(FUserPaces, server));
        TServer created;
        created.Paces.assign(std::max<std::size_t>(FProxies.Count, 1), pace);
        created.PutOff.assign(created.Paces.size(), std::nullopt);
        found = FServers.emplace(server, std::move(created)).first;
    }
    return found->second;
}

// The next usable proxy in the server's turn whose pace is ready and that is
// not put off. With every proxy set aside a name goes through none, so that
// it ends unknown and is asked again like any failure rather than wait for a
// proxy that may never come back; with every usable one put off it ends
// without a query.
std::optional<TBatchScheduler::TLane> TBatchScheduler::ReadyLane(const TServer& server,
                                                                 TBatchTime now) const {
    if (FProxies.Count == 0) {
        if (server.PutOff[0])
            return TLane{std::nullopt, true};
        return server.Paces[0].IsReady(now) ? std::optional<TLane>(TLane{}) : std::nullopt;
    }
    bool anyUsable = false;
    bool anyPutOff = false;
    for (std::size_t step = 0; step < FProxies.Count; ++step) {
        const std::size_t proxy = (server.Cursor + step) % FProxies.Count;
        if (!FProxies.Usable(proxy))
            continue;
        if (server.PutOff[proxy]) {
            anyPutOff = true;
            continue;
        }
        anyUsable = true;
        if (server.Paces[proxy].IsReady(now))
            return TLane{proxy};
    }
    return anyUsable ? std::nullopt : std::optional<TLane>(TLane{std::nullopt, anyPutOff});
}

// When a name of server may go next: the first of its usable proxies' paces
// to be ready; at once when every way to it is put off.
TBatchTime TBatchScheduler::ReadyAt(const TServer& server) const {
    if (FProxies.Count == 0)
        return server.PutOff[0] ? TBatchTime{} : server.Paces[0].ReadyAt();
    std::optional<TBatchTime> first;
    for (std::size_t proxy = 0; proxy < FProxies.Count; ++proxy) {
        if (FProxies.Usable(proxy) && !server.PutOff[proxy]) {
            const TBatchTime at = server.Paces[proxy].ReadyAt();
            first = first ? std::min(*first, at) : at;
        }
    }
    return first.value_or(TBatchTime{});
}

// The pace a name's query counts against; null when it went through no
// proxy although the batch has some.
TServerPace* TBatchScheduler::PaceFor(TServer& server, const TBatchName& name) {
    if (FProxies.Count == 0)
        return &server.Paces[0];
    if (!name.Proxy || *name.Proxy >= server.Paces.size())
        return nullptr;
    return &server.Paces[*name.Proxy];
}

std::optional<TBatchName> TBatchScheduler::Next(TBatchTime now) {
    LiftPutOffsOver(now);
    ReleaseDueRetries(now);
    if (auto name = TakeDueRetry(now))
        return name;
    if (auto name = TakeDeferred(now))
        return name;
    return TakeCandidate(now);
}

void TBatchScheduler::ReleaseDueRetries(TBatchTime now) {
    while (!FRetries.empty() && FRetries.begin()->first <= now) {
        const std::int64_t due = FRetries.begin()->first.time_since_epoch().count();
        TBatchName name = std::move(FRetries.begin()->second);
        FRetries.erase(FRetries.begin());
        TServer& server = ServerNamed(name.Server);
        server.DueRetries.push_back({due, std::move(name)});
    }
}

// Of the servers ready now, the one whose queue holds the name that has
// waited longest: the lowest first rank (firstRank gives it, or nothing for
// an empty queue).
template <typename TFirstRank>
TBatchScheduler::TServer* TBatchScheduler::ReadyServerWithFirst(TBatchTime now,
                                                                TFirstRank firstRank, TLane& lane) {
    TServer* chosen = nullptr;
    std::int64_t chosenRank = 0;
    for (auto& [key, server] : FServers) {
        const std::optional<std::int64_t> rank = firstRank(server);
        if (!rank || (chosen != nullptr && *rank >= chosenRank))
            continue;
        if (const std::optional<TLane> ready = ReadyLane(server, now)) {
            chosen = &server;
            chosenRank = *rank;
            lane = *ready;
        }
    }
    return chosen;
}

// The retry due first among the servers ready now.
std::optional<TBatchName> TBatchScheduler::TakeDueRetry(TBatchTime now) {
    TLane lane;
    TServer* server = ReadyServerWithFirst(
        now,
        [](const TServer& s) {
            return s.DueRetries.empty() ? std::nullopt
                                        : std::optional<std::int64_t>(s.DueRetries.front().Rank);
        },
        lane);
    if (server == nullptr)
        return std::nullopt;
    TBatchName name = std::move(server->DueRetries.front().Name);
    server->DueRetries.pop_front();
    return Take(*server, lane, std::move(name), now);
}

// The candidate put aside first among the servers ready now. Its name is
// read from the list again; should the list have changed under the batch so
// that the line is gone or goes to another server, it is dropped or put
// aside for that one.
std::optional<TBatchName> TBatchScheduler::TakeDeferred(TBatchTime now) {
    const auto firstDeferred = [](const TServer& s) {
        return s.Deferred.empty() ? std::nullopt : std::optional<std::int64_t>(s.Deferred.front());
    };
    TLane lane;
    while (TServer* server = ReadyServerWithFirst(now, firstDeferred, lane)) {
        const int position = server->Deferred.front();
        server->Deferred.pop_front();
        std::optional<std::string> domain = FCandidateAt(position);
        if (!domain)
            continue;
        std::string serverName = FServerOf(*domain);
        TServer& itsServer = ServerNamed(serverName);
        if (&itsServer == server)
            return Take(
                itsServer, lane,
                TBatchName{position, std::move(*domain), std::move(serverName), 0, std::nullopt},
                now);
        Defer(itsServer, position);
    }
    return std::nullopt;
}

// Puts a candidate aside in list order (a candidate read anew may belong
// behind names already put aside).
void TBatchScheduler::Defer(TServer& server, int position) {
    if (server.Deferred.empty() || server.Deferred.back() < position)
        server.Deferred.push_back(position);
    else
        server.Deferred.insert(
            std::upper_bound(server.Deferred.begin(), server.Deferred.end(), position), position);
}

std::optional<TBatchName> TBatchScheduler::TakeCandidate(TBatchTime now) {
    FLookCutShort = false;
    for (int looked = 0; looked < LookAhead; ++looked) {
        std::optional<std::string> domain = FCandidateAt(FNextPosition);
        if (!domain)
            return std::nullopt;
        const int position = FNextPosition++;
        std::string serverName = FServerOf(*domain);
        TServer& server = ServerNamed(serverName);
        if (const std::optional<TLane> lane = ReadyLane(server, now))
            return Take(
                server, *lane,
                TBatchName{position, std::move(*domain), std::move(serverName), 0, std::nullopt},
                now);
        Defer(server, position);
    }
    FLookCutShort = true;
    return std::nullopt;
}

TBatchName TBatchScheduler::Take(TServer& server, TLane lane, TBatchName name, TBatchTime now) {
    if (lane.PutOff) {
        name.Settled = PutOffVerdict(server, name.Server, now);
        return name;
    }
    name.Proxy = lane.Proxy;
    if (lane.Proxy)
        server.Cursor = *lane.Proxy + 1;
    if (TServerPace* pace = PaceFor(server, name))
        pace->Started(now);
    return name;
}

bool TBatchScheduler::Ended(TBatchName name, const TVerdict& verdict, TBatchTime started,
                            TBatchTime now) {
    if (name.Settled)
        return true; // nothing was asked
    TServer& server = ServerNamed(name.Server);
    if (name.SecondLook && verdict.Reason == TVerdictReason::Unconfirmed) {
        // A free waiting for its second look: no retry spent, and nothing
        // told to the pace, since the free may be a lie. The look comes
        // later, when the server's pace lets it, so that a server over its
        // quota has had time to recover.
        FRetries.emplace(now + Jittered(FPolicy.SecondLookWait), std::move(name));
        return false;
    }
    if (TServerPace* pace = PaceFor(server, name)) {
        if (verdict.Reason == TVerdictReason::Unconfirmed && !name.CaughtLying)
            pace->Answered(started);
        else
            Heard(*pace, verdict, started, now);
        ShareWhatPacesFound(server, now);
    }
    name.CaughtLying = false;
    ++name.Attempts;
    if (IsTooLongToWait(verdict)) {
        PutOff(server, name, *verdict.Wait, now);
        return true;
    }
    if (verdict.Kind != TVerdictKind::Unknown || !IsRetryable(verdict.Reason) ||
        name.Attempts > FPolicy.Retries)
        return true;
    const TBatchDuration wait =
        verdict.Wait ? TBatchDuration(*verdict.Wait) : BackoffWait(FPolicy, name.Attempts);
    FRetries.emplace(now + Jittered(wait), std::move(name));
    return false;
}

// What the server's answer tells its pace: a refusal or an outage holds it,
// any answer counts towards a faster pace.
void TBatchScheduler::Heard(TServerPace& pace, const TVerdict& verdict, TBatchTime started,
                            TBatchTime now) const {
    // The server's own wait when it names one; else the longer the more it
    // refuses.
    const auto serverWait = [&] {
        return verdict.Wait ? TBatchDuration(*verdict.Wait)
                            : BackoffWait(FPolicy, pace.RefusalsInARowWith(started));
    };
    switch (verdict.Reason) {
    case TVerdictReason::Throttled:
        pace.Refused(started, now, serverWait());
        break;
    // A free its confirmation did not bear out: the server may be answering
    // "not found" over its quota. It is left alone for the first wait, so
    // that its quota refills, and its pace is cut once for that spell: the
    // lies that come back while it is left alone were sent into the same
    // spell (cut for each, the pace fell to a query a minute).
    case TVerdictReason::Unconfirmed:
        if (pace.IsHeld(now))
            pace.Unavailable(started, now, FPolicy.FirstWait);
        else
            pace.Refused(started, now, FPolicy.FirstWait);
        break;
    case TVerdictReason::Unavailable:
        pace.Unavailable(started, now, serverWait());
        break;
    case TVerdictReason::Failed:
    case TVerdictReason::Cut:
        break; // the connection failed, not the server's answer
    default:
        pace.Answered(started);
        break;
    }
}

// A registry limits every address alike, so once one proxy's pace for a
// server has found the rate, the paces still seeking it take that rate; until
// then only one of them (the first usable) climbs to find it, so that one
// refusal, not one per proxy, pays for the finding.
void TBatchScheduler::ShareWhatPacesFound(TServer& server, TBatchTime now) const {
    if (FProxies.Count < 2)
        return;
    // Each pace's rate is an estimate of the same limit: their mean is the
    // best one.
    double sum = 0;
    int count = 0;
    for (const TServerPace& pace : server.Paces) {
        if (const std::optional<double> target = pace.Target()) {
            sum += *target;
            ++count;
        }
    }
    const std::optional<double> found =
        count > 0 ? std::optional<double>(sum / count) : std::nullopt;
    bool scouting = false;
    for (std::size_t proxy = 0; proxy < server.Paces.size(); ++proxy) {
        TServerPace& pace = server.Paces[proxy];
        if (!pace.IsSeekingTarget())
            continue;
        if (found) {
            pace.Adopt(*found, now);
            continue;
        }
        const bool scout = !scouting && FProxies.Usable(proxy);
        scouting = scouting || scout;
        pace.MayClimb(scout);
    }
}

// A wait the batch does not sit out: longer than its longest back-off.
bool TBatchScheduler::IsTooLongToWait(const TVerdict& verdict) const {
    return (verdict.Reason == TVerdictReason::Throttled ||
            verdict.Reason == TVerdictReason::Unavailable) &&
           verdict.Wait && TBatchDuration(*verdict.Wait) > FPolicy.LongestWait;
}

void TBatchScheduler::PutOff(TServer& server, const TBatchName& name, std::chrono::seconds wait,
                             TBatchTime now) {
    const std::size_t lane = FProxies.Count == 0 ? 0 : name.Proxy.value_or(server.PutOff.size());
    if (lane < server.PutOff.size())
        server.PutOff[lane] = TPutOff{now + wait, wait};
}

std::optional<TBatchScheduler::TPutOff>
TBatchScheduler::EarliestPutOff(const TServer& server) const {
    std::optional<TPutOff> earliest;
    for (const std::optional<TPutOff>& putOff : server.PutOff) {
        if (putOff && (!earliest || putOff->Until < earliest->Until))
            earliest = putOff;
    }
    return earliest;
}

// Once its wait is over, a server is asked again.
void TBatchScheduler::LiftPutOffsOver(TBatchTime now) {
    for (auto& [key, server] : FServers) {
        for (std::optional<TPutOff>& putOff : server.PutOff) {
            if (putOff && putOff->Until <= now)
                putOff.reset();
        }
    }
}

// What a name of a put-off server ends with: throttled, with the wait left
// and the wait the server named.
TVerdict TBatchScheduler::PutOffVerdict(const TServer& server, const std::string& serverName,
                                        TBatchTime now) const {
    const TPutOff putOff = EarliestPutOff(server).value_or(TPutOff{now, {}});
    const auto left = std::chrono::ceil<std::chrono::seconds>(putOff.Until - now);
    return TVerdict{TVerdictKind::Unknown, TVerdictReason::Throttled, left,
                    serverName + " asked for a wait of " + std::to_string(putOff.Named.count()) +
                        " s, longer than a batch waits out: not asked"};
}

std::vector<TPutOffServer> TBatchScheduler::PutOffServers() const {
    std::vector<TPutOffServer> putOff;
    for (const auto& [key, server] : FServers) {
        if (const std::optional<TPutOff> earliest = EarliestPutOff(server))
            putOff.push_back({key, earliest->Until});
    }
    return putOff;
}

TBatchDuration TBatchScheduler::Jittered(TBatchDuration wait) {
    const double factor = FJitter ? FJitter() : RandomJitter(FPolicy.Jitter);
    return std::chrono::duration_cast<TBatchDuration>(wait * factor);
}

std::optional<TBatchTime> TBatchScheduler::NextWake() const {
    if (FLookCutShort)
        return TBatchTime{};
    std::optional<TBatchTime> wake;
    const auto consider = [&wake](TBatchTime at) {
        if (!wake || at < *wake)
            wake = at;
    };
    if (!FRetries.empty())
        consider(FRetries.begin()->first);
    for (const auto& [key, server] : FServers) {
        if (!server.DueRetries.empty() || !server.Deferred.empty())
            consider(ReadyAt(server));
    }
    return wake;
}

bool TBatchScheduler::Finished() {
    if (!FRetries.empty())
        return false;
    for (const auto& [key, server] : FServers) {
        if (!server.DueRetries.empty() || !server.Deferred.empty())
            return false;
    }
    return !FCandidateAt(FNextPosition);
}

int TBatchScheduler::WaitingCount() const {
    std::size_t waiting = FRetries.size();
    for (const auto& [key, server] : FServers)
        waiting += server.DueRetries.size();
    return static_cast<int>(waiting);
}

std::vector<TWaitingName> TBatchScheduler::FirstWaiting(std::size_t count) const {
    std::vector<TWaitingName> first;
    for (const auto& [key, server] : FServers) {
        for (const TQueued& queued : server.DueRetries)
            first.push_back({queued.Name.Domain, ReadyAt(server)});
    }
    // The queue is in due order: beyond its first count names none can be
    // among the first (a later server wait only makes a name later).
    std::size_t taken = 0;
    for (auto it = FRetries.begin(); it != FRetries.end() && taken < count; ++it, ++taken) {
        const TBatchTime serverReady = ReadyAt(FServers.at(it->second.Server));
        first.push_back({it->second.Domain, std::max(it->first, serverReady)});
    }
    std::stable_sort(first.begin(), first.end(),
                     [](const TWaitingName& a, const TWaitingName& b) { return a.Due < b.Due; });
    if (first.size() > count)
        first.resize(count);
    return first;
}

const TServerPace* TBatchScheduler::PaceOf(const std::string& server, std::size_t proxy) const {
    const auto found = FServers.find(server);
    if (found == FServers.end() || proxy >= found->second.Paces.size())
        return nullptr;
    return &found->second.Paces[proxy];
}
