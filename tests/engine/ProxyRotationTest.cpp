#include "engine/ProxyRotation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using TTimePoint = std::chrono::steady_clock::time_point;

std::vector<TProxy> Proxies(int count) {
    std::vector<TProxy> proxies;
    for (int i = 0; i < count; ++i) {
        proxies.push_back(TProxy{TProxyScheme::Socks5, "p" + std::to_string(i), 1080, "", ""});
    }
    return proxies;
}

// One step of a scenario, on a clock that moves only when a step says so.
struct TStep {
    enum TOp { Take, Fail, Succeed, UsableIn } Op;
    int Arg = 0;                  // Take: the index expected (-1: none); Fail, Succeed: the
                                  // pick (in the order taken); UsableIn: seconds (-1: now)
    std::chrono::seconds Later{}; // the clock moves on by this first
};

TStep Take(int index, std::chrono::seconds later = 0s) {
    return {TStep::Take, index, later};
}
TStep Fail(int pick, std::chrono::seconds later = 0s) {
    return {TStep::Fail, pick, later};
}
TStep Succeed(int pick, std::chrono::seconds later = 0s) {
    return {TStep::Succeed, pick, later};
}
TStep UsableIn(int seconds) {
    return {TStep::UsableIn, seconds};
}

struct TRotationCase {
    const char* Name;
    int Proxies;
    std::vector<TStep> Steps;
};

void PrintTo(const TRotationCase& c, std::ostream* out) {
    *out << c.Name;
}

class ProxyRotationTest : public ::testing::TestWithParam<TRotationCase> {};

