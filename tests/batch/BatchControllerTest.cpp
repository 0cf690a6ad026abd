#include "batch/BatchController.h"

#include "engine/IntegerText.h"
#include "tests/support/FakeWhois.h"
#include "tools/FakeRdapServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

const std::string Running = "  \xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xA1\xAD"; // "  正在查询…"
const std::string Ended = " - \xC8\xCE\xCE\xF1\xBD\xE1\xCA\xF8";          // " - 任务结束"
const std::string PauseCaption = "\xD4\xDD\xCD\xA3\xB2\xE9\xD1\xAF";      // 暂停查询
const std::string ResumeCaption = "\xBC\xCC\xD0\xF8\xB2\xE9\xD1\xAF";     // 继续查询
const std::string FM = "\xA4\xF6";
const std::string RegLabel = "\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:"; // 注册时间:
const std::string NoInfo = " \xCE\xDE\xB7\xB5\xBB\xD8\xD0\xC5\xCF\xA2   <<<";

// Names starting with "free" are not registered; every other name was
// registered on 2001-02-03.
std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\nName Server: ns1.x.com\r\n";
}

std::string Registered(const std::string& domain) {
    return domain + FM + RegLabel + "2001-02-03";
}

// A batch with its four lists over a fake server.
class BatchControllerTest : public ::testing::Test {
protected:
    void StartServer(int latencyMs) {
        FServer = ::StartServer(Reply, 0, latencyMs);
        ASSERT_TRUE(FServer) << "no loopback port could be bound";
        FOverride = std::make_unique<TWhoisServerOverride>(FServer->Address());
    }
    void SetUp() override {
        FBatch = std::make_unique<TBatchController>(FDomains, FQueryState, FNoReg, FDomainInfo,
                                                    [this] { return FFlags; });
        QObject::connect(FBatch.get(), &TBatchController::BatchEnded, [this] { ++FEnded; });
    }
    void TearDown() override {
        // No job may outlive the lists it reports to.
        if (FBatch->IsPaused())
            FBatch->PauseOrResume();
        WaitForEnd();
    }

