#include "updater/RestartScript.h"

#include "updater/PendingInstall.h"
#include "updater/UpdaterText.h"

#include <QByteArray>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

namespace webupdater {

namespace {

const char* const kNotStarted = "An error occurred while trying to run the cmd file. ";

// The lines that put one file in place. The name is used as the manifest
// gave it, byte for byte, as the check and the install used it.
std::string CopyLines(const TUpdateFolders& folders, const TUpRec& entry, const QString& logFile) {
    auto q = [](const QString& path) { return ShellQuote(path.toStdString()); };
    auto at = [&](const QString& path) { return q(folders.Resolve(path)); };
    const QString target = entry.Destination + entry.Name;
    const QString source = folders.UpdatesFolder + entry.Name;
    const QString backup = folders.RunBackupFolder + entry.Name;
    const QString targetFolder = QFileInfo(folders.Resolve(target)).path();
    const std::string failure = "Error copy file name: " + folders.Resolve(source).toStdString() +
                                "  ---> to: " + folders.Resolve(target).toStdString();
    std::string lines;
    // -T: a folder standing where the file goes is a failure, not a place
    // to copy into.
    lines += "if mkdir -p -- " + q(targetFolder) + " && cp -fT -- " + at(source) + " " +
             at(target) + " && cmp -s -- " + at(source) + " " + at(target) + "; then :; else\n";
    lines += "    failed=1\n";
    lines += "    printf '%s\\r\\n\\r\\n' " + ShellQuote(failure) + " >> " + q(logFile) + "\n";
    lines += "    [ -f " + at(backup) + " ] && cp -fT -- " + at(backup) + " " + at(target) + "\n";
    lines += "fi\n";
    return lines;
}

} // namespace

std::string RestartScriptText(const TUpdateFolders& folders,
                              const std::vector<TUpListItem>& restartFiles,
                              const TRestartScriptSettings& settings) {
    // The script names every path in UTF-8, as the file system takes it.
    auto q = [](const QString& path) { return ShellQuote(path.toStdString()); };
    auto at = [&](const QString& path) { return q(folders.Resolve(path)); };

    std::string script;
    auto line = [&script](const std::string& text) { script += text + "\n"; };
    line("#!/bin/sh");
    line("# Puts in place the updated files that could not be replaced while the program");
    line("# ran, then starts the program again.");
    line("exec </dev/null >/dev/null 2>&1");
    line("cd " + q(folders.AppFolder) + " || exit 1");
    line("while kill -0 " + std::to_string(settings.ProgramPid) + " 2>/dev/null; do sleep 1; done");
    line("failed=0");
    for (const TUpListItem& item : restartFiles)
        if (!item.Entry->Name.isEmpty())
            script += CopyLines(folders, *item.Entry, settings.LogFile);
    // Tidied before the program starts, which would otherwise find the list
    // of waiting files and offer to finish again.
    line("if [ \"$failed\" = 0 ]; then");
    line("    rm -f -- " + q(PendingInstallFile(folders.Resolve(folders.UpdatesFolder))));
    if (settings.DeleteUpdatesOnComplete)
        line("    rm -rf -- " + at(folders.UpdatesFolder));
    line("fi");
    if (settings.DeleteBatchFileOnComplete)
        line("rm -f -- " + q(folders.ScriptPath));
    line(q(settings.ProgramFile) + " &");
    return script;
}

void WriteRestartScript(TUpdateReporter& report, const TUpdateFolders& folders,
                        const std::vector<TUpListItem>& restartFiles,
                        const TRestartScriptSettings& settings) {
    report.WriteLog("Creating a batch file: " + QToGbk(folders.ScriptPath));
    const std::string script = RestartScriptText(folders, restartFiles, settings);
    QSaveFile file(folders.ScriptPath);
    const QByteArray bytes = QByteArray::fromStdString(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        report.WriteLog(kNotStarted);
        throw TUpdateError(kNotStarted);
    }
    report.WriteLog("Batch File Commands: " + kLfCr + kLfCr + Utf8ToGbk(script));
}

void StartRestartScript(TUpdateReporter& report, const TUpdateFolders& folders,
                        const std::function<bool(const QString& scriptPath)>& start) {
    report.WriteLog("Creating a process to run the batch file.");
    bool started = false;
    if (start) {
        started = start(folders.ScriptPath);
    } else {
        started = QProcess::startDetached(
            QStringLiteral("nice"),
            {QStringLiteral("-n"), QStringLiteral("19"), QStringLiteral("sh"), folders.ScriptPath},
            folders.AppFolder);
    }
    if (!started) {
        report.WriteLog(kNotStarted);
        throw TUpdateError(kNotStarted);
    }
    report.WriteLog("Restarting.... Hold On.");
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace webupdater
