// The batch journal on its own: what it keeps comes back byte for byte and in
// order, results are committed in groups by count and by time, and a journal
// is held by one writer at a time.

#include "batch/BatchJournal.h"

#include <sqlite3.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <barrier>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

TBatchResult Result(const std::string& domain, TVerdictKind kind, const std::string& line) {
    TBatchResult result;
    result.Domain = domain;
    result.Kind = kind;
    result.Reason = kind == TVerdictKind::Unknown ? "failed" : "";
    result.ResultLine = line;
    return result;
}

TLines DomainsOf(const std::vector<TBatchResult>& results) {
    TLines domains;
    for (const TBatchResult& result : results)
        domains.push_back(result.Domain);
    return domains;
}

class BatchJournalTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Dir.isValid()); }

    std::unique_ptr<TBatchJournal> OpenForList(const TLines& candidates,
                                               const std::string& show = "domain") {
        std::string error;
        auto journal = TBatchJournal::OpenForList(Path, candidates, show, error);
        EXPECT_TRUE(journal) << error;
        return journal;
    }
    // What another run would read now.
    std::size_t CommittedCount() const {
        std::string error;
        auto reader = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error);
        EXPECT_TRUE(reader) << error;
        return reader ? reader->Kept().size() : 0;
    }

    QTemporaryDir Dir;
    std::filesystem::path Path = Dir.filePath("j").toStdString();
};

// GBK bytes, a NUL and every field come back as they went in; a name asked
// again appears once, at the place of its last result; the names left are
// those without a free or registered verdict, in list order.
TEST_F(BatchJournalTest, KeepsResultsInTheirOrderWithTheirLastVerdict) {
    const std::string gbkName = "\xD6\xD0\xCE\xC4.com";
    const TLines candidates = {"a.com", gbkName, "c.com", "d.com", std::string("e\0.com", 6)};
    TBatchResult full = Result(gbkName, TVerdictKind::Free, "\xA4\xF6line\r");
    full.Detail = "detail";
    full.RegTime = "2001 02 03";
    full.ExpTime = "2031";
    full.Email = "a@b.com";
    full.IPAddress = "1.2.3.4";
    full.WhoisServer = "whois.x:43";
    {
        auto journal = OpenForList(candidates);
        ASSERT_TRUE(journal);
        EXPECT_EQ(journal->PositionsLeft(), (std::vector<int>{0, 1, 2, 3, 4}));
        EXPECT_TRUE(journal->Record(Result("c.com", TVerdictKind::Unknown, "c failed")));
        EXPECT_TRUE(journal->Record(full));
        EXPECT_TRUE(journal->Record(Result("a.com", TVerdictKind::Registered, "a held")));
        EXPECT_TRUE(journal->Record(Result("d.com", TVerdictKind::Unknown, "d failed")));
        EXPECT_TRUE(journal->Record(Result("c.com", TVerdictKind::Registered, "c held")));
    }
    auto journal = OpenForList(candidates);
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->Candidates(), candidates);
    EXPECT_EQ(journal->Show(), "domain");
    EXPECT_FALSE(journal->Finished());
    EXPECT_EQ(DomainsOf(journal->Kept()), (TLines{gbkName, "a.com", "d.com", "c.com"}));
    EXPECT_EQ(journal->Kept()[0], full);
    EXPECT_EQ(journal->Kept()[3].ResultLine, "c held");
    EXPECT_EQ(journal->PositionsLeft(), (std::vector<int>{3, 4}));

    EXPECT_TRUE(journal->MarkFinished());
    journal.reset();
    std::string error;
    journal = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error);
    ASSERT_TRUE(journal) << error;
    EXPECT_TRUE(journal->Finished());
}

