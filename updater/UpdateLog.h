#pragma once

// The update run's log file: text lines ended by CR LF; each entry a date and
// time line, the message and an empty line.

#include <QString>

#include <string>

namespace webupdater {

// logFileName as it stands when it names a path, otherwise inside the
// program's folder (given with a trailing "/").
QString LogFilePath(const QString& logFileName, const QString& programFolder);
// Empties (creates) the log and writes logData and the date and time at its
// head. Throws TUpdateError naming logFileName when it cannot be written.
void StartLog(const QString& path, const QString& logFileName, const std::string& logData);
// Appends one entry; throws like StartLog.
void AppendLogEntry(const QString& path, const QString& logFileName, bool addTime,
                    const std::string& headerText, const std::string& message);

} // namespace webupdater
