#include "batch/BatchScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const TBatchTime T0 = TBatchTime{} + 1000s;

TVerdict Unknown(TVerdictReason reason, std::optional<std::chrono::seconds> wait = {}) {
    return TVerdict{TVerdictKind::Unknown, reason, wait, ""};
}
const TVerdict Registered{TVerdictKind::Registered, TVerdictReason::Registered, {}, ""};

// The candidates of a test batch; a name's server is its suffix.
struct TBatch {
    std::vector<std::string> Names;
    TRetryPolicy Policy;

    TBatchScheduler Make() const {
        return TBatchScheduler(
            Policy, {},
            [this](int p) -> std::optional<std::string> {
                if (p < 0 || p >= static_cast<int>(Names.size()))
                    return std::nullopt;
                return Names[static_cast<std::size_t>(p)];
            },
            [](const std::string& d) { return d.substr(d.find('.') + 1); }, [] { return 1.0; });
    }
};

std::string NextDomain(TBatchScheduler& scheduler, TBatchTime now) {
    const std::optional<TBatchName> name = scheduler.Next(now);
    return name ? name->Domain : "";
}

// The next name, at now or at the wakes after it (a due retry may still wait
// for its server's pace); now becomes the time it was handed out.
std::optional<TBatchName> NextFrom(TBatchScheduler& scheduler, TBatchTime& now) {
    for (int wake = 0; wake < 10; ++wake) {
        if (std::optional<TBatchName> name = scheduler.Next(now))
            return name;
        if (!scheduler.NextWake())
            return std::nullopt;
        now = std::max(now, *scheduler.NextWake());
    }
    return std::nullopt;
}

TEST(BackoffWaitTest, TriplesFromFiveSecondsUpToTenMinutes) {
    const TRetryPolicy policy;
    const std::vector<std::pair<int, TBatchDuration>> table = {
        {1, 5s}, {2, 15s}, {3, 45s}, {4, 135s}, {5, 405s}, {6, 600s}, {10, 600s}};
    for (const auto& [retry, wait] : table)
        EXPECT_EQ(BackoffWait(policy, retry), wait) << "retry " << retry;
}

struct TRetryCase {
    const char* Name;
    TVerdict Verdict;
    int Retries;
    int Queries; // until the name's last result
};

class RetryCountTest : public ::testing::TestWithParam<TRetryCase> {};

