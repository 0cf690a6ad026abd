#include "batch/ServerPace.h"

#include "engine/RegistryLimits.h"
#include "engine/WhoisWording.h"

#include <algorithm>
#include <cmath>

namespace {

// A start this share of an interval late still counts as on schedule, and
// always one as late as a wake timer may be (it counts whole milliseconds):
// else a pace of thousands a second would start one query a wake.
constexpr int LatenessKept = 10;
constexpr TBatchDuration TimerLateness = std::chrono::milliseconds(2);
// How close to a published or fitted refill rate the pace settles: the
// network bunches queries up on their way, and a fit from a short run of
// answers may lie a little above the rate. A fit from a long run is close to
// the rate, and a bucket that holds a few queries absorbs the bunching, so
// then the pace settles closer.
constexpr double TargetShare = 0.97;
constexpr double AbsorbedShare = 0.99;
constexpr double BurstAbsorbs = 4;
// A run of answers is a tenth of a second's worth at the current pace (at
// least one answer); each run raises the pace a step.
constexpr double RunSeconds = 0.1;
// Without a target the pace doubles each run. Against a bucket that holds a
// few queries it grows by half, so that the refusal that ends the climb
// comes from a short overshoot, after answers enough to fit the rate well.
// Below its target, it closes half the gap (at least this share of the
// target) each run.
constexpr double SlowStartFactor = 2;
constexpr double GentleSlowStartFactor = 1.5;
constexpr double SmallestClimb = 0.05;
// At its target the pace stays put for a quiet spell, then tries this much
// faster each run. A refusal that confirms the target doubles the spell.
constexpr auto FirstQuietSpell = std::chrono::seconds(60);
constexpr double ProbeStep = 0.001;
constexpr double ConfirmedWithin = 0.1;
// A fit from fewer answers than this says too little to set a target by.
constexpr std::size_t FewestFitted = 4;
// A fit from this many answers or more is trusted to set the pace at once.
constexpr std::size_t ConfidentFit = 64;
// The answers kept for the fit; a longer run starts over with a full bucket.
constexpr std::size_t KeptAnswers = 4096;
constexpr double FastestFittedRate = 1e5;
constexpr int FitSteps = 60;

double Seconds(TBatchDuration duration) {
    return std::chrono::duration<double>(duration).count();
}

TBatchDuration Interval(double pace) {
    return std::chrono::duration_cast<TBatchDuration>(std::chrono::duration<double>(1.0 / pace));
}

} // namespace

// The registries' own figures, with their sources: the data folder's
// registry-limits.tsv.
std::optional<double> PublishedPace(std::string_view server) {
    const TRegistryLimit* limit = ProgramRegistryLimits().Find(WordingHost(server));
    return limit ? limit->PerSecond : std::nullopt;
}

double FitRefillRate(double burst, TBatchTime from, double tokensAtFrom,
                     const std::vector<TBatchTime>& accepted, TBatchTime refusedAt) {
    // The bucket after the accepted queries at rate, and whether each of them
    // found a token.
    const auto tokensLeft = [&](double rate, bool& allPassed) {
        double tokens = tokensAtFrom;
        TBatchTime at = from;
        allPassed = true;
        for (TBatchTime start : accepted) {
            tokens = std::min(burst, tokens + Seconds(start - at) * rate);
            at = start;
            allPassed = allPassed && tokens >= 1;
            tokens -= 1;
        }
        return std::min(burst, tokens + Seconds(refusedAt - at) * rate);
    };
    // More refill leaves more tokens: both edges are found by halving.
    double emptyBelow = 0, emptyAbove = FastestFittedRate;
    double passBelow = 0, passAbove = FastestFittedRate;
    for (int step = 0; step < FitSteps; ++step) {
        bool allPassed = false;
        const double empty = (emptyBelow + emptyAbove) / 2;
        (tokensLeft(empty, allPassed) < 1 ? emptyBelow : emptyAbove) = empty;
        const double pass = (passBelow + passAbove) / 2;
        tokensLeft(pass, allPassed);
        (allPassed ? passAbove : passBelow) = pass;
    }
    // Every rate between the two fits what was seen: the middle is the best
    // guess. When none fits, the bucket was not as taken; the rate that let
    // the answered queries through is the one fact left.
    return passAbove <= emptyBelow ? (passAbove + emptyBelow) / 2 : passAbove;
}

