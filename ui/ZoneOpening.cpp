#include "ui/ZoneOpening.h"

#include "batch/GbkQt.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QTimer>

#include <chrono>
#include <future>
#include <limits>

namespace {

// "正在读取区域文件（第一次读取时建立索引，很大的文件要一两分钟）："
constexpr const char* ReadingZoneText =
    "\xD5\xFD\xD4\xDA\xB6\xC1\xC8\xA1\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE\xA3\xA8\xB5\xDA\xD2\xBB"
    "\xB4\xCE\xB6\xC1\xC8\xA1\xCA\xB1\xBD\xA8\xC1\xA2\xCB\xF7\xD2\xFD\xA3\xAC\xBA\xDC\xB4\xF3"
    "\xB5\xC4\xCE\xC4\xBC\xFE\xD2\xAA\xD2\xBB\xC1\xBD\xB7\xD6\xD6\xD3\xA3\xA9\xA3\xBA";
// "已用 N 秒"
constexpr const char* ElapsedText = "\xD2\xD1\xD3\xC3 ";
constexpr const char* SecondsText = " \xC3\xEB";

constexpr int TellEveryMs = 500;

// A zone whose index is kept opens at once and shows nothing; the loop turns
// meanwhile all the same, so that not even a slow disk holds the window.
std::shared_ptr<const TZoneIndex> OpenShowingWork(const QString& file, QWidget* parent,
                                                  std::string& error,
                                                  std::chrono::milliseconds showAfter) {
    QEventLoop loop;
    const std::string path = QFile::encodeName(file).toStdString();
    std::future<std::shared_ptr<const TZoneIndex>> opening =
        std::async(std::launch::async, [path, &error, &loop] {
            std::shared_ptr<const TZoneIndex> zone = TZoneIndex::Open(path, error);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            return zone;
        });

    QProgressDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgZoneOpening"));
    dialog.setCancelButton(nullptr); // an index half built is of no use
    dialog.setRange(0, 0);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(std::numeric_limits<int>::max()); // shown by the timer below
    dialog.reset();
    QElapsedTimer clock;
    clock.start();
    const auto describe = [&] {
        dialog.setLabelText(GbkToQString(ReadingZoneText) + file + "\n" +
                            GbkToQString(ElapsedText) + QString::number(clock.elapsed() / 1000) +
                            GbkToQString(SecondsText));
    };
    describe();
    QTimer show;
    show.setSingleShot(true);
    QObject::connect(&show, &QTimer::timeout, &dialog, &QWidget::show);
    if (showAfter.count() > 0)
        show.start(showAfter);
    else
        dialog.show();
    QTimer tell;
    QObject::connect(&tell, &QTimer::timeout, describe);
    tell.start(TellEveryMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
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
