#include "updater/UpdateLog.h"

#include "updater/UpdateFolders.h"
#include "updater/UpdateReporter.h"
#include "updater/UpdaterText.h"

#include <QDateTime>
#include <QLocale>

#include <fstream>

namespace webupdater {

namespace {

std::string LocalDateTimeText() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    return QToGbk(locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                  locale.toString(now.time(), QLocale::LongFormat));
}

std::ofstream OpenLog(const QString& path, const QString& logFileName, std::ios::openmode mode) {
    std::ofstream log(FsPath(path), std::ios::binary | mode);
    if (!log)
        throw TUpdateError("Unable to create error log file: " + QToGbk(logFileName));
    return log;
}

} // namespace

QString LogFilePath(const QString& logFileName, const QString& programFolder) {
    for (const QChar separator : {QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('/')})
        if (logFileName.contains(separator))
            return logFileName;
    return programFolder + logFileName;
}

void StartLog(const QString& path, const QString& logFileName, const std::string& logData) {
    std::ofstream log = OpenLog(path, logFileName, std::ios::trunc);
    if (!logData.empty())
        log << logData << kCrLf;
    log << LocalDateTimeText() << kCrLf;
}

void AppendLogEntry(const QString& path, const QString& logFileName, bool addTime,
                    const std::string& headerText, const std::string& message) {
    std::ofstream log = OpenLog(path, logFileName, std::ios::app);
    if (addTime)
        log << LocalDateTimeText() << kCrLf;
    if (!headerText.empty())
        log << headerText << kCrLf;
    log << message << kCrLf << kCrLf;
}

} // namespace webupdater
