#pragma once

// The run page's figures of a batch: the progress bar with "N / M（P%）",
// the counts line, and beside it the pace over the last seconds, the time
// spent and an estimate of the time left; once the batch has ended, the line
// that says how it came out. All refreshed on a timer of their own, so a
// batch of thousands of results a second redraws them a few times a second,
// not once per result.

#include "batch/BatchController.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;

// "N / M（P%）"; P rounded down, so 100% only once every name is done.
QString ProgressBarText(int done, int total);
// "mm:ss", or "h:mm:ss" from an hour on.
std::string DurationText(std::chrono::seconds span);
// "速度 R 个/秒 · 已用 T · 剩余约 L", L "--:--" while no pace is known.
std::string PaceLine(double perSecond, std::chrono::seconds spent,
                     std::optional<std::chrono::seconds> left);
// "查询完成：未注册 F，已注册 R，未知 U，用时 T"
std::string FinishedLine(const TBatchCounts& counts, std::chrono::seconds spent);

// Results a second over the last few seconds, from samples of the number done.
class TPaceMeter {
public:
    using TClock = std::chrono::steady_clock;
    explicit TPaceMeter(TClock::duration span = std::chrono::seconds(5));

    void Restart(TClock::time_point now, int done);
    void Sample(TClock::time_point now, int done);
    // 0 until the samples cover some time.
    double PerSecond() const;
    // The time the names left need at that pace; nothing without a pace.
    std::optional<std::chrono::seconds> TimeLeft(int left) const;

private:
    TClock::duration FSpan;
    std::deque<std::pair<TClock::time_point, int>> FSamples;
};

class TBatchProgressLine : public QObject {
    Q_OBJECT

public:
    static constexpr int RefreshMs = 250;

    TBatchProgressLine(TBatchController& batch, QProgressBar* bar, QLabel* counts, QLabel* pace,
                       QObject* parent = nullptr);

    // Shows the figures as they stand now.
    void Refresh();

private:
    void BatchStarted();
    void BatchEnded();
    void ShowBar(int position, int maximum);
    std::chrono::seconds Spent() const;

    TBatchController& FBatch;
    QProgressBar* FBar;
    QLabel* FCounts;
    QLabel* FPace;
    QTimer* FTimer;
    QElapsedTimer FSince;
    TPaceMeter FMeter;
};
