#include "ui/GbkListModel.h"

#include "tests/support/TestPaths.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
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

} // namespace