    // Runs the event loop until the batch ends (or 30 s pass).
    void WaitForEnd() {
        if (!FBatch->IsActive())
            return;
        QEventLoop loop;
        QObject::connect(FBatch.get(), &TBatchController::BatchEnded, &loop, &QEventLoop::quit);
        QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
        loop.exec();
        ASSERT_FALSE(FBatch->IsActive()) << "the batch did not end";
    }
    // Runs the event loop for ms milliseconds.
    static void Spin(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    TGbkListModel FDomains, FQueryState, FNoReg, FDomainInfo;
    TDisplayFlags FFlags{true, false, false, true, false};
    std::unique_ptr<TFakeWhoisServer> FServer;
    std::unique_ptr<TWhoisServerOverride> FOverride;
    std::unique_ptr<TBatchController> FBatch;
    int FEnded = 0;
};

TEST_F(BatchControllerTest, FewerCandidatesThanSlots) {
    StartServer(0);
    FDomains.SetLines({"a.com", "b.com", "c.com"});
    std::vector<std::pair<int, int>> progress;
    QObject::connect(FBatch.get(), &TBatchController::ProgressChanged,
                     [&](int position, int maximum) { progress.emplace_back(position, maximum); });
    EXPECT_EQ(FBatch->Start("5"), "");
    EXPECT_EQ(FBatch->ThreadCount(), 5);
    EXPECT_EQ(FBatch->TotalCount(), 3);
    EXPECT_EQ(FBatch->RunningCount(), 3);
    EXPECT_EQ(FBatch->NextIndex(), 3);
    EXPECT_EQ(FBatch->CurrentDomain(), "c.com");
    EXPECT_EQ(FQueryState.Items(),
              (TLines{"Thread 1 - a.com" + Running, "Thread 2 - b.com" + Running,
                      "Thread 3 - c.com" + Running}));
    EXPECT_FALSE(RunPageButtons(FBatch->RunningCount()).Start);
    WaitForEnd();
    EXPECT_EQ(FEnded, 1);
    EXPECT_EQ(FQueryState.Count(), 0);
    EXPECT_EQ(FBatch->NextIndex(), 0);
    EXPECT_EQ(FBatch->ProgressMaximum(), 3);
    EXPECT_EQ(FBatch->ProgressPosition(), 3);
    EXPECT_EQ(progress.front(), std::make_pair(0, 3));
    EXPECT_EQ(progress.back(), std::make_pair(3, 3));
    EXPECT_EQ(FDomainInfo.Count(), 3);
    EXPECT_EQ(FDomainInfo.CurrentRow(), 2);
    EXPECT_TRUE(RunPageButtons(FBatch->RunningCount()).Start);
    for (TQueryDomain* job : FBatch->QueryJobs())
        EXPECT_EQ(job, nullptr);
}

TEST_F(BatchControllerTest, OneSlotQueriesInListOrder) {
    StartServer(0);
    FDomains.SetLines({"d1.com", "d2.com", "d3.com", "d4.com"});
    // Every state the one line takes, and the most lines ever held.
    TLines states;
    int mostLines = 0;
    auto record = [&] {
        mostLines = std::max(mostLines, FQueryState.Count());
        if (FQueryState.Count() > 0)
            states.push_back(FQueryState.At(0));
    };
    QObject::connect(&FQueryState, &QAbstractItemModel::rowsInserted, record);
    QObject::connect(&FQueryState, &QAbstractItemModel::dataChanged, record);
    EXPECT_EQ(FBatch->Start("1"), "");
    WaitForEnd();
    EXPECT_EQ(FServer->Queries(), (TLines{"d1.com", "d2.com", "d3.com", "d4.com"}));
    EXPECT_EQ(FDomainInfo.Items(), (TLines{Registered("d1.com"), Registered("d2.com"),
                                           Registered("d3.com"), Registered("d4.com")}));
    EXPECT_EQ(mostLines, 1);
    TLines expected;
    for (const char* d : {"d1.com", "d2.com", "d3.com", "d4.com"}) {
        expected.push_back("Thread 1 - " + std::string(d) + Running);
        expected.push_back("Thread 1" + Ended);
    }
    EXPECT_EQ(states, expected);
    EXPECT_EQ(FQueryState.Count(), 0);
}

TEST_F(BatchControllerTest, SecondBatchStartsAgainFromTheTop) {
    StartServer(0);
    FDomains.SetLines({"free1.com", "b.com"});
    ASSERT_EQ(FBatch->Start("2"), "");
    WaitForEnd();
    ASSERT_EQ(FDomainInfo.Count(), 2);
    ASSERT_EQ(FNoReg.Items(), TLines{"free1.com"});
    std::vector<std::pair<int, int>> progress;
    QObject::connect(FBatch.get(), &TBatchController::ProgressChanged,
                     [&](int position, int maximum) { progress.emplace_back(position, maximum); });
    ASSERT_EQ(FBatch->Start("2"), "");
    WaitForEnd();
    EXPECT_EQ(FEnded, 2);
    EXPECT_EQ(progress.front(), std::make_pair(0, 2));
    EXPECT_EQ(FDomainInfo.Count(), 4);
    EXPECT_EQ(FNoReg.Items(), (TLines{"free1.com", "free1.com"}));
    EXPECT_EQ(FServer->Queries().size(), 4u);
}

TEST_F(BatchControllerTest, ShrinkingCandidateListDrainsTheBatch) {
    StartServer(0);
    FDomains.SetLines({"a.com", "b.com", "c.com", "d.com", "e.com"});
    bool shrunk = false;
    QObject::connect(FBatch.get(), &TBatchController::ResultAppended, [&](const std::string&) {
        if (!shrunk) {
            shrunk = true;
            FDomains.SetLines({"x.com", "y.com"});
        }
    });
    ASSERT_EQ(FBatch->Start("1"), "");
    WaitForEnd();
    // Position 1 is still a line (now y.com); position 2 is not, so the batch ends.
    EXPECT_EQ(FServer->Queries(), (TLines{"a.com", "y.com"}));
    EXPECT_EQ(FDomainInfo.Count(), 2);
    EXPECT_EQ(FEnded, 1);
    EXPECT_EQ(FQueryState.Count(), 0);
    EXPECT_EQ(FBatch->ProgressPosition(), 2);
    EXPECT_EQ(FBatch->ProgressMaximum(), 5);
}

TEST_F(BatchControllerTest, FlagsChangedMidBatchApplyToLaterJobs) {
    StartServer(0);
    FDomains.SetLines({"a.com", "b.com", "c.com"});
    QObject::connect(FBatch.get(), &TBatchController::ResultAppended,
                     [&](const std::string&) { FFlags.ShowRegTime = false; });
    ASSERT_EQ(FBatch->Start("1"), "");
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Items(),
              (TLines{Registered("a.com"), "b.com" + NoInfo, "c.com" + NoInfo}));
}

