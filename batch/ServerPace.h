#pragma once

// How fast one WHOIS server is asked, and when it may be asked again. A
// server that refused a query for too many queries is left alone until the
// wait it asked for is over; its pace (queries a second) starts from the
// limit its registry publishes, or unlimited, is halved by every refusal and
// raised step by step by every run of answers.
//
// Registries count queries in a token bucket: a burst let through at once,
// refilled at a steady rate. Each refusal tells how fast that bucket refilled
// since the last one, so the pace climbs back to just below that rate rather
// than refusing again and again; only after a long quiet spell does it try
// to go faster. Plain C++ with the times handed in, so tests can drive it with
// any clock.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

using TBatchTime = std::chrono::steady_clock::time_point;
using TBatchDuration = std::chrono::steady_clock::duration;

// Queries a second. However often a server refuses, it is still asked once a
// minute; no server answers more than a thousand a second from one address,
// and a pace's times stay far inside what the clock holds between the two.
inline constexpr double SlowestPace = 1.0 / 60;
inline constexpr double FastestUserPace = 1000;

// The pace the registry of server ("host" or "host:port", any case) publishes
// for its port-43 service, in queries a second; none when it publishes none.
std::optional<double> PublishedPace(std::string_view server);

// The refill rate (tokens a second) of a token bucket that holds at most
// burst tokens, has tokensAtFrom at from, lets through a query at each time
// of accepted (in order, all after from) and has less than one token left at
// refusedAt: the middle of the rates that fit, or when none fits, the slowest
// that lets every accepted query through.
double FitRefillRate(double burst, TBatchTime from, double tokensAtFrom,
                     const std::vector<TBatchTime>& accepted, TBatchTime refusedAt);

class TServerPace {
public:
    // publishedPace: the limit the registry publishes; the pace begins just
    // below it and never exceeds it (none: unlimited). userPace: set by the
    // user; the pace begins there and never exceeds it, published or not
    // (held between SlowestPace and FastestUserPace).
    explicit TServerPace(std::optional<double> publishedPace = std::nullopt,
                         std::optional<double> userPace = std::nullopt);

    // When the next query may start: once the hold-off is over and the pace
    // allows it.
    TBatchTime ReadyAt() const;
    bool IsReady(TBatchTime now) const { return now >= ReadyAt(); }
    // Whether the server asked to be left alone until a later time.
    bool IsHeld(TBatchTime now) const { return now < FHeldUntil; }

    // A query starts now.
    void Started(TBatchTime now);
    // The query started at started was answered.
    void Answered(TBatchTime started);
    // The query started at started was refused for too many queries (noticed
    // at now): the server is held for wait. The first refusal of queries sent
    // after the last one also halves the pace.
    void Refused(TBatchTime started, TBatchTime now, TBatchDuration wait);
    // The server could not answer the query started at started (noticed at
    // now): held for wait, the pace left alone.
    void Unavailable(TBatchTime started, TBatchTime now, TBatchDuration wait);
    // Refusals and outages since the last answer (the first is 1). The
    // queries in flight when the first of them came back were sent into the
    // same burst: their refusals count as that one.
    int RefusalsInARow() const { return FRefusalsInARow; }
    // What RefusalsInARow becomes when the query started at started is
    // refused: the back-off a refusal costs grows with it.
    int RefusalsInARowWith(TBatchTime started) const {
        return FRefusalsInARow + (IsNewRefusal(started) ? 1 : 0);
    }

    // Queries a second; none while unlimited.
    std::optional<double> Pace() const;

    // The rate the pace climbs back to, once a refusal has shown one.
    std::optional<double> Target() const;
    // Refused once and climbing towards a rate not known yet.
    bool IsSeekingTarget() const { return !IsUnlimited() && FTarget <= 0; }
    // Whether a pace seeking its target may climb past where it is: the
    // batch lets one proxy's pace seek a server's rate while the others wait
    // for what it finds, rather than each overshooting into a refusal.
    void MayClimb(bool climb) { FMayClimb = climb; }
    // Takes the rate another proxy's pace found for the same server, when
    // this one is still seeking its own: registries give every address the
    // same limit.
    void Adopt(double target, TBatchTime now);

private:
    bool IsUnlimited() const { return FPace <= 0; }
    bool IsNewRefusal(TBatchTime started) const {
        return FRefusalsInARow == 0 || !FLastRefusalAt || started > *FLastRefusalAt;
    }
    void CountRefusal(TBatchTime started, TBatchTime now);
    // The bucket's burst: what it let through before the first refusal while
    // the pace was unlimited; else taken as one.
    double Burst() const;
    // The pace the burst alone suggests: spread over the first wait asked.
    double BurstPace() const;
    // The refill rate the answers since the last cut and this refusal show;
    // none when too few came in between.
    std::optional<double> FittedRate(TBatchTime refusedStart) const;
    void Cut(TBatchTime started, TBatchTime now, TBatchDuration wait);
    void Raise(TBatchTime started);
    double Capped(double pace) const;

    double FPace = 0;     // 0: unlimited
    double FTarget = 0;   // what the pace climbs back to; 0: none known yet
    double FUserPace = 0; // the user's or the registry's pace: never exceeded
    TBatchTime FNextStart{};
    TBatchTime FHeldUntil{};
    int FRefusalsInARow = 0;
    // When the refusal or outage last counted in a row came back.
    std::optional<TBatchTime> FLastRefusalAt;

    // The refusal the pace was last cut for: when it was noticed, and when
    // the refused query started (the bucket was empty then: FEmptyTokens 0;
    // before any refusal, the first query's start with a full bucket: -1).
    std::optional<TBatchTime> FFirstCutAt;
    std::optional<TBatchTime> FLastCutAt;
    TBatchTime FEmptyAt{};
    double FEmptyTokens = -1;
    // Start times of the queries answered since then.
    std::vector<TBatchTime> FAnswered;
    // Answers to queries started before the first cut: while the pace was
    // unlimited, the bucket's burst.
    std::size_t FBurstAnswers = 0;
    std::optional<TBatchDuration> FFirstWait;
    bool FStartedUnlimited = false;

    bool FMayClimb = true;
    int FRunAnswers = 0;
    std::optional<TBatchTime> FAtTargetSince;
    TBatchDuration FQuietSpell;
};
