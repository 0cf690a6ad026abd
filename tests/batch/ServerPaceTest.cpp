#include "batch/ServerPace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TSeconds = std::chrono::duration<double>;

TBatchTime At(double seconds) {
    return TBatchTime{} + std::chrono::duration_cast<TBatchDuration>(TSeconds(seconds + 1000));
}

double SecondsOf(TBatchTime time) {
    return TSeconds(time - At(0)).count();
}

// A server that counts each client's queries in a token bucket (full at the
// start) and asks a refused client to come back once its next token is in,
// in whole seconds, as the fake server and Nominet do.
class TTokenBucket {
public:
    TTokenBucket(double rate, double burst) : FRate(rate), FBurst(burst), FTokens(burst) {}

    // 0 when the query gets through, else the seconds to wait.
    int Ask(double now) {
        FTokens = std::min(FBurst, FTokens + (now - FLast) * FRate);
        FLast = now;
        if (FTokens >= 1) {
            FTokens -= 1;
            return 0;
        }
        return std::max(1, static_cast<int>(std::ceil((1 - FTokens) / FRate)));
    }

private:
    double FRate, FBurst, FTokens, FLast = 0;
};

struct TRun {
    double Seconds = 0; // until the last answer
    int Refusals = 0;
    std::optional<double> FinalPace;
};

// Asks the server for answers names as fast as the pace lets, slots queries
// at once, each taking latency seconds; a refused query is asked again.
TRun AskUntilAnswered(TServerPace& pace, TTokenBucket& server, int answers, int slots,
                      double latency) {
    struct TQuery {
        double Started, Ends;
        int Wait; // the server's decision, made as the query arrives
    };
    std::vector<TQuery> inFlight;
    // Latencies vary the same way in every run, whatever ran before.
    unsigned seed = 12345;
    TRun run;
    int answered = 0;
    double now = 0;
    while (answered < answers) {
        // Start what the pace allows, then let the first query end.
        while (static_cast<int>(inFlight.size()) < slots &&
               SecondsOf(pace.ReadyAt()) <= now + 1e-9) {
            pace.Started(At(now));
            seed = seed * 1103515245 + 12345;
            const double jitter = 0.2 + 1.6 * ((seed >> 8) % 1000) / 1000.0;
            inFlight.push_back({now, now + latency * jitter, server.Ask(now)});
        }
        const auto first = std::min_element(inFlight.begin(), inFlight.end(),
                                            [](auto& a, auto& b) { return a.Ends < b.Ends; });
        const double nextStart = std::max(now, SecondsOf(pace.ReadyAt()));
        if (first == inFlight.end() ||
            (static_cast<int>(inFlight.size()) < slots && nextStart < first->Ends)) {
            now = nextStart;
            continue;
        }
        now = first->Ends;
        const TQuery query = *first;
        inFlight.erase(first);
        if (const int wait = query.Wait; wait > 0) {
            ++run.Refusals;
            pace.Refused(At(query.Started), At(now), std::chrono::seconds(wait));
        } else {
            ++answered;
            pace.Answered(At(query.Started));
        }
    }
    run.Seconds = now;
    run.FinalPace = pace.Pace();
    return run;
}

struct TPaceCase {
    const char* Name;
    double Rate, Burst;
    int Answers;
    std::optional<double> Published, User;
    double MostTime; // share of the ideal time answers / rate
    int MostRefusals;
};

class ServerPaceTest : public ::testing::TestWithParam<TPaceCase> {};