// A journal of the earlier layout (no method column, version 1) is read as it
// is without being written; a writer brings it
// to the present layout, and its results come back in both cases.
TEST_F(BatchJournalTest, ReadsAJournalOfTheEarlierLayout) {
    const TLines candidates = {"a.com", "b.com"};
    {
        auto journal = OpenForList(candidates);
        ASSERT_TRUE(journal);
        TBatchResult held = Result("a.com", TVerdictKind::Registered, "a held");
        held.Method = "whois";
        ASSERT_TRUE(journal->Record(held));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode = DELETE; ALTER TABLE results DROP COLUMN method;"
                           " PRAGMA user_version = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);

    for (const TBatchJournal::TAccess access :
         {TBatchJournal::TAccess::Read, TBatchJournal::TAccess::Write}) {
        std::string error;
        auto journal = TBatchJournal::OpenExisting(Path, access, error);
        ASSERT_TRUE(journal) << error;
        ASSERT_EQ(DomainsOf(journal->Kept()), (TLines{"a.com"}));
        EXPECT_EQ(journal->Kept()[0].ResultLine, "a held");
        EXPECT_EQ(journal->Kept()[0].Method, "");
        EXPECT_EQ(journal->PositionsLeft(), (std::vector<int>{1}));
    }
}

// A group is committed at its hundredth result at once, and a smaller one
// within the commit interval; until then another run sees none of it.
TEST_F(BatchJournalTest, CommitsByCountAndByTime) {
    TLines candidates;
    for (int i = 0; i < 2 * TBatchJournal::CommitCount; ++i)
        candidates.push_back("n" + std::to_string(i) + ".com");
    auto journal = OpenForList(candidates);
    ASSERT_TRUE(journal);
    for (int i = 0; i < TBatchJournal::CommitCount - 1; ++i)
        ASSERT_TRUE(journal->Record(Result(candidates[i], TVerdictKind::Registered, "")));
    EXPECT_EQ(CommittedCount(), 0u);
    ASSERT_TRUE(journal->Record(Result(candidates[99], TVerdictKind::Registered, "")));
    EXPECT_EQ(CommittedCount(), 100u);

    ASSERT_TRUE(journal->Record(Result(candidates[100], TVerdictKind::Free, "")));
    EXPECT_EQ(CommittedCount(), 100u);
    QElapsedTimer clock;
    clock.start();
    while (CommittedCount() != 101u && clock.elapsed() < 5000)
        QTest::qWait(20);
    EXPECT_EQ(CommittedCount(), 101u);
}

// One writer at a time; a reader beside it is fine. Replace gives way to a
// journal in use too, and otherwise starts afresh whatever was there.
TEST_F(BatchJournalTest, OneWriterAtATime) {
    auto writer = OpenForList({"a.com"});
    ASSERT_TRUE(writer);
    std::string error;
    EXPECT_FALSE(TBatchJournal::OpenForList(Path, {"a.com"}, "domain", error));
    EXPECT_NE(error.find("is in use by another run"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(TBatchJournal::Replace(Path, {"b.com"}, "", error));
    EXPECT_NE(error.find("is in use by another run"), std::string::npos) << error;
    EXPECT_TRUE(TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error)) << error;
    ASSERT_TRUE(writer->Record(Result("a.com", TVerdictKind::Free, "")));
    writer.reset();

    auto replaced = TBatchJournal::Replace(Path, {"b.com"}, "", error);
    ASSERT_TRUE(replaced) << error;
    EXPECT_EQ(replaced->Candidates(), TLines{"b.com"});
    EXPECT_TRUE(replaced->Kept().empty());
}

// Two runs that start together on a journal not made yet: the file is made
// and held in one step, so one run has it and the other is refused as in
// use, leaving nothing of its own behind. Each round starts both openings
// behind a barrier, and both stay open until each has tried.
TEST_F(BatchJournalTest, OfTwoRunsStartingOnANewJournalOneIsRefused) {
    TLines candidates;
    for (int i = 0; i < 2000; ++i)
        candidates.push_back("n" + std::to_string(i) + ".com");
    for (int round = 0; round < 20; ++round) {
        const std::filesystem::path path = Dir.filePath(QString("race%1").arg(round)).toStdString();
        std::barrier start(2);
        std::barrier opened(2);
        std::string errors[2];
        bool held[2] = {false, false};
        const auto run = [&](int which) {
            start.arrive_and_wait();
            auto journal = TBatchJournal::OpenForList(path, candidates, "domain", errors[which]);
            held[which] = journal != nullptr;
            opened.arrive_and_wait();
        };
        std::thread first(run, 0);
        std::thread second(run, 1);
        first.join();
        second.join();
        ASSERT_NE(held[0], held[1]) << "round " << round << ": " << errors[0] << " / " << errors[1];
        const std::string& refusal = errors[held[0] ? 1 : 0];
        EXPECT_NE(refusal.find("is in use by another run"), std::string::npos) << refusal;
        for (const auto& entry : std::filesystem::directory_iterator(Dir.path().toStdString()))
            EXPECT_EQ(entry.path().string().find(".new-"), std::string::npos) << entry.path();
        auto journal = TBatchJournal::OpenForList(path, candidates, "domain", errors[0]);
        ASSERT_TRUE(journal) << errors[0];
        EXPECT_EQ(journal->Candidates(), candidates);
    }
}

// The batch's settings come back byte for byte with the journal. A journal
// that keeps none (as every journal written before settings were kept) opens
// with none; settings of a newer layout are passed over, the journal opens.
TEST_F(BatchJournalTest, KeepsTheBatchSettingsBesideItsResults) {
    const TLines candidates = {"a.com", "b.com"};
    const TBatchSettings settings = {
        {"Threads", "7"}, {"Protocol", "2"}, {"Note", std::string("\xD6\xD0\0x", 4)}};
    {
        auto journal = OpenForList(candidates);
        ASSERT_TRUE(journal);
        EXPECT_TRUE(journal->Settings().empty());
        EXPECT_TRUE(journal->Record(Result("a.com", TVerdictKind::Free, "a free")));
        EXPECT_TRUE(journal->KeepSettings({{"Threads", "3"}}));
        EXPECT_TRUE(journal->KeepSettings(settings));
        EXPECT_EQ(journal->Settings(), settings);
    }
    std::string error;
    {
        auto reader = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_EQ(reader->Settings(), settings);
        EXPECT_EQ(DomainsOf(reader->Kept()), TLines{"a.com"});
        EXPECT_FALSE(reader->KeepSettings({{"Threads", "1"}}));
    }
    {
        // A later program's layout of the settings.
        auto writer = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Write, error);
        ASSERT_TRUE(writer) << error;
        ASSERT_TRUE(writer->KeepSettings({{"Threads", "9"}}));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE settings SET value = '2' WHERE key = 'settings-version'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto reader = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_TRUE(reader->Settings().empty());
    EXPECT_EQ(reader->Candidates(), candidates);

    // A journal that never kept settings has no table for them.
    TBatchJournal::Discard(Path);
    auto fresh = OpenForList(candidates);
    ASSERT_TRUE(fresh);
    fresh.reset();
    auto again = TBatchJournal::OpenExisting(Path, TBatchJournal::TAccess::Read, error);
    ASSERT_TRUE(again) << error;
    EXPECT_TRUE(again->Settings().empty());
}

} // namespace
