// The main window's start-up question about a batch that did not run to its
// end: it names the batch's figures; yes puts its lists, its figures and its
// settings back and asks the names left; no asks once more before the
// results go. Closing the window during a batch asks first and leaves the
// journal for the next start.

#include "tests/ui/MainWindowFixture.h"

#include "batch/BatchJournal.h"
#include "batch/GbkQt.h"
#include "tests/support/Screenshots.h"
#include "ui/ResumeQuestion.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>

#include <algorithm>
#include <filesystem>

namespace {

using namespace mainwindow;
using TLines = std::vector<std::string>;

TBatchResult Result(const std::string& domain, TVerdictKind kind, const std::string& line) {
    TBatchResult result;
    result.Domain = domain;
    result.Kind = kind;
    result.ResultLine = line;
    return result;
}

const TLines Candidates = {"a.com", "free1.com", "b.com", "free2.com", "c.com"};

// The batch's settings as the window keeps them: one thread, no retries,
// without the domain column, asked over WHOIS only.
const TBatchSettings KeptSettings = {
    {"Threads", "1"},     {"Retries", "0"},   {"ShowDomain", "0"},    {"ShowRegTime", "1"},
    {"ShowExpTime", "0"}, {"ShowEmail", "0"}, {"ShowIPAddress", "0"}, {"Protocol", "1"},
};

// The journal of a batch killed after a.com and free1.com got their verdicts
// and b.com was left unknown.
void WriteUnfinishedJournal(const TBatchSettings& settings) {
    TBatchJournal::Discard(UserJournalPath());
    std::filesystem::create_directories(UserJournalPath().parent_path());
    std::string error;
    auto journal = TBatchJournal::Replace(UserJournalPath(), Candidates, "", error);
    ASSERT_TRUE(journal) << error;
    ASSERT_TRUE(journal->Record(Result("a.com", TVerdictKind::Registered, "a.com kept")));
    ASSERT_TRUE(journal->Record(Result("free1.com", TVerdictKind::Free, "free1.com kept")));
    ASSERT_TRUE(journal->Record(Result("b.com", TVerdictKind::Unknown, "b.com failed")));
    if (!settings.empty()) {
        ASSERT_TRUE(journal->KeepSettings(settings));
    }
}

std::unique_ptr<TBatchJournal> ReadJournal() {
    std::string error;
    return TBatchJournal::OpenExisting(UserJournalPath(), TBatchJournal::TAccess::Read, error);
}

const QString Question = U("上次的查询尚未完成，是否继续？\n已查 2 / 5，未注册 1");
const QString Discard = U("上次的查询已有 2 个结果，放弃后无法找回。确定要放弃吗？");

struct TAnswerCase {
    const char* Name;
    std::vector<bool> Answers;
    std::vector<QString> Questions;
    TLastBatchChoice Outcome;
};

class MainWindowJournalTest : public TMainWindowFixture,
                              public ::testing::WithParamInterface<TAnswerCase> {};

TEST_P(MainWindowJournalTest, AsksAboutTheUnfinishedBatchWithItsFigures) {
    StartServer();
    WriteUnfinishedJournal({});
    Answers.assign(GetParam().Answers.begin(), GetParam().Answers.end());
    Form->OfferToContinueLastBatch();
    EXPECT_EQ(Questions, GetParam().Questions);

    switch (GetParam().Outcome) {
    case TLastBatchChoice::Discard:
        EXPECT_FALSE(std::filesystem::exists(UserJournalPath()));
        break;
    case TLastBatchChoice::Keep:
        ASSERT_TRUE(ReadJournal());
        EXPECT_EQ(ReadJournal()->Kept().size(), 3u);
        break;
    case TLastBatchChoice::Continue: {
        // The figures start from what the journal held.
        EXPECT_EQ(Form->prog->maximum(), 5);
        EXPECT_EQ(Form->prog->value(), 2);
        EXPECT_EQ(Form->labCounts->text(), U("未注册 1 · 已注册 1 · 未知 0 · 等待重试 0"));
        EXPECT_EQ(Form->DomainsList().Lines(), Candidates);
        ASSERT_TRUE(WaitUntil([&] { return !Form->Batch().IsActive(); }));
        TLines asked = Server->Queries();
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(asked, (TLines{"b.com", "c.com", "free2.com"}));
        EXPECT_EQ(Form->NoRegList().Lines(), (TLines{"free1.com", "free2.com"}));
        const TLines& lines = Form->DomainInfoList().Lines();
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(TLines(lines.begin(), lines.begin() + 2),
                  (TLines{"a.com kept", "free1.com kept"}));
        EXPECT_EQ(Form->labCounts->text(), U("未注册 2 · 已注册 3 · 未知 0 · 等待重试 0"));
        EXPECT_EQ(Form->prog->value(), 5);
        EXPECT_EQ(Form->StepIndex, 2);
        auto journal = ReadJournal();
        ASSERT_TRUE(journal);
        EXPECT_TRUE(journal->Finished());
        EXPECT_TRUE(journal->PositionsLeft().empty());
        break;
    }
    }
    if (GetParam().Outcome != TLastBatchChoice::Continue) {
        EXPECT_EQ(Form->DomainsList().Count(), 0);
        EXPECT_FALSE(Form->Batch().IsActive());
        EXPECT_TRUE(Server->Queries().empty());
    }
    EXPECT_TRUE(Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MainWindowJournalTest,
    ::testing::Values(
        TAnswerCase{"Yes", {true}, {Question}, TLastBatchChoice::Continue},
        TAnswerCase{"NoThenYes", {false, true}, {Question, Discard}, TLastBatchChoice::Discard},
        TAnswerCase{"NoThenNo", {false, false}, {Question, Discard}, TLastBatchChoice::Keep}),
    [](const auto& info) { return info.param.Name; });

// A journal without results goes at the first no; the next start has
// nothing to offer.
TEST_F(MainWindowJournalTest, NoOnAJournalWithoutResultsDiscardsAtOnce) {
    std::filesystem::create_directories(UserJournalPath().parent_path());
    std::string error;
    ASSERT_TRUE(TBatchJournal::Replace(UserJournalPath(), Candidates, "", error)) << error;
    Form->OfferToContinueLastBatch();
    EXPECT_EQ(Questions,
              std::vector<QString>{U("上次的查询尚未完成，是否继续？\n已查 0 / 5，未注册 0")});
    EXPECT_FALSE(std::filesystem::exists(UserJournalPath()));
    Form->OfferToContinueLastBatch();
    EXPECT_EQ(Questions.size(), 1u);
}

// The batch goes on with the settings it started with, whatever the fields
// hold now. TAVIREL_SCREENSHOT_DIR receives the question.
TEST_F(MainWindowJournalTest, TheBatchGoesOnWithItsOwnSettings) {
    StartServer();
    WriteUnfinishedJournal(KeptSettings);
    Form->txtMaxThread->setText(QStringLiteral("9"));
    if (screenshots::Wanted()) {
        // As the program shows it, with Qt's texts in Chinese.
        const TQtChineseTexts chinese;
        Form->show();
        std::unique_ptr<QMessageBox> box(CreateQuestionBox(Form.get(), Question));
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
        screenshots::Save(*box, "resume-question");
    }
    Answers = {true};
    Form->OfferToContinueLastBatch();
    EXPECT_EQ(Form->txtMaxThread->text(), QStringLiteral("1"));
    EXPECT_EQ(Form->txtRetries->text(), QStringLiteral("0"));
    EXPECT_FALSE(Form->cbDomain->isChecked());
    EXPECT_FALSE(Form->cbExpTime->isChecked());
    EXPECT_EQ(Form->cbProtocol->currentIndex(), 1);
    EXPECT_EQ(Form->Batch().ThreadCount(), 1);
    EXPECT_EQ(Form->Batch().Retries(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !Form->Batch().IsActive(); }));
    // Strictly one after another, in list order, on one thread.
    EXPECT_EQ(Server->Queries(), (TLines{"b.com", "free2.com", "c.com"}));
    // Without the domain the new lines start at the field mark of the date.
    const TLines& lines = Form->DomainInfoList().Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2].rfind("\xA4\xF6", 0), 0u) << lines[2];
}

