#include "ui/ZoneOpening.h"

#include "batch/GbkQt.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>

namespace {

// "正在读取区域文件（第一次读取时建立索引，很大的文件要一两分钟）："
constexpr const char* ReadingZoneText =
    "\xD5\xFD\xD4\xDA\xB6\xC1\xC8\xA1\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE\xA3\xA8\xB5\xDA\xD2\xBB"
    "\xB4\xCE\xB6\xC1\xC8\xA1\xCA\xB1\xBD\xA8\xC1\xA2\xCB\xF7\xD2\xFD\xA3\xAC\xBA\xDC\xB4\xF3"
    "\xB5\xC4\xCE\xC4\xBC\xFE\xD2\xAA\xD2\xBB\xC1\xBD\xB7\xD6\xD6\xD3\xA3\xA9\xA3\xBA";
// "已用 N 秒"
constexpr const char* ElapsedText = "\xD2\xD1\xD3\xC3 ";
constexpr const char* SecondsText = " \xC3\xEB";

// "取消"
constexpr const char* CancelCaption = "\xC8\xA1\xCF\xFB";
constexpr int TellEveryMs = 500;
constexpr int ShareSteps = 1000;

// A zone whose index is kept opens at once and shows nothing: for the
// first showAfter the window only paints. A zone still being read then shows
// a modal dialog with the share of the file read and a cancel button.
std::shared_ptr<const TZoneIndex> OpenShowingWork(const QString& file, QWidget* parent,
                                                  std::string& error,
                                                  std::chrono::milliseconds showAfter) {
    QEventLoop loop;
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<bool> cancelled{false};
    const std::string path = QFile::encodeName(file).toStdString();
    std::future<std::shared_ptr<const TZoneIndex>> opening = std::async(std::launch::async, [&] {
        std::shared_ptr<const TZoneIndex> zone =
            TZoneIndex::Open(path, error, nullptr, "", [&](std::uint64_t bytes) {
                bytesRead = bytes;
                return !cancelled;
            });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        return zone;
    });
    const auto done = [&opening] {
        return opening.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    if (showAfter.count() > 0) {
        QTimer wait;
        wait.setSingleShot(true);
        QObject::connect(&wait, &QTimer::timeout, &loop, &QEventLoop::quit);
        wait.start(showAfter);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (done())
            return opening.get();
    }

    const qint64 size = QFileInfo(file).size();
    QProgressDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgZoneOpening"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setCancelButtonText(GbkToQString(CancelCaption));
    dialog.setRange(0, size > 0 ? ShareSteps : 0);
    QObject::connect(&dialog, &QProgressDialog::canceled, [&cancelled] { cancelled = true; });
    QElapsedTimer clock;
    clock.start();
    const auto tell = [&] {
        dialog.setLabelText(GbkToQString(ReadingZoneText) + file + "\n" +
                            GbkToQString(ElapsedText) + QString::number(clock.elapsed() / 1000) +
                            GbkToQString(SecondsText));
        if (size > 0)
            dialog.setValue(static_cast<int>(std::min<std::uint64_t>(
                ShareSteps, bytesRead * ShareSteps / static_cast<std::uint64_t>(size))));
    };
    tell();
    QTimer telling;
    QObject::connect(&telling, &QTimer::timeout, tell);
    telling.start(TellEveryMs);
    dialog.show();
    if (!done())
        loop.exec(); // the dialog is modal: nothing else takes a click meanwhile
    return opening.get();
}

} // namespace

std::optional<TZoneIndexes> OpenZonesShowingWork(const QStringList& files, QWidget* parent,
                                                 std::string& error,
                                                 std::chrono::milliseconds showAfter) {
    TZoneIndexes zones;
    for (const QString& file : files) {
        std::shared_ptr<const TZoneIndex> zone =
            OpenShowingWork(file.trimmed(), parent, error, showAfter);
        if (!zone)
            return std::nullopt;
        zones.push_back(std::move(zone));
    }
    return zones;
}