TEST_F(BatchControllerTest, PausedBatchReportsNothingUntilResumed) {
    // Each exchange takes 300 ms, so the pause below lands while every job
    // still waits for its server.
    StartServer(300);
    FDomains.SetLines({"a.com", "free1.com", "c.com", "free2.com"});
    ASSERT_EQ(FBatch->Start("2"), "");
    EXPECT_EQ(FBatch->StopCaption(), PauseCaption);
    FBatch->PauseOrResume();
    EXPECT_EQ(FBatch->StopCaption(), ResumeCaption);
    EXPECT_TRUE(FBatch->IsPaused());
    Spin(1000);
    EXPECT_EQ(FDomainInfo.Count(), 0);
    EXPECT_EQ(FNoReg.Count(), 0);
    EXPECT_EQ(FBatch->ProgressPosition(), 0);
    EXPECT_EQ(FBatch->RunningCount(), 2);
    EXPECT_EQ(FEnded, 0);
    EXPECT_TRUE(RunPageButtons(FBatch->RunningCount()).Stop);
    FBatch->PauseOrResume();
    EXPECT_EQ(FBatch->StopCaption(), PauseCaption);
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Count(), 4);
    EXPECT_EQ(FNoReg.Items(), (TLines{"free1.com", "free2.com"}));
    EXPECT_EQ(FEnded, 1);
}

TEST_F(BatchControllerTest, PauseLetsOnlyTheJobsInFlightFinish) {
    // Replies come at once, so job ends keep waiting for the UI thread while
    // the pause is made; the pause lands inside one of them, before it hands
    // its slot on.
    StartServer(0);
    constexpr int Threads = 20;
    TLines names;
    for (int i = 0; i < 600; ++i)
        names.push_back("n" + std::to_string(i) + ".com");
    FDomains.SetLines(names);
    int atPause = -1;
    QObject::connect(FBatch.get(), &TBatchController::ResultAppended, [&] {
        if (atPause < 0 && FDomainInfo.Count() >= 50) {
            atPause = FDomainInfo.Count();
            FBatch->PauseOrResume();
        }
    });
    ASSERT_EQ(FBatch->Start(std::to_string(Threads)), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return atPause >= 0; }, 30'000));

    Spin(500); // the jobs past their last pause point end
    const int results = FDomainInfo.Count();
    const std::size_t queries = FServer->Queries().size();
    EXPECT_LE(results, atPause + Threads - 1);
    Spin(700);
    EXPECT_EQ(FDomainInfo.Count(), results) << "results kept coming during the pause";
    EXPECT_EQ(FServer->Queries().size(), queries) << "queries kept starting during the pause";
    // A slot freed during the pause stays free until the resume, and the
    // batch stays under way.
    EXPECT_LT(FBatch->RunningCount(), Threads);
    EXPECT_TRUE(FBatch->IsActive());

    FBatch->PauseOrResume();
    WaitForEnd();
    TLines reported;
    for (const std::string& line : FDomainInfo.Items())
        reported.push_back(line.substr(0, line.find(FM)));
    TLines asked = FServer->Queries();
    std::sort(reported.begin(), reported.end());
    std::sort(asked.begin(), asked.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(reported, names);
    EXPECT_EQ(asked, names);
}

TEST_F(BatchControllerTest, EmptyResultLineStillCounts) {
    StartServer(0);
    FDomains.SetLines({"bad_name.com", "b.com"});
    ASSERT_EQ(FBatch->Start("1"), "");
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Items(), (TLines{"", Registered("b.com")}));
    EXPECT_EQ(FBatch->ProgressPosition(), 2);
    EXPECT_EQ(FServer->Queries(), TLines{"b.com"});
}

