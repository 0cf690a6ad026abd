// The main window's start-up question about a batch that did not run to its
// end: yes puts its lists back and asks the names left, no discards it.

#include "ui/Unit_Main.h"

#include "batch/BatchJournal.h"
#include "batch/GbkQt.h"
#include "tests/support/FakeWhois.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10'000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Names starting with "free" are not registered; the others are.
std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\nName Server: ns1.x.com\r\n";
}

TBatchResult Result(const std::string& domain, TVerdictKind kind, const std::string& line) {
    TBatchResult result;
    result.Domain = domain;
    result.Kind = kind;
    result.ResultLine = line;
    return result;
}

const TLines Candidates = {"a.com", "free1.com", "b.com", "free2.com", "c.com"};

// The journal of a batch killed after a.com and free1.com got their verdicts
// and b.com was left unknown.
void WriteUnfinishedJournal() {
    TBatchJournal::Discard(UserJournalPath());
    std::filesystem::create_directories(UserJournalPath().parent_path());
    std::string error;
    auto journal = TBatchJournal::Replace(UserJournalPath(), Candidates, "", error);
    ASSERT_TRUE(journal) << error;
    ASSERT_TRUE(journal->Record(Result("a.com", TVerdictKind::Registered, "a.com kept")));
    ASSERT_TRUE(journal->Record(Result("free1.com", TVerdictKind::Free, "free1.com kept")));
    ASSERT_TRUE(journal->Record(Result("b.com", TVerdictKind::Unknown, "b.com failed")));
}

struct TAnswerCase {
    const char* Name;
    bool Yes;
};

class MainWindowJournalTest : public ::testing::TestWithParam<TAnswerCase> {};

TEST_P(MainWindowJournalTest, AsksAboutTheUnfinishedBatch) {
    auto server = StartServer(Reply);
    ASSERT_TRUE(server);
    TWhoisServerOverride overrideServer(server->Address());
    WriteUnfinishedJournal();

    TForm1 form;
    std::vector<QString> questions;
    std::vector<QString> messages;
    form.Dialogs.AskYesNo = [&](const QString& question) {
        questions.push_back(question);
        return GetParam().Yes;
    };
    form.Dialogs.ShowMessage = [&](const QString& text) { messages.push_back(text); };
    form.OfferToContinueLastBatch();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], QString::fromUtf8("上次的查询尚未完成，是否继续？"));

    if (!GetParam().Yes) {
        EXPECT_FALSE(std::filesystem::exists(UserJournalPath()));
        EXPECT_EQ(form.DomainsList().Count(), 0);
        EXPECT_EQ(form.Batch().RunningCount(), 0);
        EXPECT_TRUE(server->Queries().empty());
    } else {
        EXPECT_EQ(form.DomainsList().Lines(), Candidates);
        ASSERT_TRUE(WaitUntil([&] {
            return form.Batch().RunningCount() == 0 && form.DomainInfoList().Count() == 5;
        }));
        TLines asked = server->Queries();
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(asked, (TLines{"b.com", "c.com", "free2.com"}));
        EXPECT_EQ(form.NoRegList().Lines(), (TLines{"free1.com", "free2.com"}));
        const TLines& lines = form.DomainInfoList().Lines();
        EXPECT_EQ(TLines(lines.begin(), lines.begin() + 2),
                  (TLines{"a.com kept", "free1.com kept"}));
        EXPECT_EQ(form.StepIndex, 2);

        std::string error;
        auto journal =
            TBatchJournal::OpenExisting(UserJournalPath(), TBatchJournal::TAccess::Read, error);
        ASSERT_TRUE(journal) << error;
        EXPECT_TRUE(journal->Finished());
        EXPECT_EQ(journal->Kept().size(), 5u);
        EXPECT_TRUE(journal->PositionsLeft().empty());
    }
    EXPECT_TRUE(messages.empty());

    // Nothing is left to offer the next time.
    form.OfferToContinueLastBatch();
    EXPECT_EQ(questions.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, MainWindowJournalTest,
                         ::testing::Values(TAnswerCase{"Yes", true}, TAnswerCase{"No", false}),
                         [](const auto& info) { return info.param.Name; });

} // namespace