// A name is asked again only for a reason time can mend, and at most
// Retries times; each retry waits in the queue, not in a slot.
TEST_P(RetryCountTest, AsksAgainOnlyWhileTimeCanMendIt) {
    const TRetryCase& c = GetParam();
    TBatch batch{{"a.x"}, {}};
    batch.Policy.Retries = c.Retries;
    TBatchScheduler scheduler = batch.Make();
    TBatchTime now = T0;
    int queries = 0;
    for (;;) {
        const TBatchTime asked = now;
        std::optional<TBatchName> name = NextFrom(scheduler, now);
        ASSERT_TRUE(name) << "query " << queries + 1;
        if (queries > 0) { // not before its wait is over
            const TBatchDuration wait = c.Verdict.Wait ? TBatchDuration(*c.Verdict.Wait)
                                                       : BackoffWait(batch.Policy, queries);
            EXPECT_GE(now - asked, wait);
        }
        ++queries;
        if (scheduler.Ended(*name, c.Verdict, now, now))
            break;
        EXPECT_EQ(scheduler.WaitingCount(), 1);
        EXPECT_FALSE(scheduler.Finished());
    }
    EXPECT_EQ(queries, c.Queries);
    EXPECT_EQ(scheduler.WaitingCount(), 0);
    EXPECT_TRUE(scheduler.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetryCountTest,
    ::testing::Values(TRetryCase{"Registered", Registered, 3, 1},
                      TRetryCase{"Throttled", Unknown(TVerdictReason::Throttled, 2s), 3, 4},
                      TRetryCase{"Unavailable", Unknown(TVerdictReason::Unavailable), 3, 4},
                      TRetryCase{"Failed", Unknown(TVerdictReason::Failed), 3, 4},
                      TRetryCase{"Cut", Unknown(TVerdictReason::Cut), 10, 11},
                      TRetryCase{"NoRetries", Unknown(TVerdictReason::Cut), 0, 1},
                      TRetryCase{"InvalidName", Unknown(TVerdictReason::InvalidName), 3, 1},
                      TRetryCase{"Unsupported", Unknown(TVerdictReason::UnsupportedSuffix), 3, 1}),
    [](const auto& info) { return std::string(info.param.Name); });

// A throttled server is left alone for the wait it asked for while other
// servers' names go on; once it is over, its due retry goes before its
// candidates that were put aside, in list order.
TEST(BatchSchedulerTest, ThrottledServerWaitsWhileOthersGoOn) {
    TBatch batch{{"a.one", "b.one", "c.two", "d.one", "e.two"}, {}};
    TBatchScheduler scheduler = batch.Make();
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    EXPECT_FALSE(scheduler.Ended(*a, Unknown(TVerdictReason::Throttled, 10s), T0, T0));

    EXPECT_EQ(NextDomain(scheduler, T0), "c.two");
    EXPECT_EQ(NextDomain(scheduler, T0), "e.two");
    EXPECT_EQ(NextDomain(scheduler, T0 + 9s), "");
    EXPECT_EQ(scheduler.NextWake(), T0 + 10s);
    const std::vector<TWaitingName> waiting = scheduler.FirstWaiting(2);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].Domain, "a.one");
    EXPECT_EQ(waiting[0].Due, T0 + 10s);

    // From here on the server's pace, halved by the refusal, spaces them.
    TBatchTime now = T0 + 10s;
    std::vector<std::string> order;
    while (std::optional<TBatchName> name = NextFrom(scheduler, now)) {
        order.push_back(name->Domain);
        scheduler.Ended(*name, Registered, now, now);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a.one", "b.one", "d.one"}));
    EXPECT_TRUE(scheduler.Finished());
}