TEST_F(BatchControllerTest, FreeDomainIsListedBeforeItsResultLine) {
    StartServer(0);
    FDomains.SetLines({"free1.com"});
    TLines order;
    QObject::connect(&FNoReg, &QAbstractItemModel::rowsInserted, [&] { order.push_back("free"); });
    QObject::connect(&FDomainInfo, &QAbstractItemModel::rowsInserted,
                     [&] { order.push_back("result"); });
    ASSERT_EQ(FBatch->Start("1"), "");
    WaitForEnd();
    EXPECT_EQ(order, (TLines{"free", "result"}));
    EXPECT_EQ(FNoReg.CurrentRow(), 0);
}

TEST_F(BatchControllerTest, NeverMoreConnectionsThanSlots) {
    StartServer(40);
    TLines domains;
    for (int i = 0; i < 24; ++i)
        domains.push_back("n" + std::to_string(i) + ".com");
    FDomains.SetLines(domains);
    ASSERT_EQ(FBatch->Start("3"), "");
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Count(), 24);
    EXPECT_LE(FServer->MaxOpenCount(), 3);
    EXPECT_GE(FServer->MaxOpenCount(), 1);
}

struct TStartCase {
    const char* Name;
    std::string Text;
    std::string Message;
    std::string Retries = "3";
};

class BatchStartRefusedTest : public BatchControllerTest,
                              public ::testing::WithParamInterface<TStartCase> {};

TEST_P(BatchStartRefusedTest, ShowsTheMessageAndChangesNothing) {
    FDomains.SetLines({"a.com", "b.com"});
    std::vector<std::pair<int, int>> progress;
    QObject::connect(FBatch.get(), &TBatchController::ProgressChanged,
                     [&](int position, int maximum) { progress.emplace_back(position, maximum); });
    EXPECT_EQ(FBatch->Start(GetParam().Text, GetParam().Retries), GetParam().Message);
    EXPECT_EQ(FBatch->RunningCount(), 0);
    EXPECT_EQ(FBatch->ThreadCount(), 0);
    EXPECT_EQ(FBatch->TotalCount(), 0);
    EXPECT_EQ(FQueryState.Count(), 0);
    EXPECT_TRUE(progress.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchStartRefusedTest,
    ::testing::Values(TStartCase{"Letters", "abc", "'abc' is not a valid integer value"},
                      TStartCase{"Empty", "", "'' is not a valid integer value"},
                      TStartCase{"TooLarge", "2147483648", NotAnIntegerMessage("2147483648")},
                      TStartCase{"Negative", "-1", "Range check error"},
                      TStartCase{"RetriesLetters", "2", "'x' is not a valid integer value", "x"},
                      TStartCase{"RetriesNegative", "2", "Range check error", "-1"},
                      TStartCase{"RetriesAboveTen", "2", "Range check error", "11"}),
    [](const auto& info) { return info.param.Name; });

TEST_F(BatchControllerTest, ZeroThreadsStartsNothingButResetsProgress) {
    FDomains.SetLines({"a.com", "b.com"});
    std::vector<std::pair<int, int>> progress;
    QObject::connect(FBatch.get(), &TBatchController::ProgressChanged,
                     [&](int position, int maximum) { progress.emplace_back(position, maximum); });
    EXPECT_EQ(FBatch->Start(" $0"), "");
    EXPECT_EQ(FBatch->RunningCount(), 0);
    EXPECT_EQ(FBatch->TotalCount(), 2);
    EXPECT_TRUE(FBatch->QueryJobs().empty());
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 2}}));
}

