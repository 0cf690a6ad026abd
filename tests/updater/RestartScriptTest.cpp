// The restart script run for real: it waits for a stand-in of the program to
// end, puts the restart files in place, starts the stand-in again and tidies up.

#include "tests/support/LocalHttpServer.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/AppWebUpdater.h"
#include "updater/Update.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
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

// A restart file in a folder that does not exist yet gets its folder; a copy
// that fails is logged, keeps the updates folder, and the next start offers
// to finish.
TEST(RestartScript, CreatesNewFoldersAndKeepsTheUpdateWhenACopyFails) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString app = temp.path() + "/app";
    const QString server = temp.path() + "/server";
    WriteFile(server + "/update/newdir/lib.so", "new lib");
    WriteFile(server + "/update/blocked.bin", "new blocked");
    WriteFile(server + "/update/Update.xml",
              QByteArray::fromStdString(
                  ManifestXml("2.0", {{"newdir/lib.so", "ApplicationFolder", "yes"},
                                      {"blocked.bin", "ApplicationFolder", "yes"}})));
    // A folder where blocked.bin goes: no copy can replace it.
    QDir().mkpath(app + "/blocked.bin/inside");
    TLocalHttpServer http(server);
    ASSERT_TRUE(http.Start());

    QString script;
    auto runScript = [](const QString& path) {
        QProcess sh;
        sh.start("sh", {path});
        return sh.waitForFinished(15000) && sh.exitStatus() == QProcess::NormalExit;
    };
    {
        TWebUpdater updater;
        updater.ProgramPath = app + "/TavirelBrisvane";
        updater.ProgramPid = 999999;
        updater.WebURL = (http.BaseUrl() + "/update").toStdString();
        updater.AskRestart = [](const std::string&) { return true; };
        // The script runs once the run has ended, as after the program's end.
        updater.StartScript = [&](const QString& path) { return script = path, true; };
        updater.QuitApplication = [] {};
        updater.RunUpdate();
    }
    ASSERT_TRUE(runScript(script));

    EXPECT_EQ(ReadFile(app + "/newdir/lib.so"), "new lib");
    EXPECT_TRUE(QFileInfo(app + "/blocked.bin").isDir());
    EXPECT_NE(ReadFile(app + "/Updater.txt")
                  .toStdString()
                  .find("Error copy file name: " + app.toStdString() +
                        "/Updates/blocked.bin  ---> to: " + app.toStdString() + "/blocked.bin"),
              std::string::npos);
    EXPECT_EQ(ReadFile(app + "/Updates/blocked.bin"), "new blocked") << "kept for the next start";

    // The next start, with the published version recorded.
    QSettings(app + "/config.ini", QSettings::IniFormat).setValue("App/CurrVer", "2");
    TUpdaterEnvironment environment;
    environment.ProgramPath = app + "/TavirelBrisvane";
    std::vector<std::string> offers;
    environment.AskFinishUpdate = [&](const std::string& question) {
        offers.push_back(question);
        return false;
    };
    environment.ShowModal = [](TForm3&) {};
    environment.ShowWarning = [](const std::string&, const std::string&) {};
    TForm3 next(nullptr, environment);
    next.FormCreate();
    EXPECT_EQ(offers.size(), 1u);
}

} // namespace
