// The restart script run for real: it waits for a stand-in of the program to
// end, puts the restart files in place, starts the stand-in again and tidies up.

#include "tests/support/LocalHttpServer.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/AppWebUpdater.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace updatertest;

namespace {

// Lets the script work until the condition holds or the time is up.
template <typename Condition> bool WaitFor(Condition condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

TEST(RestartScript, WaitsForTheProgramReplacesItsFilesStartsItAgainAndRemovesItself) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString app = temp.path() + "/app";
    const QString server = temp.path() + "/server";
    QDir().mkpath(app);

    // The program: a stand-in that notes each start and the priority it runs at.
    const QString program = app + "/TavirelBrisvane";
    WriteFile(program,
              QByteArray("#!/bin/sh\necho started $(nice) >> '") + app.toUtf8() + "/starts.txt'\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    WriteFile(app + "/r.bin", "old r");
    WriteFile(app + "/kept.bin", "old kept");
    WriteFile(server + "/update/r.bin", "new r");
    WriteFile(server + "/update/p.bin", "new p");
    WriteFile(
        server + "/update/Update.xml",
        QByteArray::fromStdString(ManifestXml("2.0", {{"r.bin", "ApplicationFolder", "yes"},
                                                      {"p.bin", "Plugins", "yes"},
                                                      {"kept.bin", "ApplicationFolder", "yes"}})));
    TLocalHttpServer http(server);
    ASSERT_TRUE(http.Start());
    // kept.bin cannot be downloaded: the script's copy fails and it falls
    // back to the backup copy, so the file stays as it was.
    http.SetBehaviour("/update/kept.bin", {TLocalHttpServer::Mode::Status, 404});

    // The running program the script waits for.
    QProcess standIn;
    standIn.start("sleep", {"30"});
    ASSERT_TRUE(standIn.waitForStarted());

    TWebUpdater updater;
    updater.ProgramPath = program;
    updater.ProgramPid = standIn.processId();
    updater.WebURL = (http.BaseUrl() + "/update").toStdString();
    updater.AskRestart = [](const std::string&) { return true; };
    int quitCalls = 0;
    updater.QuitApplication = [&] { ++quitCalls; };

    updater.RunUpdate();

    ASSERT_EQ(quitCalls, 1);
    const QString script = app + "/TavirelBrisvane.sh";
    ASSERT_TRUE(Exists(script));
    // While the program runs nothing is replaced.
    QThread::msleep(1500);
    EXPECT_EQ(ReadFile(app + "/r.bin"), "old r");
    EXPECT_FALSE(Exists(app + "/starts.txt"));

    standIn.kill();
    standIn.waitForFinished();

    ASSERT_TRUE(WaitFor([&] { return !Exists(script) && Exists(app + "/starts.txt"); }, 15000))
        << "the script did not finish";
    EXPECT_EQ(ReadFile(app + "/r.bin"), "new r");
    EXPECT_EQ(ReadFile(app + "/Plugins/p.bin"), "new p");
    EXPECT_EQ(ReadFile(app + "/kept.bin"), "old kept");
    EXPECT_FALSE(Exists(app + "/Updates"));
    EXPECT_TRUE(WaitFor([&] { return ReadFile(app + "/starts.txt") == "started 19\n"; }, 5000))
        << "started once, by a script at idle priority: "
        << ReadFile(app + "/starts.txt").toStdString();
}

} // namespace