TEST_F(BatchControllerTest, HugeThreadCountRunsOneJobPerCandidate) {
    StartServer(0);
    FDomains.SetLines({"a.com", "b.com"});
    EXPECT_EQ(FBatch->Start("2147483647"), "");
    EXPECT_EQ(FBatch->RunningCount(), 2);
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Count(), 2);
}

TEST_F(BatchControllerTest, StartWhileRunningDoesNothing) {
    StartServer(200);
    FDomains.SetLines({"a.com", "b.com"});
    ASSERT_EQ(FBatch->Start("1"), "");
    EXPECT_EQ(FBatch->Start("5"), "");
    EXPECT_EQ(FBatch->ThreadCount(), 1);
    EXPECT_EQ(FBatch->RunningCount(), 1);
    WaitForEnd();
    EXPECT_EQ(FDomainInfo.Count(), 2);
}

TEST(RunPageButtonsTest, FollowRunningCount) {
    for (int running : {1, 3}) {
        const TRunPageButtons b = RunPageButtons(running);
        EXPECT_FALSE(b.Start);
        EXPECT_FALSE(b.Prev);
        EXPECT_TRUE(b.Stop);
        EXPECT_FALSE(b.Next);
    }
    const TRunPageButtons idle = RunPageButtons(0);
    EXPECT_TRUE(idle.Start);
    EXPECT_TRUE(idle.Prev);
    EXPECT_FALSE(idle.Stop);
    EXPECT_FALSE(idle.Next);
}

// "  查询过于频繁  <<<"
const std::string TooFrequent = "  \xB2\xE9\xD1\xAF\xB9\xFD\xD3\xDA\xC6\xB5\xB7\xB1  <<<";

struct TRetryRun {
    const char* Name;
    std::string Retries;
    int Attempts;      // queries in all
    TBatchCounts Last; // the counts at the end
    int ThrottledLines;
};

class BatchRetryTest : public BatchControllerTest,
                       public ::testing::WithParamInterface<TRetryRun> {};

// A server that refuses each name's first query in Nominet's words: with
// retries every name gets its verdict after one wait, the refusal never shows;
// without, each name is left unknown as throttled. The batch clock runs 100
// times faster, so the server's second takes 10 ms.
TEST_P(BatchRetryTest, ThrottledNamesAreAskedAgainAfterTheWait) {
    const TRetryRun& c = GetParam();
    std::mutex mutex;
    std::set<std::string> asked;
    FServer = ::StartServer([&](const std::string& query) {
        {
            std::lock_guard lock(mutex);
            if (asked.insert(query).second)
                return std::string("The WHOIS query quota for 127.0.0.1 has been exceeded and "
                                   "will be replenished in 1 seconds.\r\n");
        }
        return Reply(query);
    });
    ASSERT_TRUE(FServer);
    FOverride = std::make_unique<TWhoisServerOverride>(FServer->Address());
    FBatch->SetClock(TBatchClock(100));
    FBatch->SetJitter([] { return 1.0; });
    FDomains.SetLines({"a.com", "free1.com", "c.com", "free2.com", "e.com", "f.com"});
    int attempts = 0;
    int mostWaiting = 0;
    QObject::connect(FBatch.get(), &TBatchController::AttemptEnded,
                     [&](const TQueryDomain*) { ++attempts; });
    QObject::connect(FBatch.get(), &TBatchController::CountsChanged,
                     [&] { mostWaiting = std::max(mostWaiting, FBatch->Counts().Waiting); });
    ASSERT_EQ(FBatch->Start("3", c.Retries), "");
    WaitForEnd();

    EXPECT_EQ(attempts, c.Attempts);
    const TBatchCounts counts = FBatch->Counts();
    EXPECT_EQ(counts.Free, c.Last.Free);
    EXPECT_EQ(counts.Registered, c.Last.Registered);
    EXPECT_EQ(counts.Unknown, c.Last.Unknown);
    EXPECT_EQ(counts.Waiting, 0);
    EXPECT_EQ(mostWaiting > 0, c.Retries != "0");
    EXPECT_EQ(FDomainInfo.Count(), 6);
    const TLines results = FDomainInfo.Items();
    EXPECT_EQ(std::count_if(results.begin(), results.end(),
                            [](const std::string& line) { return line.ends_with(TooFrequent); }),
              c.ThrottledLines);
    EXPECT_EQ(FBatch->UnknownNames().size(), static_cast<std::size_t>(c.Last.Unknown));
    // Only a free verdict enters the free list.
    EXPECT_EQ(FNoReg.Count(), c.Last.Free);
    EXPECT_EQ(FBatch->ProgressPosition(), 6);
}

