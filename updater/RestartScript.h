#pragma once

// The restart script: a POSIX sh script that waits for the program to end,
// copies the files that could not be replaced while it ran into place,
// creating their folders, and checks each copy. A failed copy is written to
// the log, the backup copy put back, and the updates folder kept with its
// list of waiting files, so that the next start offers to finish. Only when
// every copy succeeded does it tidy up; then it starts the program again.

#include "updater/UpdateFolders.h"
#include "updater/UpdateManifest.h"
#include "updater/UpdateReporter.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

struct TRestartScriptSettings {
    QString ProgramFile;   // the program to start again
    qint64 ProgramPid = 0; // the process the script waits for
    bool DeleteUpdatesOnComplete = true;
    bool DeleteBatchFileOnComplete = true;
    QString LogFile; // where a failed copy is written
};

namespace webupdater {

// The script's text (UTF-8, LF line ends).
std::string RestartScriptText(const TUpdateFolders& folders,
                              const std::vector<TUpListItem>& restartFiles,
                              const TRestartScriptSettings& settings);
// Writes the script to folders.ScriptPath and logs it; throws TUpdateError
// when it cannot be written.
void WriteRestartScript(TUpdateReporter& report, const TUpdateFolders& folders,
                        const std::vector<TUpListItem>& restartFiles,
                        const TRestartScriptSettings& settings);
// Starts the script with start (given its path), or detached at idle
// priority when start is empty; throws TUpdateError when it does not start.
void StartRestartScript(TUpdateReporter& report, const TUpdateFolders& folders,
                        const std::function<bool(const QString& scriptPath)>& start);
// The text quoted for sh, whatever it holds.
std::string ShellQuote(const std::string& text);

} // namespace webupdater
