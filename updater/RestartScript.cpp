#include "updater/RestartScript.h"

#include "updater/UpdaterText.h"

#include <QByteArray>
#include <QProcess>
#include <QSaveFile>

namespace webupdater {

namespace {

const char* const kNotStarted = "An error occurred while trying to run the cmd file. ";

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
    for (const TUpListItem& item : restartFiles) {
        const TUpRec& entry = *item.Entry;
        const QString d = entry.Destination.trimmed();
        const QString n = entry.Name.trimmed();
        if (n.isEmpty())
            continue;
        if (!d.isEmpty())
            line("[ -d " + at(d) + " ] || mkdir -p " + at(d));
        line("cp -f " + at(folders.UpdatesFolder + n) + " " + at(d + n) + " || cp -f " +
             at(folders.RunBackupFolder + n) + " " + at(d + n));
    }
    line(q(settings.ProgramFile) + " &");
    if (settings.DeleteUpdatesOnComplete)
        line("rm -rf -- " + at(folders.UpdatesFolder));
    if (settings.DeleteBatchFileOnComplete)
        line("rm -f -- " + q(folders.ScriptPath));
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
