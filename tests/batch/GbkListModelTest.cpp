#include "batch/GbkListModel.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestPaths.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

TEST(GbkListModelTest, ShowsLinesDecodedAndKeepsTheirBytes) {
    TGbkListModel model;
    // 域名 and the field mark A4 F6 in GBK, and a byte pair no decoder accepts.
    const std::string chinese = "\xD3\xF2\xC3\xFB\xA4\xF6"
                                "abc";
    const std::string broken = "x\xFF";
    model.Append(chinese);
    model.Append(broken);
    EXPECT_EQ(model.Count(), 2);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0)).toString(), QString::fromUtf8("域名\xEE\x9D\xB4"
                                                                       "abc"));
    EXPECT_EQ(model.At(0), chinese);
    EXPECT_EQ(model.At(1), broken);
    EXPECT_FALSE(model.data(model.index(0), Qt::EditRole).isValid());
    EXPECT_FALSE(model.data(model.index(5)).isValid());
}

TEST(GbkListModelTest, AppendMissingAddsNewNamesOnceInOneInsertion) {
    TGbkListModel model;
    model.SetLines({"a.com", "b.com", "a.com"});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.AppendMissing({"c.com", "A.com", "a.com", "c.com", "d.com", "b.com"});
    // Earlier duplicates stay; case counts; repeats among the names come once.
    EXPECT_EQ(model.Items(), (TLines{"a.com", "b.com", "a.com", "c.com", "A.com", "d.com"}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 3);
    EXPECT_EQ(inserted[0][2].toInt(), 5);
}

TEST(GbkListModelTest, AppendMissingOfNothingNewSignalsNothing) {
    TGbkListModel model;
    model.SetLines({"a.com"});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.AppendMissing({"a.com"});
    model.AppendMissing({});
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(model.Count(), 1);
}

TEST(GbkListModelTest, AppendMissingHandlesManyNames) {
    TGbkListModel model;
    TLines names;
    for (int i = 0; i < 200'000; ++i)
        names.push_back("n" + std::to_string(i % 150'000) + ".com");
    model.AppendMissing(names);
    EXPECT_EQ(model.Count(), 150'000);
    model.AppendMissing(names);
    EXPECT_EQ(model.Count(), 150'000);
    EXPECT_EQ(model.At(149'999), "n149999.com");
}

TEST(GbkListModelTest, ReplaceLineOutsideTheListChangesNothing) {
    TGbkListModel model;
    model.SetLines({"one", "two"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.ReplaceLine(1, "TWO");
    model.ReplaceLine(2, "three");
    model.ReplaceLine(-1, "minus");
    EXPECT_EQ(model.Items(), (TLines{"one", "TWO"}));
    EXPECT_EQ(changed.count(), 1);
}

TEST(GbkListModelTest, SelectionFollowsSelectAndSurvivesOnlyWhileItsLineExists) {
    TGbkListModel model;
    QSignalSpy moved(&model, &TGbkListModel::CurrentRowChanged);
    EXPECT_EQ(model.CurrentRow(), -1);
    model.Select(0); // empty list: nothing to select
    EXPECT_EQ(model.CurrentRow(), -1);
    model.AppendLines({"a", "b", "c"});
    model.Select(model.Count() - 1);
    EXPECT_EQ(model.CurrentRow(), 2);
    model.Select(3);
    EXPECT_EQ(model.CurrentRow(), -1);
    model.Select(2);
    model.SetLines({"x"});
    EXPECT_EQ(model.CurrentRow(), -1);
    model.Select(0);
    model.Clear();
    EXPECT_EQ(model.Count(), 0);
    EXPECT_EQ(model.CurrentRow(), -1);
    std::vector<int> rows;
    for (const auto& args : moved)
        rows.push_back(args[0].toInt());
    EXPECT_EQ(rows, (std::vector<int>{2, -1, 2, -1, 0, -1}));
}

class SaveLinesCrLfTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = std::filesystem::temp_directory_path() /
               ("gbklist-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FDir);
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::filesystem::path FDir;
};

TEST_F(SaveLinesCrLfTest, EveryLineEndsWithCrLfAndBytesStay) {
    const std::string path = (FDir / "out.txt").string();
    std::string error;
    ASSERT_TRUE(SaveLinesCrLf(path, {"\xD3\xF2\xC3\xFB", "", "b.com"}, error)) << error;
    EXPECT_EQ(testpaths::ReadFileBytes(path), "\xD3\xF2\xC3\xFB\r\n\r\nb.com\r\n");
    ASSERT_TRUE(SaveLinesCrLf(path, {"one"}, error));
    EXPECT_EQ(testpaths::ReadFileBytes(path), "one\r\n");
}

TEST_F(SaveLinesCrLfTest, UncreatableFileGivesTheReason) {
    std::string error;
    EXPECT_FALSE(SaveLinesCrLf((FDir / "missing" / "out.txt").string(), {"x"}, error));
    EXPECT_FALSE(error.empty());
}

// Every file below dir with its bytes (directories as "<dir>").
std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        files[entry.path().string()] =
            entry.is_directory() ? "<dir>" : testpaths::ReadFileBytes(entry.path().string());
    return files;
}

TEST_F(SaveLinesCrLfTest, FailedSaveLeavesEverythingAsItWas) {
    const std::string old = "old1.com\r\nold2.com\r\n";
    TLines lines;
    for (int i = 0; i < 2000; ++i)
        lines.push_back("new" + std::to_string(i) + ".com");
    struct TCase {
        const char* Name;
        const char* Target; // inside the case's folder, which holds old.txt
        const char* Folder; // made there first ("" for none)
        rlim_t SizeLimit;   // 0: none
        int Errno;          // the reason given; 0: any
    };
    const TCase cases[] = {
        {"missing folder", "missing/out.txt", "", 0, ENOENT},
        {"target a folder", "dir.txt", "dir.txt", 0, 0},
        {"under a regular file", "old.txt/out.txt", "", 0, ENOTDIR},
        // The disk fills up partway (a file size limit stops root as well).
        {"full disk, over the old file", "old.txt", "", 100, EFBIG},
        {"full disk, new file", "out.txt", "", 100, EFBIG},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::filesystem::path dir = FDir / c.Name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "old.txt", std::ios::binary) << old;
        if (*c.Folder)
            std::filesystem::create_directories(dir / c.Folder);
        const auto before = Snapshot(dir);
        std::string error;
        bool saved = false;
        {
            std::optional<TFileSizeLimit> limit;
            if (c.SizeLimit) {
                limit.emplace(c.SizeLimit);
                ASSERT_TRUE(limit->Active());
            }
            saved = SaveLinesCrLf((dir / c.Target).string(), lines, error);
        }
        EXPECT_FALSE(saved);
        EXPECT_FALSE(error.empty());
        if (c.Errno) {
            EXPECT_EQ(error, std::strerror(c.Errno));
        }
        EXPECT_EQ(Snapshot(dir), before);
    }
    // Nothing can be created in /proc, whoever asks.
    std::string error;
    EXPECT_FALSE(SaveLinesCrLf("/proc/tavirel-save.txt", lines, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SaveLinesCrLfTest, PipeIsWrittenThroughAndStaysAPipe) {
    const std::filesystem::path pipe = FDir / "pipe.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = testpaths::ReadFileBytes(pipe.string()); });
    std::string error;
    EXPECT_TRUE(SaveLinesCrLf(pipe.string(), {"a.com", "b.com"}, error)) << error;
    reader.join();
    EXPECT_EQ(received, "a.com\r\nb.com\r\n");
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

} // namespace

namespace {

// With a delay the lines are in the list at once, but the views hear of
// them, of the lines replaced and of a selection among them in one group
// when the delay is over (or when asked to show what waits).
TEST(GbkListModelShowDelayTest, ViewsHearInGroups) {
    TGbkListModel model;
    model.AppendLines({"a.com"});
    model.SetShowDelay(std::chrono::milliseconds(20));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy selected(&model, &TGbkListModel::CurrentRowChanged);

    model.Append("b.com");
    model.Append("c.com");
    model.ReplaceLine(0, "a2.com");
    model.ReplaceLine(2, "c2.com"); // not shown yet: no change to tell
    model.Select(2);
    EXPECT_EQ(model.Count(), 3);
    EXPECT_EQ(model.At(2), "c2.com");
    EXPECT_EQ(model.CurrentRow(), 2);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(inserted.count() + changed.count() + selected.count(), 0);

    ASSERT_TRUE(inserted.wait(1000));
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 2);
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 2);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2)).toString(), QStringLiteral("c2.com"));

    // Asked to show at once; a reset shows everything and forgets the rest.
    model.Append("d.com");
    model.ShowPending();
    EXPECT_EQ(inserted.count(), 2);
    model.Append("e.com");
    model.SetLines({"x.com"});
    EXPECT_EQ(model.rowCount(), 1);
    QTest::qWait(60);
    EXPECT_EQ(inserted.count(), 2);
}

} // namespace