// A batch keeps its settings in its journal from its start.
TEST_F(MainWindowJournalTest, ABatchKeepsItsSettingsInItsJournal) {
    StartServer(200);
    Form->DomainsList().AppendLines({"a.com", "b.com"});
    Form->txtMaxThread->setText(QStringLiteral("3"));
    Form->cbEmail->setChecked(true);
    Form->cbProtocol->setCurrentIndex(1);
    GoToRunPage();
    Form->btnStart->click();
    ASSERT_TRUE(Form->Batch().IsActive());
    // The journal is written beside the running batch, and is there soon.
    std::unique_ptr<TBatchJournal> journal;
    ASSERT_TRUE(WaitUntil([&] {
        journal = ReadJournal();
        return journal && journal->Candidates() == TLines{"a.com", "b.com"} &&
               !journal->Settings().empty();
    }));
    const TBatchSettings& kept = journal->Settings();
    EXPECT_EQ(kept.at("Threads"), "3");
    EXPECT_EQ(kept.at("Retries"), "3");
    EXPECT_EQ(kept.at("ShowEmail"), "1");
    EXPECT_EQ(kept.at("ShowIPAddress"), "0");
    EXPECT_EQ(kept.at("Protocol"), "1");
}

struct TCloseCase {
    const char* Name;
    bool Yes;
};

class CloseDuringBatchTest : public TMainWindowFixture,
                             public ::testing::WithParamInterface<TCloseCase> {};

// Closing during a batch asks first; no keeps the window and the batch, yes
// closes it with the journal committed for the next start.
TEST_P(CloseDuringBatchTest, AsksFirstAndSaysTheBatchCanGoOnLater) {
    StartServer(100);
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i)
        names.push_back("taken" + std::to_string(i) + ".com");
    Form->DomainsList().AppendLines(names);
    Form->txtMaxThread->setText(QStringLiteral("1"));
    Form->show();
    GoToRunPage();
    Form->btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Form->DomainInfoList().Count() >= 2; }));
    Answers = {GetParam().Yes};
    EXPECT_EQ(Form->close(), GetParam().Yes);
    EXPECT_EQ(Questions, std::vector<QString>{
                             U("查询尚未完成，确定要退出吗？\n下次启动时可以继续这次查询。")});
    EXPECT_EQ(Form->isVisible(), !GetParam().Yes);
    EXPECT_TRUE(Form->Batch().IsActive());
    if (GetParam().Yes) {
        const int decided = Form->DomainInfoList().Count();
        auto journal = ReadJournal();
        ASSERT_TRUE(journal);
        EXPECT_FALSE(journal->Finished());
        EXPECT_EQ(static_cast<int>(journal->Kept().size()), decided);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseDuringBatchTest,
                         ::testing::Values(TCloseCase{"Yes", true}, TCloseCase{"No", false}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(CloseDuringBatchTest, ClosingAnIdleWindowAsksNothing) {
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(Questions.empty());
}

} // namespace