// The pace finds the limit of a token bucket quickly and then keeps just
// below it, so a batch takes hardly longer than the limit allows and the
// server refuses only a handful of queries.
TEST_P(ServerPaceTest, LearnsTheLimitAndKeepsBelowIt) {
    const TPaceCase& c = GetParam();
    TServerPace pace(c.Published, c.User);
    TTokenBucket server(c.Rate, c.Burst);
    const TRun run = AskUntilAnswered(pace, server, c.Answers, 20, 0.001);
    const double ideal = c.Answers / std::min(c.Rate, c.User.value_or(c.Rate));
    EXPECT_LE(run.Seconds, c.MostTime * ideal) << run.Refusals << " refusals";
    std::printf("%s: %.3f of the ideal time, %d refusals\n", c.Name, run.Seconds / ideal,
                run.Refusals);
    EXPECT_LE(run.Refusals, c.MostRefusals) << run.Seconds << " s";
    ASSERT_TRUE(run.FinalPace);
    EXPECT_LE(*run.FinalPace, std::min(c.Rate, c.User.value_or(c.Rate)) * 1.02);
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerPaceTest,
                         ::testing::Values(
                             // Unknown servers start unlimited: the first refusals are the price.
                             TPaceCase{"FiftyBurstTen", 50, 10, 2000, {}, {}, 1.10, 40},
                             TPaceCase{"FiftyNoBurst", 50, 1, 2000, {}, {}, 1.20, 40},
                             TPaceCase{"FiveBurstOne", 5, 1, 200, {}, {}, 1.2, 40},
                             TPaceCase{"TwoHundredBurstFifty", 200, 50, 8000, {}, {}, 1.1, 60},
                             // A published pace is kept just below (the network bunches queries
                             // up) and never refused.
                             TPaceCase{"PublishedFive", 5, 1, 100, 5.0, {}, 1.04, 0},
                             // The user's pace is kept to, and halved when the server refuses it.
                             TPaceCase{"UserBelowLimit", 50, 10, 500, {}, 20.0, 1.02, 0},
                             // Above the limit, every refusal costs the whole second the server
                             // asks for.
                             TPaceCase{"UserAboveLimit", 10, 2, 300, {}, 40.0, 1.70, 40}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A refused query's server is left alone for the wait it asked for; queries
// sent before a cut do not cut the pace again.
TEST(ServerPaceHoldTest, WaitsAndHalvesOncePerRefusal) {
    TServerPace pace(std::nullopt, 8.0);
    EXPECT_EQ(pace.Pace(), 8.0);
    pace.Started(At(0));
    EXPECT_EQ(pace.ReadyAt(), At(0.125));
    pace.Refused(At(0), At(0.01), 3s);
    EXPECT_TRUE(pace.IsHeld(At(3.0)));
    EXPECT_FALSE(pace.IsHeld(At(3.02)));
    EXPECT_EQ(pace.ReadyAt(), At(3.01));
    EXPECT_LE(*pace.Pace(), 4.0);
    const double afterCut = *pace.Pace();
    // Sent before the cut was noticed: the server is held longer, the pace
    // stays, and the refusal counts as the first one.
    pace.Refused(At(0.005), At(0.02), 3s);
    EXPECT_EQ(pace.Pace(), afterCut);
    EXPECT_EQ(pace.ReadyAt(), At(3.02));
    EXPECT_EQ(pace.RefusalsInARow(), 1);
    pace.Answered(At(3.5));
    EXPECT_EQ(pace.RefusalsInARow(), 0);
    pace.Unavailable(At(4), At(4), 10s);
    EXPECT_EQ(pace.ReadyAt(), At(14));
    EXPECT_EQ(pace.RefusalsInARow(), 1);
}

struct TWakeCase {
    const char* Name;
    double Pace;       // queries a second, set by the user
    double WakeEvery;  // seconds: how late the batch's timer looks again
    double QuietUntil; // seconds: nothing is asked before this
    int Starts;        // in the first second after the quiet
};

class ServerPaceWakeTest : public ::testing::TestWithParam<TWakeCase> {};

// The batch's timer counts whole milliseconds and fires late: a fast pace
// still starts its queries a second, catching up within a wake, while a
// server left alone gets no burst.
TEST_P(ServerPaceWakeTest, StartsItsPaceWhateverTheTimer) {
    const TWakeCase& c = GetParam();
    TServerPace pace(std::nullopt, c.Pace);
    pace.Started(At(0));
    int starts = 0;
    for (double now = std::max(c.QuietUntil, 1e-9); now < c.QuietUntil + 1; now += c.WakeEvery) {
        for (int inWake = 0; pace.IsReady(At(now)); ++inWake) {
            pace.Started(At(now));
            ++starts;
            if (now == c.QuietUntil) {
                EXPECT_EQ(inWake, 0) << "a burst after the quiet";
            }
        }
    }
    EXPECT_NEAR(starts, c.Starts, c.Starts / 100 + 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerPaceWakeTest,
                         ::testing::Values(TWakeCase{"SlowOnTime", 8, 0.001, 0, 8},
                                           TWakeCase{"FastLateTimer", 500, 0.003, 0, 500},
                                           TWakeCase{"FastestCoarseTimer", 1000, 0.0013, 0, 1000},
                                           TWakeCase{"FastAfterQuiet", 1000, 0.0013, 5, 1000}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PublishedPaceTest, KnowsNominetAndSidn) {
    EXPECT_EQ(PublishedPace("whois.nic.uk"), 5.0);
    EXPECT_EQ(PublishedPace("WHOIS.nic.uk:43"), 5.0);
    EXPECT_EQ(PublishedPace("whois.domain-registry.nl"), 1.0);
    EXPECT_EQ(PublishedPace("127.0.0.1:4343"), std::nullopt);
}

} // namespace