TServerPace::TServerPace(std::optional<double> publishedPace, std::optional<double> userPace)
    : FQuietSpell(FirstQuietSpell) {
    if (userPace && *userPace > 0) {
        FUserPace = FPace = FTarget = std::clamp(*userPace, SlowestPace, FastestUserPace);
    } else if (publishedPace && *publishedPace > 0) {
        // Just below the published limit, as below a fitted one: the network
        // bunches queries up on their way.
        FUserPace = *publishedPace;
        FPace = FTarget = TargetShare * *publishedPace;
    }
    FStartedUnlimited = IsUnlimited();
}

std::optional<double> TServerPace::FittedRate(TBatchTime refusedStart) const {
    std::vector<TBatchTime> before;
    for (TBatchTime start : FAnswered) {
        if (start < refusedStart)
            before.push_back(start);
    }
    // A refusal soon after the last one says little of the refill.
    if (before.size() < FewestFitted)
        return std::nullopt;
    // Answers come back in any order; the bucket saw the queries in the
    // order they were sent.
    std::sort(before.begin(), before.end());
    const double burst = Burst();
    return FitRefillRate(burst, FEmptyAt, FEmptyTokens < 0 ? burst : FEmptyTokens, before,
                         refusedStart);
}

TBatchTime TServerPace::ReadyAt() const {
    return std::max(FHeldUntil, FNextStart);
}

std::optional<double> TServerPace::Pace() const {
    if (IsUnlimited())
        return std::nullopt;
    return FPace;
}

std::optional<double> TServerPace::Target() const {
    if (FTarget <= 0)
        return std::nullopt;
    return FTarget;
}

void TServerPace::Adopt(double target, TBatchTime now) {
    if (!IsSeekingTarget() || target <= 0)
        return;
    FTarget = Capped(target);
    FPace = FTarget;
    FAtTargetSince = now;
    FRunAnswers = 0;
}

double TServerPace::Capped(double pace) const {
    pace = std::max(pace, SlowestPace);
    return FUserPace > 0 ? std::min(pace, FUserPace) : pace;
}

void TServerPace::Started(TBatchTime now) {
    if (FEmptyAt == TBatchTime{})
        FEmptyAt = now; // a rested bucket: full at the first query
    if (IsUnlimited())
        return;
    // A timer that fires late does not slow the pace down; a server left
    // alone for a while gets no burst either.
    // A start a little late keeps the schedule; a start long after it (the
    // server was held, or nothing was to be asked) begins a new one, so the
    // server sees no two queries closer than the pace allows.
    const TBatchDuration interval = Interval(FPace);
    const bool onSchedule = now - FNextStart <= std::max(interval / LatenessKept, TimerLateness);
    FNextStart = (onSchedule ? FNextStart : now) + interval;
}

void TServerPace::Answered(TBatchTime started) {
    FRefusalsInARow = 0;
    if (FFirstCutAt ? started < *FFirstCutAt : true) {
        ++FBurstAnswers;
        // An answer of the burst that came back after its refusal: the pace
        // the burst set is raised to what the whole burst shows.
        if (FFirstCutAt && FTarget <= 0 && FFirstWait)
            FPace = std::max(FPace, BurstPace());
    }
    // Queries sent before the last cut was noticed belong to the old pace
    // and to the bucket before it ran dry.
    if (FLastCutAt && started <= *FLastCutAt)
        return;
    if (FAnswered.size() >= KeptAnswers) {
        // Long without a refusal: the bucket is taken for full again.
        FEmptyAt = FAnswered.back();
        FEmptyTokens = -1;
        FAnswered.clear();
    }
    FAnswered.push_back(started);
    Raise(started);
}

