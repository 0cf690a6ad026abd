#include "batch/BudgetLedger.h"

#include "batch/BatchController.h"
#include "engine/RegistryLimits.h"
#include "tests/support/FakeWhois.h"
#include "tests/support/LocalRegistryData.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr TUnixSeconds T0 = 1'800'000'000;
constexpr TUnixSeconds Day = BudgetWindowSeconds;

struct TSpendStep {
    int Ledger; // which of two ledgers on the same file spends: two runs at once
    const char* Via;
    TUnixSeconds At;
    bool Spent;
    TUnixSeconds NextAt; // when refused
};

struct TBudgetCase {
    const char* Name;
    int PerDay;
    std::vector<TSpendStep> Steps;
};

// A budget of perDay queries in any 24 hours, per way out, shared by every
// program that opens the same file.
TEST(BudgetLedgerTest, SpendsWithinTheRollingDay) {
    const TBudgetCase cases[] = {
        {"SpentThenRefusedUntilTheFirstLeaves",
         2,
         {{0, "", T0, true, 0},
          {0, "", T0 + 10, true, 0},
          {0, "", T0 + 20, false, T0 + Day},
          {0, "", T0 + Day - 1, false, T0 + Day}}},
        {"RollingWindowFreesOneAtATime",
         2,
         {{0, "", T0, true, 0},
          {0, "", T0 + 100, true, 0},
          {0, "", T0 + Day, true, 0}, // the first has left the window
          {0, "", T0 + Day + 1, false, T0 + 100 + Day}}},
        {"SharedBetweenRuns",
         3,
         {{0, "", T0, true, 0},
          {1, "", T0 + 1, true, 0},
          {0, "", T0 + 2, true, 0},
          {1, "", T0 + 3, false, T0 + Day}}},
        {"PerProxy",
         1,
         {{0, "socks5://a", T0, true, 0},
          {0, "socks5://b", T0, true, 0},
          {0, "", T0, true, 0},
          {1, "socks5://a", T0 + 5, false, T0 + Day}}},
    };
    int run = 0;
    for (const TBudgetCase& c : cases) {
        const std::string file = (std::filesystem::temp_directory_path() /
                                  ("tavirel-budget-" + std::to_string(::getpid()) + "-" +
                                   std::to_string(run++) + "/budgets.sqlite"))
                                     .string();
        std::string error;
        std::unique_ptr<TBudgetLedger> ledgers[2] = {TBudgetLedger::Open(file, error),
                                                     TBudgetLedger::Open(file, error)};
        ASSERT_TRUE(ledgers[0] && ledgers[1]) << error;
        for (std::size_t i = 0; i < c.Steps.size(); ++i) {
            const TSpendStep& step = c.Steps[i];
            const TBudgetSpend spend =
                ledgers[step.Ledger]->Spend("whois.nic.fr", step.Via, c.PerDay, step.At);
            EXPECT_EQ(spend.Spent, step.Spent) << c.Name << " step " << i;
            if (!step.Spent) {
                EXPECT_EQ(spend.NextAt.value_or(0), step.NextAt) << c.Name << " step " << i;
            }
        }
        EXPECT_EQ(ledgers[0]->Left("whois.other", "", c.PerDay, T0), c.PerDay) << c.Name;
        ledgers[0].reset();
        ledgers[1].reset();
        std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    }
}

TEST(BudgetLedgerTest, UnopenableFileIsNamed) {
    std::string error;
    EXPECT_EQ(TBudgetLedger::Open("", error), nullptr);
    EXPECT_NE(error.find("state folder"), std::string::npos) << error;
    EXPECT_EQ(TBudgetLedger::Open("/proc/no-such/budgets.sqlite", error), nullptr);
    EXPECT_NE(error.find("/proc/no-such/budgets.sqlite"), std::string::npos) << error;
}

// A host with a daily budget of 3: the first batch asks 3 names and leaves
// the rest unknown (throttled, naming the budget and when it frees); a
// second batch the same day asks nothing of it.
TEST(BudgetLedgerTest, BatchStopsAskingASpentHost) {
    TScopedEnv noStandIn("TAVIREL_WHOIS_SERVER");
    auto server = StartServer(Always("Domain Name: x.dk\r\nCreation Date: "
                                     "2001-02-03T04:05:06Z\r\nName Server: ns1.example.net\r\n"));
    ASSERT_TRUE(server);
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("tavirel-budget-batch-" + std::to_string(::getpid())))
                                   .string();
    TRegistryLimits limits;
    limits.ByHost["127.0.0.1"] = TRegistryLimit{std::nullopt, 3, "test"};
    std::vector<int> unknownByBudget;
    for (int run = 0; run < 2; ++run) {
        TGbkListModel domains, state, noReg, info;
        TBatchController batch(domains, state, noReg, info, [] {
            return TDisplayFlags{true, false, false, true, false};
        });
        batch.SetRegistryData(RegistryDataRoutingTo("dk", server->Address(), ""));
        batch.SetRegistryLimits(&limits, folder + "/budgets.sqlite");
        domains.SetLines({"a.dk", "b.dk", "c.dk", "d.dk", "e.dk"});
        int byBudget = 0;
        QObject::connect(&batch, &TBatchController::QueryEnded, [&](const TQueryDomain* job) {
            if (job->Verdict.Detail.find("daily budget of 127.0.0.1") == std::string::npos)
                return;
            ++byBudget;
            EXPECT_EQ(job->Verdict.Reason, TVerdictReason::Throttled);
            EXPECT_NE(job->Verdict.Detail.find("next query possible at "), std::string::npos);
        });
        QEventLoop loop;
        QObject::connect(&batch, &TBatchController::BatchEnded, &loop, &QEventLoop::quit);
        QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
        ASSERT_EQ(batch.Start("1", "0"), "");
        loop.exec();
        ASSERT_FALSE(batch.IsActive());
        unknownByBudget.push_back(byBudget);
    }
    EXPECT_EQ(server->Queries().size(), 3u);
    EXPECT_EQ(unknownByBudget, (std::vector<int>{2, 5}));
    std::filesystem::remove_all(folder);
}

} // namespace
