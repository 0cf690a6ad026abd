#include "tests/support/CliRunner.h"

#include "tests/support/TestPaths.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <sstream>

namespace testcli {

TCliRun RunCli(const QStringList& args, const TCliInput& input) {
    QProcess process;
    if (input.WhoisServer) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TAVIREL_WHOIS_SERVER", QString::fromStdString(*input.WhoisServer));
        process.setProcessEnvironment(environment);
    }
    const std::string program =
        input.Program.empty() ? testpaths::BuildDir() + "/app/tavirelbrisvane-cli" : input.Program;
    process.start(QString::fromStdString(program), args);
    TCliRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input.Stdin.data(), static_cast<qint64>(input.Stdin.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput().toStdString();
    run.Err = process.readAllStandardError().toStdString();
    return run;
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace testcli