TEST_P(ProxyRotationTest, TakesReportsAndSetsAside) {
    const TRotationCase& c = GetParam();
    TTimePoint now = TTimePoint{} + 1000h;
    TProxyRotation rotation(Proxies(c.Proxies), [&now] { return now; });
    std::vector<TProxyPick> picks;
    for (std::size_t i = 0; i < c.Steps.size(); ++i) {
        const TStep& step = c.Steps[i];
        now += step.Later;
        SCOPED_TRACE("step " + std::to_string(i));
        switch (step.Op) {
        case TStep::Take: {
            const auto pick = rotation.Next();
            EXPECT_EQ(pick ? static_cast<int>(pick->Index) : -1, step.Arg);
            if (pick) {
                EXPECT_EQ(pick->Proxy, &rotation.Proxy(pick->Index));
                EXPECT_EQ(*pick->Key, "socks5://p" + std::to_string(pick->Index) + ":1080");
                picks.push_back(*pick);
            }
            break;
        }
        case TStep::Fail:
            rotation.Report(picks.at(step.Arg), TProxyFault::Unreachable);
            break;
        case TStep::Succeed:
            rotation.Report(picks.at(step.Arg), TProxyFault::None);
            break;
        case TStep::UsableIn: {
            const auto at = rotation.NextUsableAt();
            EXPECT_EQ(at ? std::chrono::duration_cast<std::chrono::seconds>(*at - now).count() : -1,
                      step.Arg);
            break;
        }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProxyRotationTest,
    ::testing::Values(
        TRotationCase{"NoProxiesNoPick", 0, {Take(-1), UsableIn(-1)}},
        TRotationCase{"EachInTurn", 3, {Take(0), Take(1), Take(2), Take(0), Take(1), UsableIn(-1)}},
        TRotationCase{
            "FailedOneSkippedForThirtySeconds",
            3,
            {Take(0), Fail(0), Take(1), Take(2), Take(1), Take(2, 29s), Take(0, 1s), Take(1)}},
        TRotationCase{"SetAsideDoublesUpToTenMinutes",
                      1,
                      {Take(0),       Fail(0),       Take(-1),      UsableIn(30),  Take(-1, 29s),
                       Take(0, 1s),   Fail(1),       UsableIn(60),  Take(-1, 59s), Take(0, 1s),
                       Fail(2),       UsableIn(120), Take(0, 120s), Fail(3),       UsableIn(240),
                       Take(0, 240s), Fail(4),       UsableIn(480), Take(0, 480s), Fail(5),
                       UsableIn(600), Take(0, 600s), Fail(6),       UsableIn(600), Take(-1, 599s),
                       Take(0, 1s)}},
        TRotationCase{"SuccessStartsTheCountAgain",
                      1,
                      {Take(0), Fail(0), Take(0, 30s), Fail(1), Take(0, 60s), Succeed(2), Take(0),
                       Fail(3), UsableIn(30)}},
        TRotationCase{"OneOutageSeenByManyQueriesCountsOnce",
                      1,
                      {Take(0), Take(0), Take(0), Fail(0), Fail(1), Succeed(2), UsableIn(30),
                       Take(0, 30s), Fail(3), UsableIn(60)}},
        TRotationCase{"LateSuccessDoesNotBringBackASetAsideProxy",
                      2,
                      {Take(0), Take(1), Take(0), Fail(0), Succeed(2), Take(1), Take(1)}},
        TRotationCase{"NoneUsableUntilTheFirstComesBack",
                      2,
                      {Take(0), Take(1), Fail(0), Fail(1, 10s), Take(-1), UsableIn(20),
                       Take(-1, 19s), Take(0, 1s), Take(0), Take(1, 10s)}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A query through the rotation: which proxies it tries, which one serves it,
// and what it says when none does. Faults: the fault of each proxy (by
// index) when tried; AsideBefore: proxies already set aside.
struct TAttemptCase {
    const char* Name;
    int Proxies;
    std::map<int, TProxyFault> Faults;
    std::vector<int> AsideBefore;
    std::vector<int> Tried;
    int Served; // -1: none
    std::string WhyNot;
};

void PrintTo(const TAttemptCase& c, std::ostream* out) {
    *out << c.Name;
}

class AttemptThroughRotationTest : public ::testing::TestWithParam<TAttemptCase> {};

TEST_P(AttemptThroughRotationTest, GoesOnPastFailingProxiesOncePerProxy) {
    const TAttemptCase& c = GetParam();
    TProxyRotation rotation(Proxies(c.Proxies));
    for (int index : c.AsideBefore) {
        for (std::optional<TProxyPick> pick = rotation.Next(); pick; pick = rotation.Next()) {
            if (pick->Index == static_cast<std::size_t>(index)) {
                rotation.Report(*pick, TProxyFault::Unreachable);
                break;
            }
        }
    }
    std::vector<int> tried;
    const auto attempt = [&](const TProxy& proxy) {
        const int index = std::stoi(proxy.Host.substr(1));
        tried.push_back(index);
        const auto fault = c.Faults.find(index);
        const TProxyFault f = fault == c.Faults.end() ? TProxyFault::None : fault->second;
        return TProxyAttempt{f, f == TProxyFault::None ? "" : "fault of " + proxy.Host};
    };
    std::string whyNot;
    const std::optional<TProxyPick> served = AttemptThroughRotation(rotation, attempt, whyNot);
    EXPECT_EQ(tried, c.Tried);
    EXPECT_EQ(served ? static_cast<int>(served->Index) : -1, c.Served);
    EXPECT_EQ(whyNot, c.WhyNot);
    // Every proxy that failed is set aside now.
    for (const auto& [index, fault] : c.Faults) {
        for (int round = 0; round < c.Proxies; ++round) {
            const auto pick = rotation.Next();
            ASSERT_TRUE(!pick || pick->Index != static_cast<std::size_t>(index)) << index;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AttemptThroughRotationTest,
    ::testing::Values(
        TAttemptCase{"FirstServes", 3, {}, {}, {0}, 0, ""},
        TAttemptCase{"DeadOneIsPassedOver", 2, {{0, TProxyFault::Unreachable}}, {}, {0, 1}, 1, ""},
        TAttemptCase{"EveryKindOfFaultGoesOn",
                     4,
                     {{0, TProxyFault::Unreachable},
                      {1, TProxyFault::HandshakeRefused},
                      {2, TProxyFault::AuthRefused}},
                     {},
                     {0, 1, 2, 3},
                     3,
                     ""},
        TAttemptCase{"AllFailEachTriedOnce",
                     2,
                     {{0, TProxyFault::AuthRefused}, {1, TProxyFault::Unreachable}},
                     {},
                     {0, 1},
                     -1,
                     "no usable proxy: fault of p1"},
        TAttemptCase{"AllSetAsideNoneTried", 2, {}, {0, 1}, {}, -1, "no usable proxy"},
        TAttemptCase{"SetAsideOnesAreSkipped", 3, {}, {0, 1}, {2}, 2, ""},
        TAttemptCase{"EmptyRotation", 0, {}, {}, {}, -1, "no usable proxy"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The batch names the proxy a query goes through first; when that one is set
// aside or fails, the query goes on in turn like any other.
TEST(AttemptThroughRotationFirstTest, TriesTheNamedProxyFirstWhenUsable) {
    struct TCase {
        const char* Name;
        int First;
        int AsideBefore; // -1: none
        int Failing;     // -1: none
        std::vector<int> Tried;
    };
    const std::vector<TCase> table = {
        {"NamedOneServes", 2, -1, -1, {2}},
        {"NamedOneSetAsideTurnInstead", 1, 1, -1, {0}},
        {"NamedOneFailsTurnGoesOn", 1, -1, 1, {1, 0}},
        {"PastTheEndTurnInstead", 7, -1, -1, {0}},
    };
    for (const TCase& c : table) {
        TProxyRotation rotation(Proxies(3));
        if (c.AsideBefore >= 0) {
            const auto pick = rotation.Take(static_cast<std::size_t>(c.AsideBefore));
            ASSERT_TRUE(pick) << c.Name;
            rotation.Report(*pick, TProxyFault::Unreachable);
            EXPECT_FALSE(rotation.IsUsable(static_cast<std::size_t>(c.AsideBefore))) << c.Name;
        }
        std::vector<int> tried;
        const auto attempt = [&](const TProxy& proxy) {
            const int index = std::stoi(proxy.Host.substr(1));
            tried.push_back(index);
            return TProxyAttempt{index == c.Failing ? TProxyFault::Unreachable : TProxyFault::None,
                                 ""};
        };
        std::string whyNot;
        const auto served =
            AttemptThroughRotation(rotation, attempt, whyNot, static_cast<std::size_t>(c.First));
        EXPECT_EQ(tried, c.Tried) << c.Name;
        ASSERT_TRUE(served) << c.Name;
        EXPECT_EQ(static_cast<int>(served->Index), c.Tried.back()) << c.Name;
    }
}

TEST(ProxyRotationThreadsTest, PicksSpreadEvenlyOverTheProxiesFromManyThreads) {
    TProxyRotation rotation(Proxies(4));
    std::vector<std::atomic<int>> counts(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                const auto pick = rotation.Next();
                ASSERT_TRUE(pick);
                ++counts[pick->Index];
                rotation.Report(*pick, TProxyFault::None);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& count : counts) {
        EXPECT_EQ(count.load(), 1000);
    }
}

} // namespace