INSTANTIATE_TEST_SUITE_P(Cases, BatchRetryTest,
                         ::testing::Values(TRetryRun{"ThreeRetries", "3", 12, {2, 4, 0, 0}, 0},
                                           TRetryRun{"NoRetries", "0", 6, {0, 0, 6, 0}, 6}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BatchLinesTest, CountsAndWaitingLines) {
    // "未注册 2 · 已注册 3 · 未知 1 · 等待重试 4"
    EXPECT_EQ(TBatchController::CountsLine({2, 3, 1, 4}),
              "\xCE\xB4\xD7\xA2\xB2\xE1 2 \xA1\xA4 \xD2\xD1\xD7\xA2\xB2\xE1 3 \xA1\xA4 "
              "\xCE\xB4\xD6\xAA 1 \xA1\xA4 \xB5\xC8\xB4\xFD\xD6\xD8\xCA\xD4 4");
    // "Thread 2 - a.com  等待重试（15 秒）"
    EXPECT_EQ(TBatchController::WaitingStateLine(1, "a.com", 15),
              "Thread 2 - a.com  \xB5\xC8\xB4\xFD\xD6\xD8\xCA\xD4\xA3\xA8"
              "15 \xC3\xEB\xA3\xA9");
}

} // namespace

namespace {

// A batch over RDAP keeps its connections: a server hears about one per
// query at once, not one per name; its 404s make free names, its domain
// objects registered ones.
TEST_F(BatchControllerTest, RdapBatchReusesItsConnections) {
    TFakeRdapOptions options;
    options.LatencyMs = 20;
    options.Responder = [](const TFakeRdapRequest& request) {
        std::optional<TFakeRdapResponse> answer;
        const std::string name = request.Path.substr(request.Path.rfind('/') + 1);
        if (name.rfind("free", 0) != 0)
            answer = TFakeRdapResponse{200,
                                       {},
                                       R"({"objectClassName":"domain","ldhName":")" + name +
                                           R"(","events":[{"eventAction":"registration",)"
                                           R"("eventDate":"2001-02-03"}]})"};
        return answer;
    };
    TFakeRdapServer rdap(std::move(options));
    ASSERT_TRUE(rdap.Start()) << rdap.Error();
    TScopedEnv base("TAVIREL_RDAP_BASE", rdap.BaseUrl());
    TLines names;
    for (int i = 0; i < 24; ++i)
        names.push_back((i % 3 == 0 ? "free" : "name") + std::to_string(i) + ".info");
    FDomains.SetLines(names);
    ASSERT_EQ(FBatch->Start("3"), "");
    WaitForEnd();
    EXPECT_EQ(rdap.RequestCount(), 24);
    EXPECT_LE(rdap.AcceptedCount(), 3);
    EXPECT_EQ(FNoReg.Count(), 8);
    EXPECT_EQ(FDomainInfo.Count(), 24);
    const TLines lines = FDomainInfo.Items();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Registered("name1.info")), 1);
}

} // namespace
