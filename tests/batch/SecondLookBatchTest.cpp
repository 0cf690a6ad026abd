#include "batch/BatchController.h"

#include "engine/QueryDomain.h"
#include "tests/support/LocalRegistryData.h"
#include "tests/support/ScopedEnv.h"
#include "tools/FakeWhoisServer.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string Lie = "no matching record.\r\n";

// Names starting with "free" are not registered; every other name is.
std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "no matching record.\r\n";
    return "Domain Name: " + query +
           "\r\nCreation Date: 2001-02-03T04:05:06Z\r\nName Server: ns1.example.net\r\n";
}

struct TLyingCase {
    const char* Name;
    // The server answers "no matching record." to every query from the
    // LiesFrom-th on, LiesFor of them in a row: a registry over its quota.
    int LiesFrom;
    int LiesFor;
    std::vector<std::string> Domains;
    int Free;       // names reported free
    int Registered; // at least this many registered
};

void PrintTo(const TLyingCase& c, std::ostream* out) {
    *out << c.Name;
}

class SecondLookBatchTest : public ::testing::TestWithParam<TLyingCase> {};

// .dk (no RDAP base) on a registry of loopback: every free is looked at
// again later beside a name the server answered registered. A server that
// answers "no matching record." to every query for a spell never puts a
// registered name in the free list, and once it tells the truth again every
// name is decided; an honest one has its frees confirmed.
TEST_P(SecondLookBatchTest, NoRegisteredNameIsReportedFree) {
    const TLyingCase& c = GetParam();
    TScopedEnv noStandIn("TAVIREL_WHOIS_SERVER");
    std::atomic<int> queries{0};
    TFakeWhoisOptions options;
    options.Responder = [&](const std::string& query) {
        const int number = queries++;
        return number >= c.LiesFrom && number < c.LiesFrom + c.LiesFor ? Lie : Reply(query);
    };
    TFakeWhoisServer server(std::move(options));
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_EQ(ReadWhoisVerdict(TExchangeResult{"no matching record.\r\n", TExchangeEnd::Closed},
                               server.Address())
                  .Kind,
              TVerdictKind::Free)
        << "the lie must read as free, or this proves nothing";

    TGbkListModel domains, state, noReg, info;
    TBatchController batch(domains, state, noReg, info, [] {
        return TDisplayFlags{true, false, false, true, false};
    });
    batch.SetRegistryData(RegistryDataRoutingTo("dk", server.Address(), ""));
    batch.SetClock(TBatchClock(100));
    // A server caught lying is left alone as one that refuses is; the waits
    // are kept short here so that the spell's end comes soon.
    TRetryPolicy policy;
    policy.LongestWait = std::chrono::seconds(60);
    batch.SetRetryPolicy(policy);
    batch.SetJitter([] { return 1.0; });
    domains.SetLines(c.Domains);
    std::vector<std::string> reportedFree;
    QObject::connect(&batch, &TBatchController::QueryEnded, [&](const TQueryDomain* job) {
        if (job->Verdict.Kind == TVerdictKind::Free) {
            reportedFree.push_back(job->Domain);
            EXPECT_NE(job->Confirmation.find("second query"), std::string::npos)
                << job->Confirmation;
        }
    });
    QEventLoop loop;
    QObject::connect(&batch, &TBatchController::BatchEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    ASSERT_EQ(batch.Start("4", "3"), "");
    loop.exec();
    ASSERT_FALSE(batch.IsActive()) << "the batch did not end";

    for (const std::string& name : reportedFree)
        EXPECT_EQ(name.rfind("free", 0), 0u) << name << " is registered";
    EXPECT_EQ(static_cast<int>(reportedFree.size()), c.Free);
    EXPECT_EQ(noReg.Count(), c.Free);
    EXPECT_GE(batch.Counts().Registered, c.Registered);
    EXPECT_EQ(batch.Counts().Free + batch.Counts().Registered + batch.Counts().Unknown,
              static_cast<int>(c.Domains.size()));
}

std::vector<std::string> Registered(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("taken" + std::to_string(i) + ".dk");
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SecondLookBatchTest,
    ::testing::Values(
        TLyingCase{"LyingOverItsQuota", 3, 20, Registered(12), 0, 12},
        TLyingCase{
            "HonestFreesConfirmed", 0, 0, {"a.dk", "free1.dk", "b.dk", "free2.dk", "c.dk"}, 2, 3}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
