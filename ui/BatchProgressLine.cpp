#include "ui/BatchProgressLine.h"

#include "batch/GbkQt.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// "（" and "%）"
constexpr const char* PercentOpen = "\xA3\xA8";
constexpr const char* PercentClose = "%\xA3\xA9";
// "速度 ", " 个/秒", " · 已用 ", " · 剩余约 "
constexpr const char* PaceLabel = "\xCB\xD9\xB6\xC8 ";
constexpr const char* PaceUnit = " \xB8\xF6/\xC3\xEB";
constexpr const char* SpentLabel = " \xA1\xA4 \xD2\xD1\xD3\xC3 ";
constexpr const char* LeftLabel = " \xA1\xA4 \xCA\xA3\xD3\xE0\xD4\xBC ";
constexpr const char* NoTimeLeft = "--:--";
// "查询完成：未注册 ", "，已注册 ", "，未知 ", "，用时 "
constexpr const char* FinishedFree =
    "\xB2\xE9\xD1\xAF\xCD\xEA\xB3\xC9\xA3\xBA\xCE\xB4\xD7\xA2\xB2\xE1 ";
constexpr const char* FinishedRegistered = "\xA3\xAC\xD2\xD1\xD7\xA2\xB2\xE1 ";
constexpr const char* FinishedUnknown = "\xA3\xAC\xCE\xB4\xD6\xAA ";
constexpr const char* FinishedSpent = "\xA3\xAC\xD3\xC3\xCA\xB1 ";

std::string PaceNumber(double perSecond) {
    char text[32];
    // Tenths matter only for a slow batch.
    std::snprintf(text, sizeof text, perSecond < 10 ? "%.1f" : "%.0f", perSecond);
    return text;
}

void SetTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

} // namespace

QString ProgressBarText(int done, int total) {
    const long long percent = total > 0 ? 100LL * std::clamp(done, 0, total) / total : 0;
    return QString::number(done) + QStringLiteral(" / ") + QString::number(total) +
           GbkToQString(PercentOpen) + QString::number(percent) + GbkToQString(PercentClose);
}

std::string DurationText(std::chrono::seconds span) {
    const long long total = std::max<long long>(span.count(), 0);
    const long long hours = total / 3600;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
    return text;
}

std::string PaceLine(double perSecond, std::chrono::seconds spent,
                     std::optional<std::chrono::seconds> left) {
    return PaceLabel + PaceNumber(perSecond) + PaceUnit + SpentLabel + DurationText(spent) +
           LeftLabel + (left ? DurationText(*left) : NoTimeLeft);
}

std::string FinishedLine(const TBatchCounts& counts, std::chrono::seconds spent) {
    return FinishedFree + std::to_string(counts.Free) + FinishedRegistered +
           std::to_string(counts.Registered) + FinishedUnknown + std::to_string(counts.Unknown) +
           FinishedSpent + DurationText(spent);
}

TPaceMeter::TPaceMeter(TClock::duration span) : FSpan(span) {}

void TPaceMeter::Restart(TClock::time_point now, int done) {
    FSamples.clear();
    FSamples.emplace_back(now, done);
}

void TPaceMeter::Sample(TClock::time_point now, int done) {
    FSamples.emplace_back(now, done);
    // The oldest sample kept is the last one at least a span old, so the
    // pace always covers a whole span once the batch has run that long.
    while (FSamples.size() > 2 && now - FSamples[1].first >= FSpan)
        FSamples.pop_front();
}

double TPaceMeter::PerSecond() const {
    if (FSamples.size() < 2)
        return 0;
    const double seconds =
        std::chrono::duration<double>(FSamples.back().first - FSamples.front().first).count();
    if (seconds <= 0)
        return 0;
    return std::max(0, FSamples.back().second - FSamples.front().second) / seconds;
}

std::optional<std::chrono::seconds> TPaceMeter::TimeLeft(int left) const {
    const double pace = PerSecond();
    if (pace <= 0)
        return std::nullopt;
    return std::chrono::seconds(std::llround(std::ceil(std::max(left, 0) / pace)));
}

TBatchProgressLine::TBatchProgressLine(TBatchController& batch, QProgressBar* bar, QLabel* counts,
                                       QLabel* pace, QObject* parent)
    : QObject(parent), FBatch(batch), FBar(bar), FCounts(counts), FPace(pace),
      FTimer(new QTimer(this)) {
    FBar->setTextVisible(true);
    FTimer->setInterval(RefreshMs);
    connect(FTimer, &QTimer::timeout, this, &TBatchProgressLine::Refresh);
    connect(&FBatch, &TBatchController::BatchStarted, this, &TBatchProgressLine::BatchStarted);
    connect(&FBatch, &TBatchController::BatchEnded, this, &TBatchProgressLine::BatchEnded);
    // A reset of the progress (a start, also one that starts nothing) is
    // shown at once; the results in between wait for the next refresh.
    connect(&FBatch, &TBatchController::ProgressChanged, this, [this](int position, int maximum) {
        if (!FBatch.IsActive())
            ShowBar(position, maximum);
    });
    connect(&FBatch, &TBatchController::CountsChanged, this, [this] {
        if (!FBatch.IsActive())
            Refresh();
    });
    Refresh();
}

void TBatchProgressLine::BatchStarted() {
    FSince.start();
    FMeter.Restart(TPaceMeter::TClock::now(), FBatch.ProgressPosition());
    FTimer->start();
    Refresh();
}

void TBatchProgressLine::BatchEnded() {
    FTimer->stop();
    Refresh();
    SetTextIfChanged(FPace, GbkToQString(FinishedLine(FBatch.Counts(), Spent())));
}

std::chrono::seconds TBatchProgressLine::Spent() const {
    return std::chrono::seconds(FSince.isValid() ? FSince.elapsed() / 1000 : 0);
}

void TBatchProgressLine::Refresh() {
    ShowBar(FBatch.ProgressPosition(), FBatch.ProgressMaximum());
    SetTextIfChanged(FCounts, GbkToQString(TBatchController::CountsLine(FBatch.Counts())));
    if (!FBatch.IsActive())
        return;
    FMeter.Sample(TPaceMeter::TClock::now(), FBatch.ProgressPosition());
    const int left = FBatch.ProgressMaximum() - FBatch.ProgressPosition();
    SetTextIfChanged(FPace,
                     GbkToQString(PaceLine(FMeter.PerSecond(), Spent(), FMeter.TimeLeft(left))));
}

void TBatchProgressLine::ShowBar(int position, int maximum) {
    // A range of 0..0 would make the bar a busy indicator; an empty batch
    // shows an empty bar instead.
    const int top = std::max(maximum, 1);
    if (FBar->maximum() != top)
        FBar->setRange(0, top);
    const int value = std::min(position, top);
    if (FBar->value() != value)
        FBar->setValue(value);
    const QString text = ProgressBarText(position, maximum);
    if (FBar->format() != text)
        FBar->setFormat(text);
}