// A candidate put aside is read from the list again when its turn comes: a
// line replaced under the batch goes to its new server, a line gone is
// dropped.
TEST(BatchSchedulerTest, ACandidatePutAsideIsReadAgainWhenItsTurnComes) {
    TBatch batch{{"a.one", "b.one", "c.one", "d.two"}, {}};
    TBatchScheduler scheduler = batch.Make();
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    EXPECT_FALSE(scheduler.Ended(*a, Unknown(TVerdictReason::Throttled, 10s), T0, T0));
    EXPECT_EQ(NextDomain(scheduler, T0), "d.two");
    batch.Names = {"a.one", "b.two"};

    TBatchTime now = T0 + 10s;
    std::vector<std::string> order;
    while (std::optional<TBatchName> name = NextFrom(scheduler, now)) {
        order.push_back(name->Domain + " " + name->Server);
        scheduler.Ended(*name, Registered, now, now);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a.one one", "b.two two"}));
    EXPECT_TRUE(scheduler.Finished());
}

struct TBurstCase {
    const char* Name;
    TVerdictReason Reason;
    int InFlight;        // queries sent together, all refused one after another
    int LaterRefusals;   // then, each after the hold: one query sent, refused
    int InARow;          // refusals the pace counts in a row
    TBatchDuration Hold; // from the last refusal on
};

class RefusalBurstTest : public ::testing::TestWithParam<TBurstCase> {};

// The refusals of queries that were sent before the first refusal came back
// are one refusal: a burst costs one back-off, not one more for each query
// that was in flight; a refusal of a query sent after the hold is the next
// in a row.
TEST_P(RefusalBurstTest, QueriesInFlightCountAsOneRefusal) {
    const TBurstCase& c = GetParam();
    TBatch batch{std::vector<std::string>(20, "n.one"), {}};
    batch.Policy.Retries = 0;
    TBatchScheduler scheduler = batch.Make();
    std::vector<TBatchName> sent;
    for (int i = 0; i < c.InFlight; ++i) {
        std::optional<TBatchName> name = scheduler.Next(T0);
        ASSERT_TRUE(name);
        sent.push_back(*name);
    }
    TBatchTime noticed = T0;
    for (const TBatchName& name : sent) {
        noticed += 100ms;
        scheduler.Ended(name, Unknown(c.Reason), T0, noticed);
    }
    const TServerPace* pace = scheduler.PaceOf("one");
    ASSERT_NE(pace, nullptr);
    for (int i = 0; i < c.LaterRefusals; ++i) {
        const TBatchTime now = pace->ReadyAt();
        std::optional<TBatchName> name = scheduler.Next(now);
        ASSERT_TRUE(name);
        noticed = now + 100ms;
        scheduler.Ended(*name, Unknown(c.Reason), now, noticed);
    }
    EXPECT_EQ(pace->RefusalsInARow(), c.InARow);
    EXPECT_EQ(pace->ReadyAt(), noticed + c.Hold);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalBurstTest,
    ::testing::Values(TBurstCase{"OneRefusal", TVerdictReason::Throttled, 1, 0, 1, 5s},
                      TBurstCase{"BurstOfEight", TVerdictReason::Throttled, 8, 0, 1, 5s},
                      TBurstCase{"BurstThenRefusedAgain", TVerdictReason::Throttled, 8, 1, 2, 15s},
                      TBurstCase{"BurstThenTwoMore", TVerdictReason::Throttled, 4, 2, 3, 45s},
                      TBurstCase{"OutagesOfOneBurst", TVerdictReason::Unavailable, 8, 0, 1, 5s},
                      TBurstCase{"OutageThenAnother", TVerdictReason::Unavailable, 3, 1, 2, 15s}),
    [](const auto& info) { return std::string(info.param.Name); });

// A throttle halves the pace of the server asked; a run of answers raises it
// again, never above what the user set.
TEST(BatchSchedulerTest, ThrottleHalvesTheUsersPaceAndAnswersRaiseIt) {
    std::vector<std::string> names(200, "n.one");
    TBatchScheduler scheduler(
        TRetryPolicy{}, {{"one", 10.0}},
        [&](int p) -> std::optional<std::string> {
            if (p >= static_cast<int>(names.size()))
                return std::nullopt;
            return names[static_cast<std::size_t>(p)];
        },
        [](const std::string&) { return std::string("one"); }, [] { return 1.0; });
    std::optional<TBatchName> first = scheduler.Next(T0);
    ASSERT_TRUE(first);
    ASSERT_EQ(scheduler.PaceOf("one")->Pace(), 10.0);
    // At 10 a second, the next query may start 100 ms later.
    EXPECT_FALSE(scheduler.Next(T0 + 99ms));
    scheduler.Ended(*first, Unknown(TVerdictReason::Throttled, 1s), T0, T0 + 1ms);
    EXPECT_LE(*scheduler.PaceOf("one")->Pace(), 5.0);
    TBatchTime now = T0 + 1001ms;
    for (int i = 0; i < 60; ++i) {
        std::optional<TBatchName> name = scheduler.Next(now);
        ASSERT_TRUE(name) << i;
        scheduler.Ended(*name, Registered, now, now);
        now = std::max(now, scheduler.PaceOf("one")->ReadyAt());
    }
    EXPECT_GT(*scheduler.PaceOf("one")->Pace(), 5.0);
    EXPECT_LE(*scheduler.PaceOf("one")->Pace(), 10.0);
}

// The proxies of a test batch: Usable says which are not set aside.
struct TProxyBatch {
    TBatch Batch;
    std::size_t Count;
    std::vector<bool> Usable;

    TBatchScheduler Make() const {
        TBatchScheduler scheduler = Batch.Make();
        scheduler.SetProxies({Count, [this](std::size_t p) { return Usable[p]; }});
        return scheduler;
    }
};

// The proxy of a handed-out name: -1 when it goes through none.
int ProxyOf(const TBatchName& name) {
    return name.Proxy ? static_cast<int>(*name.Proxy) : -1;
}

struct TTurnCase {
    const char* Name;
    std::vector<std::string> Names;
    std::size_t Proxies;
    std::vector<bool> Usable;
    std::vector<int> Through; // the proxy of each name in turn
};

void PrintTo(const TTurnCase& c, std::ostream* out) {
    *out << c.Name;
}

class ProxyTurnTest : public ::testing::TestWithParam<TTurnCase> {};

// Each server takes the usable proxies in turn; with every one set aside a
// name goes through none (its query fails and is asked again), and without
// proxies straight.
TEST_P(ProxyTurnTest, EachServerTakesTheUsableProxiesInTurn) {
    const TTurnCase& c = GetParam();
    const TProxyBatch proxies{{c.Names, {}}, c.Proxies, c.Usable};
    TBatchScheduler scheduler = proxies.Make();
    std::vector<int> through;
    while (std::optional<TBatchName> name = scheduler.Next(T0)) {
        through.push_back(ProxyOf(*name));
        scheduler.Ended(*name, Registered, T0, T0);
    }
    EXPECT_EQ(through, c.Through);
    EXPECT_TRUE(scheduler.Finished());
}

const std::vector<std::string> SixOfOne = {"a.one", "b.one", "c.one", "d.one", "e.one", "f.one"};

INSTANTIATE_TEST_SUITE_P(
    Table, ProxyTurnTest,
    ::testing::Values(
        TTurnCase{"AllUsable", SixOfOne, 3, {true, true, true}, {0, 1, 2, 0, 1, 2}},
        TTurnCase{"SetAsideOnePassedOver", SixOfOne, 3, {true, false, true}, {0, 2, 0, 2, 0, 2}},
        TTurnCase{"NoneUsable", SixOfOne, 2, {false, false}, {-1, -1, -1, -1, -1, -1}},
        TTurnCase{"NoProxies", SixOfOne, 0, {}, {-1, -1, -1, -1, -1, -1}},
        TTurnCase{"EachServerItsOwnTurn",
                  {"a.one", "b.two", "c.one", "d.two", "e.two"},
                  2,
                  {true, true},
                  {0, 0, 1, 1, 0}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A registry counts each proxy's address on its own: a throttle through one
// proxy holds only that proxy's queries to that server, and the answer of a
// query that went through another proxy than picked counts for that one.
TEST(BatchSchedulerTest, ThrottleThroughOneProxyHoldsOnlyThatProxy) {
    const TProxyBatch proxies{{{"a.one", "b.one", "c.one", "d.two", "e.one"}, {}}, 2, {true, true}};
    TBatchScheduler scheduler = proxies.Make();
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    ASSERT_EQ(ProxyOf(*a), 0);
    EXPECT_FALSE(scheduler.Ended(*a, Unknown(TVerdictReason::Throttled, 10s), T0, T0));
    EXPECT_TRUE(scheduler.PaceOf("one", 0)->IsHeld(T0));
    EXPECT_FALSE(scheduler.PaceOf("one", 1)->IsHeld(T0));

    // The other proxy goes on with the server's names, and another server's
    // turn is its own.
    std::vector<std::pair<std::string, int>> order;
    for (int i = 0; i < 4; ++i) {
        std::optional<TBatchName> name = scheduler.Next(T0 + 1s);
        ASSERT_TRUE(name) << i;
        order.emplace_back(name->Domain, ProxyOf(*name));
        // b's query was picked for proxy 1 but went through proxy 0 (1 had
        // failed on the way): proxy 0's pace hears of it, not 1's.
        if (name->Domain == "b.one")
            name->Proxy = 0;
        const int proxy0Refusals = scheduler.PaceOf("one", 0)->RefusalsInARow();
        scheduler.Ended(*name, Registered, T0 + 1s, T0 + 1s);
        if (name->Domain == "b.one") {
            EXPECT_EQ(proxy0Refusals, 1);
            EXPECT_EQ(scheduler.PaceOf("one", 0)->RefusalsInARow(), 0);
        }
    }
    EXPECT_EQ(order, (std::vector<std::pair<std::string, int>>{
                         {"b.one", 1}, {"c.one", 1}, {"d.two", 0}, {"e.one", 1}}));
    // The throttled name comes back once the wait it was given is over.
    EXPECT_FALSE(scheduler.Next(T0 + 9s));
    std::optional<TBatchName> retry = scheduler.Next(T0 + 10s);
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->Domain, "a.one");
    EXPECT_TRUE(scheduler.Ended(*retry, Registered, T0 + 10s, T0 + 10s));
    EXPECT_TRUE(scheduler.Finished());
}

// Through proxies, a long wait puts off only the proxy it came through; the
// server's names end without a query once every usable proxy is put off.
TEST(BatchSchedulerTest, ALongWaitPutsOffOnlyItsProxy) {
    const TProxyBatch proxies{{{"a.one", "b.one", "c.one"}, {}}, 2, {true, true}};
    TBatchScheduler scheduler = proxies.Make();
    const TVerdict dayLong = Unknown(TVerdictReason::Throttled, 86400s);
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    EXPECT_TRUE(scheduler.Ended(*a, dayLong, T0, T0));
    std::optional<TBatchName> b = scheduler.Next(T0);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->Settled);
    EXPECT_EQ(ProxyOf(*b), 1);
    EXPECT_TRUE(scheduler.Ended(*b, dayLong, T0, T0));
    std::optional<TBatchName> c = scheduler.Next(T0);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->Settled);
    EXPECT_TRUE(scheduler.Ended(*c, *c->Settled, T0, T0));
    EXPECT_TRUE(scheduler.Finished());
}

// A query that went through no proxy, as every one was set aside, tells no
// pace anything.
TEST(BatchSchedulerTest, QueryThroughNoProxyLeavesEveryPaceAlone) {
    TProxyBatch proxies{{{"a.one"}, {}}, 2, {false, false}};
    TBatchScheduler scheduler = proxies.Make();
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    EXPECT_EQ(ProxyOf(*a), -1);
    EXPECT_FALSE(scheduler.Ended(*a, Unknown(TVerdictReason::Throttled, 60s), T0, T0));
    EXPECT_FALSE(scheduler.PaceOf("one", 0)->IsHeld(T0));
    EXPECT_FALSE(scheduler.PaceOf("one", 1)->IsHeld(T0));
}

// After a server's first refusals through every proxy, one proxy's pace
// climbs to find the server's rate while the others keep theirs; once it has
// found it, the others take it instead of each paying a refusal to find it.
TEST(BatchSchedulerTest, OneProxyFindsTheServersRateAndTheOthersTakeIt) {
    const TProxyBatch proxies{{std::vector<std::string>(400, "n.one"), {}}, 3, {true, true, true}};
    TBatchScheduler scheduler = proxies.Make();
    TBatchTime now = T0;
    // The next name, answered at once with what verdictFor gives its proxy;
    // its proxy.
    const auto answerBy = [&](const std::function<TVerdict(int)>& verdictFor) {
        std::optional<TBatchName> name = NextFrom(scheduler, now);
        EXPECT_TRUE(name);
        if (!name)
            return -2;
        scheduler.Ended(*name, verdictFor(ProxyOf(*name)), now, now + 1ms);
        return ProxyOf(*name);
    };
    const auto answer = [&](const TVerdict& verdict) {
        return answerBy([&](int) { return verdict; });
    };
    for (int i = 0; i < 6; ++i)
        answer(Registered); // two answers of each proxy's burst
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(answer(Unknown(TVerdictReason::Throttled, 1s)), i);
    const auto paceOf = [&](std::size_t proxy) { return *scheduler.PaceOf("one", proxy)->Pace(); };
    const double startPace = paceOf(1);
    for (int i = 0; i < 40; ++i)
        answer(Registered);
    EXPECT_GT(paceOf(0), 4 * startPace);
    EXPECT_EQ(paceOf(1), startPace);
    EXPECT_EQ(paceOf(2), startPace);
    EXPECT_FALSE(scheduler.PaceOf("one", 1)->Target());

    // Proxy 0 is refused: what it answered since its first refusal tells the
    // rate, and the next answer through any proxy hands it to the others.
    const auto refuseProxy0 = [](int proxy) {
        return proxy == 0 ? Unknown(TVerdictReason::Throttled, 1s) : Registered;
    };
    while (answerBy(refuseProxy0) > 0) {
    }
    const std::optional<double> found = scheduler.PaceOf("one", 0)->Target();
    ASSERT_TRUE(found);
    answer(Registered);
    EXPECT_EQ(scheduler.PaceOf("one", 1)->Target(), found);
    EXPECT_EQ(scheduler.PaceOf("one", 2)->Target(), found);
    EXPECT_EQ(paceOf(1), *found);
}

struct TPutOffCase {
    const char* Name;
    TVerdict Verdict; // of the server's first answer
    bool PutOff;      // whether the batch gives up waiting for the server
};

class PutOffTest : public ::testing::TestWithParam<TPutOffCase> {};

// A wait up to the longest back-off is waited out; a longer one is not: the
// server's names end unknown at once without a query (throttled, with the
// wait it named), the other servers go on, and once the wait is over the
// server is asked again.
TEST_P(PutOffTest, AWaitLongerThanTheLongestBackoffIsNotWaitedOut) {
    const TPutOffCase& c = GetParam();
    const TBatchDuration wait = *c.Verdict.Wait;
    TBatch batch{{"a.one", "b.one", "c.two", "d.one"}, {}};
    TBatchScheduler scheduler = batch.Make();
    std::optional<TBatchName> a = scheduler.Next(T0);
    ASSERT_TRUE(a);
    EXPECT_EQ(scheduler.Ended(*a, c.Verdict, T0, T0), c.PutOff);

    std::optional<TBatchName> next = scheduler.Next(T0 + 1s);
    ASSERT_TRUE(next);
    if (!c.PutOff) {
        EXPECT_EQ(next->Domain, "c.two");
        EXPECT_FALSE(next->Settled);
        EXPECT_TRUE(scheduler.PutOffServers().empty());
        std::optional<TBatchName> retry = scheduler.Next(T0 + wait);
        ASSERT_TRUE(retry);
        EXPECT_EQ(retry->Domain, "a.one");
        EXPECT_FALSE(retry->Settled);
        return;
    }
    EXPECT_EQ(next->Domain, "b.one");
    ASSERT_TRUE(next->Settled);
    EXPECT_EQ(next->Settled->Kind, TVerdictKind::Unknown);
    EXPECT_EQ(next->Settled->Reason, TVerdictReason::Throttled);
    EXPECT_EQ(next->Settled->Wait, std::chrono::duration_cast<std::chrono::seconds>(wait - 1s));
    const std::string named = std::to_string(c.Verdict.Wait->count()) + " s";
    EXPECT_NE(next->Settled->Detail.find(named), std::string::npos) << next->Settled->Detail;
    EXPECT_TRUE(scheduler.Ended(*next, *next->Settled, T0 + 1s, T0 + 1s));
    const std::vector<TPutOffServer> putOff = scheduler.PutOffServers();
    ASSERT_EQ(putOff.size(), 1u);
    EXPECT_EQ(putOff[0].Server, "one");
    EXPECT_EQ(putOff[0].Until, T0 + wait);

    std::optional<TBatchName> other = scheduler.Next(T0 + 1s);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->Domain, "c.two");
    EXPECT_FALSE(other->Settled);
    EXPECT_TRUE(scheduler.Ended(*other, Registered, T0 + 1s, T0 + 1s));
    // The wait is over: the server is asked again.
    std::optional<TBatchName> later = scheduler.Next(T0 + wait);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->Domain, "d.one");
    EXPECT_FALSE(later->Settled);
    EXPECT_TRUE(scheduler.PutOffServers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutOffTest,
    ::testing::Values(
        TPutOffCase{"TenMinutesAreWaitedOut", Unknown(TVerdictReason::Throttled, 600s), false},
        TPutOffCase{"ASecondMoreIsNot", Unknown(TVerdictReason::Throttled, 601s), true},
        TPutOffCase{"ADayLongRetryAfter", Unknown(TVerdictReason::Throttled, 86400s), true},
        TPutOffCase{"AnHourLongOutage", Unknown(TVerdictReason::Unavailable, 3600s), true}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