void TServerPace::CountRefusal(TBatchTime started, TBatchTime now) {
    if (!IsNewRefusal(started))
        return;
    ++FRefusalsInARow;
    FLastRefusalAt = now;
}

void TServerPace::Refused(TBatchTime started, TBatchTime now, TBatchDuration wait) {
    FHeldUntil = std::max(FHeldUntil, now + wait);
    CountRefusal(started, now);
    // Queries sent before the last cut was noticed were sent at the old pace.
    if (!FLastCutAt || started > *FLastCutAt)
        Cut(started, now, wait);
}

void TServerPace::Unavailable(TBatchTime started, TBatchTime now, TBatchDuration wait) {
    FHeldUntil = std::max(FHeldUntil, now + wait);
    CountRefusal(started, now);
}

double TServerPace::BurstPace() const {
    return Capped(Burst() / std::max(Seconds(FFirstWait.value_or(TBatchDuration{})), 1.0));
}

double TServerPace::Burst() const {
    return FStartedUnlimited ? std::max<double>(1, static_cast<double>(FBurstAnswers)) : 1;
}

void TServerPace::Cut(TBatchTime started, TBatchTime now, TBatchDuration wait) {
    if (!FFirstCutAt)
        FFirstCutAt = now;
    if (IsUnlimited()) {
        // Only the burst is known: spread it over the wait the server asked
        // for, and climb from there until the next refusal tells the rate.
        FFirstWait = wait;
        FPace = BurstPace();
        FTarget = 0;
    } else {
        const double previousTarget = FTarget;
        bool trusted = false;
        if (const std::optional<double> fitted = FittedRate(started)) {
            trusted = FAnswered.size() >= ConfidentFit;
            const bool absorbed = trusted && Burst() >= BurstAbsorbs;
            FTarget = Capped((absorbed ? AbsorbedShare : TargetShare) * *fitted);
        } else {
            // Refused at this pace: the target lies below it.
            FTarget = Capped(TargetShare * (FTarget > 0 ? std::min(FTarget, FPace) : FPace));
        }
        if (previousTarget > 0 &&
            std::abs(FTarget - previousTarget) <= ConfirmedWithin * previousTarget)
            FQuietSpell *= 2;
        // A fit from a long run of answers knows the rate: the hold lets
        // the bucket fill, and the pace goes on just below that rate. Else
        // it halves, as the rate may lie well below.
        FPace = trusted ? FTarget : Capped(std::min(FPace / 2, FTarget));
    }
    FLastCutAt = now;
    FEmptyAt = started;
    FEmptyTokens = 0;
    FAnswered.clear();
    FRunAnswers = 0;
    FAtTargetSince.reset();
    if (FTarget > 0 && FPace >= FTarget)
        FAtTargetSince = now;
}

void TServerPace::Raise(TBatchTime started) {
    if (IsUnlimited())
        return;
    const long runLength = std::max(1L, std::lround(FPace * RunSeconds));
    if (++FRunAnswers < runLength)
        return;
    FRunAnswers = 0;
    if (FTarget <= 0) {
        if (FMayClimb)
            FPace =
                Capped(FPace * (Burst() >= BurstAbsorbs ? GentleSlowStartFactor : SlowStartFactor));
        return;
    }
    if (FPace < FTarget) {
        FPace = std::min(FTarget, FPace + std::max((FTarget - FPace) / 2, SmallestClimb * FTarget));
        if (FPace >= FTarget)
            FAtTargetSince = started;
        return;
    }
    if (!FAtTargetSince)
        FAtTargetSince = started;
    if (started - *FAtTargetSince < FQuietSpell)
        return;
    FTarget = Capped(FTarget * (1 + ProbeStep));
    FPace = FTarget;
}
