// The run page's figures: the bar's "N / M（P%）", the pace, the times and the
// line that ends a batch.

#include "tests/ui/MainWindowFixture.h"

#include "batch/GbkQt.h"
#include "tests/support/Screenshots.h"
#include "ui/BatchProgressLine.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabWidget>

namespace {

using namespace mainwindow;
using namespace std::chrono_literals;

TEST(ProgressTextTest, BarTextCountsAndRoundsDown) {
    struct TCase {
        int Done, Total;
        const char* Text;
    };
    const TCase cases[] = {
        {0, 0, "0 / 0（0%）"},
        {0, 4, "0 / 4（0%）"},
        {1, 3, "1 / 3（33%）"},
        {2, 3, "2 / 3（66%）"},
        {999, 1000, "999 / 1000（99%）"},
        {1000, 1000, "1000 / 1000（100%）"},
        {1999999, 2000000, "1999999 / 2000000（99%）"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ProgressBarText(c.Done, c.Total), U(c.Text)) << c.Text;
}

TEST(ProgressTextTest, DurationsPaceAndEndLine) {
    struct TCase {
        std::chrono::seconds Span;
        const char* Text;
    };
    const TCase cases[] = {{0s, "00:00"},    {59s, "00:59"},     {60s, "01:00"},
                           {3599s, "59:59"}, {3600s, "1:00:00"}, {90061s, "25:01:01"},
                           {-5s, "00:00"}};
    for (const TCase& c : cases)
        EXPECT_EQ(DurationText(c.Span), c.Text) << c.Text;

    EXPECT_EQ(GbkToQString(PaceLine(2000.4, 75s, 3600s)),
              U("速度 2000 个/秒 · 已用 01:15 · 剩余约 1:00:00"));
    EXPECT_EQ(GbkToQString(PaceLine(2.25, 5s, std::nullopt)),
              U("速度 2.2 个/秒 · 已用 00:05 · 剩余约 --:--"));
    TBatchCounts counts;
    counts.Free = 3;
    counts.Registered = 40;
    counts.Unknown = 2;
    counts.Waiting = 7;
    EXPECT_EQ(GbkToQString(FinishedLine(counts, 125s)),
              U("查询完成：未注册 3，已注册 40，未知 2，用时 02:05"));
}

// The pace covers the last span only: a batch that slows down shows its new
// pace within that span, not its average since the start.
TEST(PaceMeterTest, PaceOfTheLastSecondsAndTheTimeLeft) {
    TPaceMeter meter(5s);
    const auto t0 = TPaceMeter::TClock::time_point{} + 1000s;
    meter.Restart(t0, 100);
    EXPECT_EQ(meter.PerSecond(), 0);
    EXPECT_FALSE(meter.TimeLeft(10));
    for (int s = 1; s <= 10; ++s)
        meter.Sample(t0 + std::chrono::seconds(s), 100 + 1000 * s);
    EXPECT_DOUBLE_EQ(meter.PerSecond(), 1000);
    EXPECT_EQ(meter.TimeLeft(2500), 3s);
    // Ten slow seconds later only the slow pace counts.
    for (int s = 11; s <= 20; ++s)
        meter.Sample(t0 + std::chrono::seconds(s), 10100 + 10 * (s - 10));
    EXPECT_DOUBLE_EQ(meter.PerSecond(), 10);
    EXPECT_EQ(meter.TimeLeft(0), 0s);
    // A batch that stands still has no time left to give.
    for (int s = 21; s <= 30; ++s)
        meter.Sample(t0 + std::chrono::seconds(s), 10200);
    EXPECT_EQ(meter.PerSecond(), 0);
    EXPECT_FALSE(meter.TimeLeft(5));
}

class BatchProgressWindowTest : public TMainWindowFixture {};

// Mid-batch the bar and the line beside the counts carry numbers; the end is
// told in that line, not in a box. TAVIREL_SCREENSHOT_DIR receives the run
// page mid-batch.
TEST_F(BatchProgressWindowTest, RunPageShowsNumbersThroughTheBatchAndItsEnd) {
    StartServer(150);
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i)
        names.push_back((i % 3 == 0 ? "free" : "taken") + std::to_string(i) + ".com");
    Form->DomainsList().AppendLines(names);
    Form->txtMaxThread->setText(QStringLiteral("2"));
    Form->resize(800, 600);
    Form->show();
    GoToRunPage();
    Form->btnStart->click();
    EXPECT_EQ(Form->prog->text(), U("0 / 12（0%）"));

    ASSERT_TRUE(WaitUntil([this] { return Form->Batch().ProgressPosition() >= 5; }));
    // Paused, the batch stays under way while its figures are read.
    Form->btnStop->click();
    QTest::qWait(TBatchProgressLine::RefreshMs * 2);
    const QRegularExpression barText(U("^\\d+ / 12（\\d+%）$"));
    EXPECT_TRUE(barText.match(Form->prog->text()).hasMatch()) << Form->prog->text().toStdString();
    EXPECT_NE(Form->prog->text(), U("0 / 12（0%）"));
    const QRegularExpression paceText(
        U("^速度 [\\d.]+ 个/秒 · 已用 \\d\\d:\\d\\d · 剩余约 (\\d\\d:\\d\\d|--:--)$"));
    EXPECT_TRUE(paceText.match(Form->labPace->text()).hasMatch())
        << Form->labPace->text().toStdString();
    screenshots::Save(*Form, "run-page-mid-batch");
    Form->btnStop->click();

    ASSERT_TRUE(WaitUntil([this] { return !Form->Batch().IsActive(); }));
    EXPECT_EQ(Form->prog->text(), U("12 / 12（100%）"));
    const QRegularExpression endText(
        U("^查询完成：未注册 4，已注册 8，未知 0，用时 \\d\\d:\\d\\d$"));
    EXPECT_TRUE(endText.match(Form->labPace->text()).hasMatch())
        << Form->labPace->text().toStdString();
    EXPECT_EQ(Form->labCounts->text(), U("未注册 4 · 已注册 8 · 未知 0 · 等待重试 0"));
    EXPECT_TRUE(Messages.empty());
    // The labels' new widths are laid out by a posted request.
    QTest::qWait(50);
    screenshots::Save(*Form, "run-page-ended");
}

} // namespace
