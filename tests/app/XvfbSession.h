#pragma once

// What the runs of the desktop program under Xvfb share: one X server from
// xvfb-run, tools run on its display, and polling with a bound.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <functional>
#include <optional>

namespace xvfbsession {

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The runs need an X server and a way to click in it.
inline bool XvfbToolsPresent() {
    return !QStandardPaths::findExecutable("xvfb-run").isEmpty() &&
           !QStandardPaths::findExecutable("xdotool").isEmpty();
}

// One X server from xvfb-run for the whole test; ends with it.
class TXvfb {
public:
    bool Start(const QString& dir) {
        const QString info = dir + "/display";
        FProcess.start("xvfb-run",
                       {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c",
                        "echo \"$DISPLAY $XAUTHORITY $$\" > '" + info + "'; exec sleep 300"});
        if (!FProcess.waitForStarted(5000))
            return false;
        if (!WaitUntil([&] { return QFile(info).size() > 0; }, 15000))
            return false;
        QFile file(info);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QStringList parts = QString::fromLocal8Bit(file.readAll()).trimmed().split(' ');
        if (parts.size() != 3)
            return false;
        Display = parts[0];
        Authority = parts[1];
        DataHome = dir + "/data-home";
        FSleepPid = parts[2].toLongLong();
        return true;
    }
    ~TXvfb() {
        // The command ending lets xvfb-run stop its server.
        if (FSleepPid > 0)
            ::kill(static_cast<pid_t>(FSleepPid), SIGTERM);
        FProcess.waitForFinished(10000);
    }
    // The test's own environment on this display, without the settings that
    // would send the program to servers the test did not start, and with a
    // data folder of the test's own (the program journals its batches there).
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", Display);
        environment.insert("XAUTHORITY", Authority);
        environment.insert("XDG_DATA_HOME", DataHome);
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("TAVIREL_AD_HOST");
        environment.remove("TAVIREL_UPDATE_URL");
        return environment;
    }

    // Runs a tool on this display; its standard output, or nothing when it
    // did not finish in time.
    std::optional<QString> Run(const QString& tool, const QStringList& args) const {
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.start(tool, args);
        if (!process.waitForFinished(15000)) {
            process.kill();
            process.waitForFinished();
            return std::nullopt;
        }
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    QString Display;
    QString Authority;
    QString DataHome;

private:
    QProcess FProcess;
    qint64 FSleepPid = 0;
};

} // namespace xvfbsession
