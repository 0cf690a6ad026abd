// The update run against a real HTTP server on loopback, in a temporary
// program folder.

#include "engine/GbkCodec.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/AppWebUpdater.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <random>

using namespace updatertest;

namespace {

class UpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        Root = Temp.path();
        App = Root + "/app";
        ServerRoot = Root + "/server";
        QDir().mkpath(App);
        QDir().mkpath(ServerRoot + "/update");
        ASSERT_TRUE(Http.Start());

        Configure(Updater);
    }

    // Points an update run at the temporary program folder and the server,
    // and records what it reports and asks.
    void Configure(TWebUpdater& updater) {
        updater.ProgramPath = App + "/TavirelBrisvane";
        updater.ProgramPid = 999999;
        updater.WebURL = (Http.BaseUrl() + "/update").toStdString();
        updater.DownloadBounds.IdleMs = 2000;
        updater.DownloadBounds.WholeMs = 5000;
        updater.OnChangeText = [this](const std::string& text) { Statuses.push_back(text); };
        updater.OnProgress = [this](int position, int) { Progress.push_back(position); };
        updater.AskRestart = [this](const std::string& question) {
            Questions.push_back(question);
            const bool answer = !Answers.empty() && Answers.front();
            if (!Answers.empty())
                Answers.pop_front();
            return answer;
        };
        updater.StartScript = [this](const QString& path) {
            StartedScripts.push_back(path.toStdString());
            return StartSucceeds;
        };
        updater.QuitApplication = [this] { ++QuitCalls; };
        updater.ProgressBar = &Bar;
        updater.StatusBar = &Status;
    }

    void Publish(const QString& name, const QByteArray& bytes) {
        WriteFile(ServerRoot + "/update/" + name, bytes);
    }
    void PublishManifest(const std::string& version, const std::vector<TFileLine>& files) {
        Publish("Update.xml", QByteArray::fromStdString(ManifestXml(version, files)));
    }
    std::string Url(const std::string& name) const { return Updater.WebURL + "/" + name; }
    bool HasStatus(const std::string& text) const {
        return std::find(Statuses.begin(), Statuses.end(), text) != Statuses.end();
    }
    std::string Log() const { return ReadFile(App + "/Updater.txt").toStdString(); }
    QString BackupFolder() const { return App + "/" + Updater.RunBackupFolder(); }
    std::string DownloadFailed(const std::string& name) const {
        return kErrorMessage + " downloading the update Info file!" + kLfCr + Url(name);
    }
    std::string Refused(const std::string& name) const {
        return kErrorMessage + " trying to copy the file" + kLfCr + name;
    }
    std::string Cancelled() const {
        return "Updates checking was canceled (An error has been found)." + kLfCr + kErrorMessage +
               " trying to parse the XML file!";
    }

    QTemporaryDir Temp;
    QString Root, App, ServerRoot;
    TLocalHttpServer Http{Temp.path() + "/server"};
    TWebUpdater Updater;
    QProgressBar Bar;
    QStatusBar Status;
    std::vector<std::string> Statuses;
    std::vector<int> Progress;
    std::vector<std::string> Questions;
    std::deque<bool> Answers;
    std::vector<std::string> StartedScripts;
    bool StartSucceeds = true;
    int QuitCalls = 0;
};

using ServedRunTest = UpdateRunTest;

TEST_F(ServedRunTest, InstallsNormalFilesIntoTheProgramFolderAndACreatedDataFolder) {
    WriteFile(App + "/a.txt", "old a");
    Publish("a.txt", "new a");
    Publish("b.dat", "new b");
    PublishManifest("2.0", {{"a.txt", "ApplicationFolder", "no"}, {"b.dat", "Data", "no"}});

    Updater.RunUpdate();

    EXPECT_EQ(ReadFile(App + "/a.txt"), "new a");
    EXPECT_EQ(ReadFile(App + "/Data/b.dat"), "new b");
    EXPECT_EQ(ReadFile(BackupFolder() + "a.txt"), "old a");
    EXPECT_FALSE(Exists(BackupFolder() + "b.dat")); // nothing to back up
    EXPECT_FALSE(Exists(App + "/Updates"));
    EXPECT_FALSE(Exists(App + "/Update.xml"));
    EXPECT_FALSE(Exists(App + "/Updater.txt"));
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), kSuccess);
    EXPECT_EQ(Status.currentMessage(), QString::fromUtf8("更新成功!"));
    EXPECT_TRUE(Questions.empty());
    EXPECT_FALSE(Updater.Busy());
    EXPECT_FALSE(Updater.RestartPending());
    EXPECT_EQ(Bar.value(), 0);
    EXPECT_EQ(Progress.front(), 10);
    EXPECT_EQ(Progress.back(), 0);
    EXPECT_EQ(Updater.ApplicationName, "TestApp");
}

// Chinese names travel as GBK inside the run; some GBK characters end in the
// byte of "\\" or "|", which must not be read as a separator or refused.
TEST_F(ServedRunTest, ChineseFileAndFolderNamesAreInstalled) {
    Publish(QString::fromUtf8("億刓.txt"), "chinese");
    PublishManifest("2.0", {{"億刓.txt", "资料", "no"}});

    Updater.RunUpdate();

    EXPECT_EQ(ReadFile(App + QString::fromUtf8("/资料/億刓.txt")), "chinese");
    EXPECT_EQ(Statuses.back(), kSuccess);
}

TEST_F(ServedRunTest, LogHoldsEveryStepAsDatedEntriesWithCrLfLines) {
    Updater.DeleteLogOnComplete = false;
    Publish("a.txt", "new a");
    PublishManifest("2.0", {{"a.txt", "ApplicationFolder", "no"}});

    Updater.RunUpdate();

    const std::string log = Log();
    ASSERT_FALSE(log.empty());
    // Lines end in CR LF; a bare LF only as part of the LF CR separator.
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i] != '\n')
            continue;
        ASSERT_TRUE((i > 0 && log[i - 1] == '\r') || (i + 1 < log.size() && log[i + 1] == '\r'))
            << "bare LF at " << i;
    }
    const std::vector<std::string> expectedInOrder = {
        "Initializing the updater.",
        "Updating Application Controls",
        "Checking for Updates",
        "Start processing file names. ",
        "Finished processing file names.",
        "Start downloading xml remote file.",
        "Trying to download: " + Url("Update.xml") + "  To: ApplicationFolder/Update.xml",
        "Parsing XML Head section",
        "Parsing XML tag: Updates",
        "Parsing XML tag: Version",
        "Application current version is: 0.001" + kLfCr + "  Update version is: 2.0",
        "Parsing XML tag: Instructions",
        "Adding files into the update list: a.txt",
        "A new update is available for: ",
        "XML Information: " + kLfCr + "A new update is available for: TestApp!" + kLfCr + "\r\n" +
            kLfCr + "Press \"OK\" to update TestApp or press \"Abort\".",
        "Creating Updates/ folder.",
        "Creating Backup/ folder.",
        "Creating " + Updater.RunBackupFolder().toStdString() + " folder. --> OK.",
        "Trying to download: " + Url("a.txt") + "  To: ApplicationFolder/Updates/a.txt",
        "BINDSTATUS_ENDDOWNLOADDATA" + kLfCr + "Downloading " + Url("a.txt") +
            "  To: ApplicationFolder/Updates/a.txt was successful.",
        "The File " + (App + "/Updates/").toStdString() + "a.txt" + kLfCr +
            " --> has been copied to: " + (App + "/").toStdString() + "a.txt",
        kSuccess,
        "Cleaning unnecessary files. ",
        "File deleted: " + (App + "/Updates/a.txt").toStdString(),
        "Folder deleted: " + (App + "/Updates/").toStdString(),
    };
    size_t at = 0;
    for (const std::string& entry : expectedInOrder) {
        const size_t found = log.find(entry + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << entry;
        at = found + entry.size();
    }
    // An entry: its date and time line, the message, an empty line.
    const size_t message = log.find("\r\nInitializing the updater.\r\n\r\n");
    ASSERT_NE(message, std::string::npos);
    const size_t dateLine = log.rfind("\r\n", message - 1);
    ASSERT_NE(dateLine, std::string::npos);
    const std::string date = log.substr(dateLine + 2, message - dateLine - 2);
    EXPECT_FALSE(date.empty());
    EXPECT_NE(date.find_first_of("0123456789"), std::string::npos) << date;
    // A notification: five lines, code and text, progress, status, empty, name.
    EXPECT_NE(log.find("[ 6]:: " + Url("a.txt") + " - 100:100\r\nProgress: 100:  100\r\nStatus: " +
                       Url("a.txt") + "\r\n\r\nBINDSTATUS_ENDDOWNLOADDATA"),
              std::string::npos);
}

// A declined restart keeps the updates folder; the next run reuses its files
// only when it is for the same published version, and otherwise downloads
// every listed file afresh, so that no file of an older update is installed.
TEST_F(ServedRunTest, FileLeftInTheUpdatesFolderIsReusedOnlyForTheSameVersion) {
    struct Case {
        const char* SecondVersion;
        bool Reused;
    };
    const Case cases[] = {{"2.0", true}, {"2", true}, {"3.0", false}, {"1.5", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.SecondVersion);
        QDir(App).removeRecursively();
        QDir().mkpath(App);
        Publish("a.txt", "a of 2.0");
        Publish("r.bin", "r of 2.0");
        PublishManifest(
            "2.0", {{"a.txt", "ApplicationFolder", "no"}, {"r.bin", "ApplicationFolder", "yes"}});
        Answers = {false};
        TWebUpdater first;
        Configure(first);
        first.RunUpdate();
        ASSERT_EQ(ReadFile(App + "/Updates/r.bin"), "r of 2.0");

        Publish("a.txt", "a of the second run");
        Publish("r.bin", "r of the second run");
        PublishManifest(c.SecondVersion, {{"a.txt", "ApplicationFolder", "no"},
                                          {"r.bin", "ApplicationFolder", "yes"}});
        const size_t requestsBefore = Http.Requests().size();
        Answers = {false};
        TWebUpdater second; // the next start of the program
        Configure(second);
        second.DeleteLogOnComplete = false;
        second.RunUpdate();

        const std::vector<TRecordedRequest> requests(Http.Requests().begin() + requestsBefore,
                                                     Http.Requests().end());
        const bool downloaded = std::any_of(requests.begin(), requests.end(), [](const auto& r) {
            return r.Path == "/update/a.txt" || r.Path == "/update/r.bin";
        });
        EXPECT_EQ(downloaded, !c.Reused);
        const QByteArray a = c.Reused ? "a of 2.0" : "a of the second run";
        const QByteArray r = c.Reused ? "r of 2.0" : "r of the second run";
        EXPECT_EQ(ReadFile(App + "/a.txt"), a);
        EXPECT_EQ(ReadFile(App + "/Updates/r.bin"), r);
        EXPECT_EQ(
            Log().find("File name: a.txt already exists in Updates/ folder. (OverWriting.)\r\n") !=
                std::string::npos,
            c.Reused);
    }
}

// Paths stay Unicode: a folder name GBK cannot write is no obstacle.
TEST_F(ServedRunTest, ProgramFolderNamedWithACharacterGbkLacksIsUpdated) {
    const QString folder = Root + QString::fromUtf8("/łukasz/app");
    QDir().mkpath(folder);
    Updater.ProgramPath = folder + "/TavirelBrisvane";
    WriteFile(folder + "/a.txt", "old a");
    Publish("a.txt", "new a");
    Publish("r.bin", "new r");
    PublishManifest("2.0", {{"a.txt", "ApplicationFolder", "no"}, {"r.bin", "Data", "yes"}});
    Answers = {true};

    Updater.RunUpdate();

    EXPECT_EQ(Statuses.back(), kSuccess);
    EXPECT_EQ(ReadFile(folder + "/a.txt"), "new a");
    EXPECT_EQ(ReadFile(folder + "/Updates/r.bin"), "new r");
    EXPECT_EQ(FolderEntries(folder + "/Backup").size(), 1u);
    const QString script = folder + "/TavirelBrisvane.sh";
    ASSERT_EQ(StartedScripts, std::vector<std::string>{script.toStdString()});
    const std::string text = ReadFile(script).toStdString();
    const std::string app = folder.toStdString();
    EXPECT_NE(text.find("cp -fT -- '" + app + "/Updates/r.bin' '" + app + "/Data/r.bin'"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("cd '" + app + "/' "), std::string::npos) << text;
}

// A program installed where its user cannot write. /proc takes no new file,
// not even from root, whom the permission bits would let through.
TEST_F(ServedRunTest, RunThatCannotWriteSaysSoBeforeDownloadingAnything) {
    struct Case {
        const char* Label;
        bool ProgramFolderUnwritable; // otherwise one destination is
    };
    const Case cases[] = {{"ProgramFolder", true}, {"Destination", false}};
    Publish("a.txt", "new a");
    Publish("f.bin", "new f");
    PublishManifest("2.0", {{"a.txt", "ApplicationFolder", "no"}, {"f.bin", "Data", "no"}});
    ASSERT_TRUE(QFile::link("/proc", Root + "/installed"));
    ASSERT_TRUE(QFile::link("/proc", App + "/Data"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        TWebUpdater updater;
        Configure(updater);
        std::vector<std::string> errors;
        updater.OnError = [&](const std::string& text) { errors.push_back(text); };
        const QString program = c.ProgramFolderUnwritable ? Root + "/installed" : App;
        updater.ProgramPath = program + "/TavirelBrisvane";
        const size_t requestsBefore = Http.Requests().size();

        EXPECT_NO_THROW(updater.RunUpdate());

        const QString folder = c.ProgramFolderUnwritable ? program : App + "/Data";
        const std::string message = kErrorMessage +
                                    " trying to write into the folder! Nothing was updated." +
                                    kLfCr + folder.toStdString();
        ASSERT_FALSE(Statuses.empty());
        EXPECT_EQ(Statuses.back(), message);
        EXPECT_EQ(errors, std::vector<std::string>{message});
        std::vector<QByteArray> requested;
        for (size_t i = requestsBefore; i < Http.Requests().size(); ++i)
            requested.push_back(Http.Requests()[i].Path);
        EXPECT_EQ(requested, c.ProgramFolderUnwritable
                                 ? std::vector<QByteArray>{}
                                 : std::vector<QByteArray>{"/update/Update.xml"});
        EXPECT_EQ(FolderEntries(App), std::vector<std::string>{"Data"}) << "nothing installed";
        EXPECT_FALSE(updater.Busy());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(ServedRunTest, ManifestWithoutFileElementsCancelsTheRun) {
    Publish("Update.xml", QByteArray::fromStdString(ManifestXml("2.0", {}, false)));

    Updater.RunUpdate();

    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), Cancelled());
    EXPECT_FALSE(Exists(App + "/Update.xml"));
    EXPECT_FALSE(Exists(App + "/Updates"));
    EXPECT_FALSE(Updater.Busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ServedRunTest, FailedManifestDownloadIsReportedAndCancelsTheRun) {
    Http.SetBehaviour("/update/Update.xml", {TLocalHttpServer::Mode::Status, 500});

    Updater.RunUpdate();

    EXPECT_TRUE(HasStatus(DownloadFailed("Update.xml")));
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), Cancelled());
    EXPECT_FALSE(Exists(App + "/Update.xml"));
}

TEST_F(ServedRunTest, TerminateOtherThanYesOrNoIsIgnored) {
    Publish("x.txt", "x");
    Publish("y.txt", "y");
    PublishManifest(
        "2.0", {{"x.txt", "ApplicationFolder", "maybe"}, {"y.txt", "ApplicationFolder", "no"}});

    Updater.RunUpdate();

    EXPECT_FALSE(Http.WasRequested("/update/x.txt"));
    EXPECT_FALSE(Exists(App + "/x.txt"));
    EXPECT_EQ(ReadFile(App + "/y.txt"), "y");
    EXPECT_EQ(Updater.NormalFiles().size(), 1u);
    EXPECT_TRUE(Updater.RestartFiles().empty());
}

TEST_F(ServedRunTest, FailedFileDownloadIsReportedAndTheRunGoesOn) {
    Publish("b.txt", "b");
    PublishManifest(
        "2.0", {{"missing.txt", "ApplicationFolder", "no"}, {"b.txt", "ApplicationFolder", "no"}});

    Updater.RunUpdate();

    EXPECT_TRUE(HasStatus(DownloadFailed("missing.txt")));
    EXPECT_TRUE(
        HasStatus(kErrorMessage + " trying to locate the source folder!" + kLfCr + "missing.txt"));
    EXPECT_FALSE(Exists(App + "/missing.txt"));
    EXPECT_EQ(ReadFile(App + "/b.txt"), "b");
    EXPECT_EQ(Statuses.back(), kSuccess);
}

TEST_F(ServedRunTest, DownloadBoundsStrikeAsFailedDownloads) {
    Updater.DownloadBounds.IdleMs = 300;
    Updater.DownloadBounds.WholeMs = 600;
    Publish("slow.txt", "slow");
    Publish("cut.txt", "cut");
    Publish("ok.txt", "ok");
    Http.SetBehaviour("/update/drip.txt", {TLocalHttpServer::Mode::Drip, 200, 50});
    Http.SetBehaviour("/update/silent.txt", {TLocalHttpServer::Mode::Silent});
    Http.SetBehaviour("/update/slow.txt", {TLocalHttpServer::Mode::Delay, 200, 3000});
    Http.SetBehaviour("/update/cut.txt", {TLocalHttpServer::Mode::Cut});
    PublishManifest("2.0", {{"drip.txt", "ApplicationFolder", "no"},
                            {"silent.txt", "ApplicationFolder", "no"},
                            {"slow.txt", "ApplicationFolder", "no"},
                            {"cut.txt", "ApplicationFolder", "no"},
                            {"ok.txt", "ApplicationFolder", "no"}});
    Updater.DeleteUpdatesOnComplete = false;
    Updater.DeleteLogOnComplete = false;

    QElapsedTimer clock;
    clock.start();
    Updater.RunUpdate();

    EXPECT_LT(clock.elapsed(), 5000);
    // drip.txt never idles but outlasts the whole-download bound.
    for (const char* name : {"drip.txt", "silent.txt", "slow.txt", "cut.txt"}) {
        EXPECT_TRUE(HasStatus(DownloadFailed(name))) << name;
        EXPECT_FALSE(Exists(App + "/Updates/" + name)) << "no partial file of " << name;
        EXPECT_FALSE(Exists(App + "/" + name)) << name;
    }
    EXPECT_EQ(ReadFile(App + "/ok.txt"), "ok");
    EXPECT_NE(Log().find("Download failed: " + Url("drip.txt") +
                         "  (the download took longer than its time bound)"),
              std::string::npos);
}

TEST_F(ServedRunTest, DecliningTheRestartKeepsTheUpdatesFolderAndDeletesLogAndManifest) {
    WriteFile(App + "/r.bin", "old r");
    Publish("r.bin", "new r");
    Publish("a.txt", "new a");
    PublishManifest("2.0",
                    {{"r.bin", "ApplicationFolder", "yes"}, {"a.txt", "ApplicationFolder", "no"}});
    Answers = {false};

    Updater.RunUpdate();

    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Questions[0], "Some of the updates require a restart. " + kLfCr +
                                "Press \"Yes\" to restart now, or press \"Abort\" to run the "
                                "updates checking later.");
    EXPECT_EQ(Statuses.back(), "Aborted! (User request).");
    EXPECT_EQ(ReadFile(App + "/Updates/r.bin"), "new r");
    EXPECT_EQ(ReadFile(App + "/r.bin"), "old r");
    EXPECT_EQ(ReadFile(App + "/a.txt"), "new a");
    EXPECT_FALSE(Exists(App + "/Updater.txt"));
    EXPECT_FALSE(Exists(App + "/Update.xml"));
    EXPECT_TRUE(StartedScripts.empty());
    EXPECT_EQ(QuitCalls, 0);
    EXPECT_TRUE(Updater.RestartPending());
}

TEST_F(ServedRunTest, AcceptingTheRestartWritesAndStartsTheScriptAndAsksToQuit) {
    WriteFile(App + "/r.bin", "old r");
    Publish("r.bin", "new r");
    Publish("p.bin", "new p");
    PublishManifest("2.0", {{"r.bin", "ApplicationFolder", "yes"}, {"p.bin", "Plugins", "yes"}});
    Answers = {true};

    Updater.RunUpdate();

    const QString script = App + "/TavirelBrisvane.sh";
    ASSERT_EQ(StartedScripts, std::vector<std::string>{script.toStdString()});
    EXPECT_EQ(QuitCalls, 1);
    EXPECT_EQ(Statuses.back(), kSuccess);
    EXPECT_EQ(ReadFile(BackupFolder() + "r.bin"), "old r");
    EXPECT_EQ(ReadFile(App + "/r.bin"), "old r") << "replaced only by the script";
    EXPECT_EQ(ReadFile(App + "/Updates/r.bin"), "new r") << "the script needs the folder";
    const std::string text = ReadFile(script).toStdString();
    EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("while kill -0 999999 "), std::string::npos);
    const std::string app = App.toStdString();
    // Each copy is checked; a failed one puts the backup back.
    EXPECT_NE(text.find("cp -fT -- '" + app + "/Updates/r.bin' '" + app + "/r.bin' && cmp -s -- '" +
                        app + "/Updates/r.bin' '" + app + "/r.bin'; then"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("cp -fT -- '" + app + "/" + Updater.RunBackupFolder().toStdString() +
                        "r.bin' '" + app + "/r.bin'"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("mkdir -p -- '" + app + "/Plugins' && "), std::string::npos) << text;
    EXPECT_NE(text.find("'" + app + "/TavirelBrisvane' &"), std::string::npos) << text;
    EXPECT_NE(text.find("rm -rf -- '" + app + "/Updates/'"), std::string::npos) << text;
    EXPECT_NE(text.find("rm -f -- '" + app + "/TavirelBrisvane.sh'"), std::string::npos) << text;
}

TEST_F(ServedRunTest, ScriptThatCannotStartEndsTheRunWithAnError) {
    Publish("r.bin", "new r");
    PublishManifest("2.0", {{"r.bin", "ApplicationFolder", "yes"}});
    Answers = {true};
    StartSucceeds = false;

    EXPECT_THROW(Updater.RunUpdate(), TUpdateError);
    EXPECT_EQ(QuitCalls, 0);
    EXPECT_FALSE(Updater.Busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ServedRunTest, PublishedVersionNotNewerEndsWithoutDownloads) {
    Updater.AppCurrentVer = 3;
    Publish("a.txt", "a");
    PublishManifest("2.5", {{"a.txt", "ApplicationFolder", "no"}});

    Updater.RunUpdate();

    EXPECT_FALSE(Http.WasRequested("/update/a.txt"));
    ASSERT_GE(Statuses.size(), 2u);
    EXPECT_EQ(Statuses[Statuses.size() - 2], "Your application is up to date.");
    EXPECT_EQ(Statuses.back(), "There are no new available updates. ");
}

TEST_F(ServedRunTest, RunShowsItsCaptionAndCursorAndRestoresThem) {
    QWidget mainWindow;
    mainWindow.setWindowTitle("Main");
    Updater.MainWindow = &mainWindow;
    QString captionDuring;
    bool cursorDuring = false;
    Updater.OnChangeText = [&](const std::string& text) {
        if (text == "Checking for Updates") {
            captionDuring = mainWindow.windowTitle();
            cursorDuring = QApplication::overrideCursor() != nullptr;
        }
    };
    Publish("a.txt", "a");
    PublishManifest("2.0", {{"a.txt", "ApplicationFolder", "no"}});

    Updater.RunUpdate();

    EXPECT_EQ(captionDuring, QString::fromUtf8("正在更新中，请稍等..."));
    EXPECT_TRUE(cursorDuring);
    EXPECT_EQ(mainWindow.windowTitle(), "Main");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- Versions the run cannot read --------------------------------------------------------

class BadVersionTest : public ServedRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadVersionTest, EndsTheRunWithAnErrorButRestoresCursorCaptionAndBusy) {
    QWidget mainWindow;
    mainWindow.setWindowTitle("Main");
    Updater.MainWindow = &mainWindow;
    Publish("a.txt", "a");
    PublishManifest(GetParam(), {{"a.txt", "ApplicationFolder", "no"}});

    EXPECT_THROW(Updater.RunUpdate(), TUpdateError);

    EXPECT_FALSE(Updater.Busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(mainWindow.windowTitle(), "Main");
    EXPECT_FALSE(Http.WasRequested("/update/a.txt"));
}

INSTANTIATE_TEST_SUITE_P(NotANumberOrTooManyDecimals, BadVersionTest,
                         ::testing::Values("abc", "2.0005", "1,5", "", "3000000"));

TEST(VersionNumbers, WholeNumberOfThousandthsOrAnError) {
    struct Case {
        const char* Text;
        std::optional<int> Expected; // none: an error
    };
    const Case cases[] = {{"1.5", 1500},
                          {"1.001", 1001},
                          {"0.001", 1},
                          {"100000", 100000000},
                          {"2", 2000},
                          {"-1", -1000},
                          {"1.0005", std::nullopt},
                          {"1e400", std::nullopt},
                          {"x", std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        if (!c.Expected) {
            EXPECT_THROW(webupdater::VersionToWholeNumber(webupdater::ParseVersionText(c.Text)),
                         TUpdateError);
        } else {
            EXPECT_EQ(webupdater::VersionToWholeNumber(webupdater::ParseVersionText(c.Text)),
                      *c.Expected);
        }
    }
}

// --- Entries the run refuses -------------------------------------------------------------

struct RefusalCase {
    const char* Label;
    std::string NameAttribute; // as written in the XML
    std::string DestinationAttribute;
    std::string Terminate;
    std::string ReportedName; // the name as the run reads it
};

class RefusalTest : public ServedRunTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, UnsafeEntryIsReportedAndNeverDownloadedCopiedOrScripted) {
    const RefusalCase& c = GetParam();
    Updater.DeleteLogOnComplete = false;
    Publish("ok.txt", "ok");
    PublishManifest("2.0", {{c.NameAttribute, c.DestinationAttribute, c.Terminate},
                            {"ok.txt", "ApplicationFolder", "no"}});
    Answers = {true};

    Updater.RunUpdate();

    EXPECT_TRUE(HasStatus(Refused(c.ReportedName)));
    EXPECT_NE(Log().find("Refused file entry"), std::string::npos);
    for (const TRecordedRequest& request : Http.Requests())
        EXPECT_TRUE(request.Path == "/update/Update.xml" || request.Path == "/update/ok.txt")
            << request.Path.toStdString();
    EXPECT_EQ(ReadFile(App + "/ok.txt"), "ok");
    EXPECT_TRUE(Questions.empty()) << "no restart file is left";
    EXPECT_FALSE(Exists(App + "/TavirelBrisvane.sh"));
    EXPECT_EQ(FolderEntries(Root), (std::vector<std::string>{"app", "server"}));
    EXPECT_EQ(Statuses.back(), kSuccess);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RefusalTest,
    ::testing::Values(
        RefusalCase{"ParentFolder", "../evil.txt", "ApplicationFolder", "no", "../evil.txt"},
        RefusalCase{"BackslashParent", "..\\..\\evil.txt", "ApplicationFolder", "no",
                    "../../evil.txt"},
        RefusalCase{"Absolute", "/tmp/evil.txt", "ApplicationFolder", "no", "/tmp/evil.txt"},
        RefusalCase{"Dollar", "a$(id).txt", "ApplicationFolder", "yes", "a$(id).txt"},
        RefusalCase{"Backquote", "a`id`.txt", "ApplicationFolder", "yes", "a`id`.txt"},
        RefusalCase{"Semicolon", "a;b.txt", "ApplicationFolder", "yes", "a;b.txt"},
        RefusalCase{"Ampersand", "a&amp;b.txt", "ApplicationFolder", "yes", "a&b.txt"},
        RefusalCase{"Pipe", "a|b.txt", "ApplicationFolder", "yes", "a|b.txt"},
        RefusalCase{"Less", "a&lt;b.txt", "ApplicationFolder", "yes", "a<b.txt"},
        RefusalCase{"Greater", "a&gt;b.txt", "ApplicationFolder", "yes", "a>b.txt"},
        RefusalCase{"DoubleQuote", "a&quot;b.txt", "ApplicationFolder", "yes", "a\"b.txt"},
        RefusalCase{"SingleQuote", "a'b.txt", "ApplicationFolder", "yes", "a'b.txt"},
        RefusalCase{"Newline", "a&#10;b.txt", "ApplicationFolder", "yes", "a\nb.txt"},
        RefusalCase{"Tab", "a&#9;b.txt", "ApplicationFolder", "no", "a\tb.txt"},
        RefusalCase{"DestinationParent", "d1.txt", "../outside", "no", "d1.txt"},
        RefusalCase{"DestinationBackslashParent", "d2.txt", "Data\\..\\..\\x", "no", "d2.txt"},
        RefusalCase{"DestinationAbsolute", "d3.txt", "/tmp", "yes", "d3.txt"},
        RefusalCase{"DestinationEmpty", "d4.txt", "", "no", "d4.txt"},
        RefusalCase{"DestinationDollar", "d5.txt", "$HOME", "yes", "d5.txt"},
        RefusalCase{"DestinationSemicolon", "d6.txt", "x;rm", "yes", "d6.txt"},
        // A name is used as read, by the check, the install and the script
        // alike: one that a trim would change is refused.
        RefusalCase{"NoBreakSpaceAtTheEnd", "r.bin&#xA0;", "ApplicationFolder", "yes",
                    Utf8ToGbk("r.bin\u00A0")},
        RefusalCase{"IdeographicSpaceAtTheStart", "&#x3000;r.bin", "ApplicationFolder", "no",
                    Utf8ToGbk("\u3000r.bin")},
        RefusalCase{"EnSpaceEndingAFolder", "sub&#x2002;/r.bin", "ApplicationFolder", "yes",
                    Utf8ToGbk("sub\u2002/r.bin")},
        RefusalCase{"ZeroWidthSpaceInside", "r&#x200B;.bin", "ApplicationFolder", "yes",
                    Utf8ToGbk("r\u200B.bin")},
        RefusalCase{"DestinationEndingInANoBreakSpace", "d7.txt", "Data&#xA0;", "yes", "d7.txt"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.Label; });

// --- Digests -----------------------------------------------------------------------------

const QByteArray kPublishedBytes = "the published bytes";

std::string DigestAttribute(const std::string& value) {
    return "Sha256=\"" + value + "\"";
}

std::string ToUpper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

struct DigestCase {
    const char* Label;
    std::string Attribute; // the Sha256 attribute as written; "" for none
    bool Required;         // App/RequireSha256
    std::string Terminate;
    bool Downloaded;
    bool Installed;
};

class DigestTest : public ServedRunTest, public ::testing::WithParamInterface<DigestCase> {};

TEST_P(DigestTest, FileIsInstalledOnlyWithTheDigestTheManifestGivesIt) {
    const DigestCase& c = GetParam();
    Updater.RequireSha256 = c.Required;
    Updater.DeleteLogOnComplete = false;
    Publish("f.bin", kPublishedBytes);
    Publish("ok.txt", "ok");
    PublishManifest("2.0",
                    {{"f.bin", "ApplicationFolder", c.Terminate, c.Attribute},
                     {"ok.txt", "ApplicationFolder", "no", DigestAttribute(Sha256Of("ok"))}});
    Answers = {true};

    Updater.RunUpdate();

    EXPECT_EQ(Http.WasRequested("/update/f.bin"), c.Downloaded);
    EXPECT_EQ(ReadFile(App + "/ok.txt"), "ok") << "the run goes on with the other files";
    EXPECT_EQ(Statuses.back(), kSuccess);
    EXPECT_EQ(HasStatus(Refused("f.bin")), !c.Installed);
    const std::string script = ReadFile(App + "/TavirelBrisvane.sh").toStdString();
    if (!c.Installed) {
        EXPECT_NE(Log().find("Refused file entry ("), std::string::npos);
        EXPECT_FALSE(Exists(App + "/f.bin"));
        EXPECT_FALSE(Exists(App + "/Updates/f.bin")) << "a later run must not reuse it";
        EXPECT_EQ(script.find("f.bin"), std::string::npos) << script;
        EXPECT_TRUE(Questions.empty());
    } else if (c.Terminate == "yes") {
        EXPECT_NE(script.find("/Updates/f.bin' '"), std::string::npos) << script;
    } else {
        EXPECT_EQ(ReadFile(App + "/f.bin"), kPublishedBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sha256, DigestTest,
    ::testing::Values(
        DigestCase{"Match", DigestAttribute(Sha256Of(kPublishedBytes)), false, "no", true, true},
        DigestCase{"MatchInUpperCaseRequiredRestart",
                   DigestAttribute(ToUpper(Sha256Of(kPublishedBytes))), true, "yes", true, true},
        DigestCase{"MatchWithBlanksAround", DigestAttribute("  " + Sha256Of(kPublishedBytes) + " "),
                   true, "no", true, true},
        DigestCase{"Mismatch", DigestAttribute(Sha256Of("other bytes")), false, "no", true, false},
        DigestCase{"MismatchRestart", DigestAttribute(Sha256Of("other bytes")), true, "yes", true,
                   false},
        DigestCase{"MissingNotRequired", "", false, "no", true, true},
        DigestCase{"MissingRequired", "", true, "no", false, false},
        DigestCase{"MissingRequiredRestart", "", true, "yes", false, false},
        DigestCase{"MalformedShort", DigestAttribute("abc123"), false, "no", false, false},
        DigestCase{"MalformedNotHex",
                   DigestAttribute(Sha256Of(kPublishedBytes).substr(0, 63) + "g"), false, "yes",
                   false, false},
        DigestCase{"MalformedLong", DigestAttribute(Sha256Of(kPublishedBytes) + "0"), false, "no",
                   false, false},
        DigestCase{"MalformedEmpty", DigestAttribute(""), false, "no", false, false}),
    [](const ::testing::TestParamInfo<DigestCase>& info) { return info.param.Label; });

// --- How a download ends ------------------------------------------------------------------

constexpr int kWhole = 200000;

struct DownloadEndCase {
    const char* Label;
    std::function<void(QTcpSocket&, int attempt)> Respond;
    bool Installed;
};

class DownloadEndTest : public ServedRunTest,
                        public ::testing::WithParamInterface<DownloadEndCase> {};

TEST_P(DownloadEndTest, OnlyAWholeBodyIsInstalled) {
    Publish("ok.txt", "ok");
    PublishManifest("2.0", {{"f.bin", "ApplicationFolder", "no"},
                            {"r.bin", "ApplicationFolder", "yes"},
                            {"ok.txt", "ApplicationFolder", "no"}});
    for (const char* name : {"/update/f.bin", "/update/r.bin"})
        Http.SetBehaviour(name, {TLocalHttpServer::Mode::Answer, 200, 0, GetParam().Respond});
    Answers = {true};
    Updater.DeleteLogOnComplete = false;

    Updater.RunUpdate();

    const std::string script = ReadFile(App + "/TavirelBrisvane.sh").toStdString();
    EXPECT_EQ(ReadFile(App + "/ok.txt"), "ok");
    if (GetParam().Installed) {
        EXPECT_EQ(ReadFile(App + "/f.bin"), Body(kWhole));
        EXPECT_EQ(ReadFile(App + "/Updates/r.bin"), Body(kWhole));
        EXPECT_NE(script.find("/Updates/r.bin"), std::string::npos) << script;
        return;
    }
    for (const char* name : {"f.bin", "r.bin"}) {
        EXPECT_TRUE(HasStatus(DownloadFailed(name))) << name << "\n" << Log();
        EXPECT_FALSE(Exists(App + "/" + name)) << name;
        EXPECT_FALSE(Exists(App + "/Updates/" + name)) << name;
    }
    EXPECT_EQ(script.find("r.bin"), std::string::npos) << script;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DownloadEndTest,
    ::testing::Values(
        DownloadEndCase{"Whole", [](QTcpSocket& s, int) { Send(s, Head(kWhole) + Body(kWhole)); },
                        true},
        DownloadEndCase{"WholeChunked",
                        [](QTcpSocket& s, int) {
                            const QByteArray body = Body(kWhole);
                            Send(s, kChunkedHead + Chunk(body.left(5000)) + Chunk(body.mid(5000)) +
                                        "0\r\n\r\n");
                        },
                        true},
        DownloadEndCase{
            "Short", [](QTcpSocket& s, int) { Send(s, Head(kWhole) + Body(kWhole / 2)); }, false},
        DownloadEndCase{"ShortOnAKeptConnection",
                        [](QTcpSocket& s, int) { Send(s, Head(kWhole, false) + Body(kWhole / 2)); },
                        false},
        // Bytes past the announced length mean the server and its
        // Content-Length disagree about the file: neither is trusted.
        DownloadEndCase{"BytesPastTheAnnouncedLength",
                        [](QTcpSocket& s, int) { Send(s, Head(kWhole) + Body(kWhole + 1000)); },
                        false},
        DownloadEndCase{"ChunkedWithoutItsLastChunk",
                        [](QTcpSocket& s, int) {
                            const QByteArray body = Body(kWhole);
                            Send(s, kChunkedHead + Chunk(body.left(5000)) + Chunk(body.mid(5000)));
                        },
                        false},
        DownloadEndCase{"Reset",
                        [](QTcpSocket& s, int) { Send(s, Head(kWhole) + Body(kWhole / 2), true); },
                        false},
        DownloadEndCase{"ShortThenClosedLater",
                        [](QTcpSocket& s, int) { SendThenEnd(s, Head(kWhole) + Body(kWhole / 2)); },
                        false},
        DownloadEndCase{
            "ShortThenResetLater",
            [](QTcpSocket& s, int) { SendThenEnd(s, Head(kWhole) + Body(kWhole / 2), true); },
            false},
        DownloadEndCase{"RetriedForTheRestClosedLater",
                        [](QTcpSocket& s, int attempt) {
                            const QByteArray body = Body(kWhole);
                            SendThenEnd(s,
                                        Head(kWhole) + (attempt % 2 == 1 ? body.left(kWhole / 2)
                                                                         : body.mid(kWhole / 2)));
                        },
                        false},
        // A retry that sends the rest would add up to the announced length.
        DownloadEndCase{"RetriedForTheRest",
                        [](QTcpSocket& s, int attempt) {
                            const QByteArray body = Body(kWhole);
                            Send(s, Head(kWhole) + (attempt % 2 == 1 ? body.left(kWhole / 2)
                                                                     : body.mid(kWhole / 2)));
                        },
                        false},
        DownloadEndCase{"RetriedInFull",
                        [](QTcpSocket& s, int attempt) {
                            const QByteArray body = Body(kWhole);
                            Send(s,
                                 Head(kWhole) + (attempt % 2 == 1 ? body.left(kWhole / 2) : body));
                        },
                        false}),
    [](const ::testing::TestParamInfo<DownloadEndCase>& info) { return info.param.Label; });

// Cut at random points, closed or reset, a retry sending the rest: never a
// file in place. The seed is shown so that a failure can be repeated.
TEST(DownloadCuts, NoCutOffBodyIsEverPutInPlace) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    TLocalHttpServer http(temp.path());
    ASSERT_TRUE(http.Start());
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    constexpr int kSize = 30000;
    const QByteArray body = Body(kSize);
    for (int round = 0; round < 150; ++round) {
        const int cut = std::uniform_int_distribution<int>(0, kSize - 1)(random);
        const bool reset = random() % 2 == 0;
        const bool keepAlive = random() % 2 == 0;
        const bool late = random() % 3 == 0;
        const QByteArray path = "/cut" + QByteArray::number(round);
        http.SetBehaviour(path, {TLocalHttpServer::Mode::Answer, 200, 0,
                                 [&, cut, reset, keepAlive, late](QTcpSocket& s, int attempt) {
                                     // A retry is sent the rest, as if resumed.
                                     const QByteArray bytes =
                                         Head(kSize, !keepAlive) +
                                         (attempt == 1 ? body.left(cut) : body.mid(cut));
                                     if (late)
                                         SendThenEnd(s, bytes, reset && attempt == 1, 20);
                                     else
                                         Send(s, bytes, reset && attempt == 1);
                                 }});
        const QString target = temp.path() + "/got.bin";
        THttpRequest request;
        request.Url = QUrl(http.BaseUrl() + QString::fromLatin1(path));
        request.Bounds.IdleMs = 2000;
        request.Bounds.WholeMs = 5000;
        const THttpResult result = HttpGetToFile(request, target);
        ASSERT_FALSE(result.Ok) << "round " << round << " cut at " << cut << " reset " << reset
                                << " kept " << keepAlive << " late " << late;
        ASSERT_FALSE(Exists(target)) << "round " << round;
    }
}

// --- Addresses ---------------------------------------------------------------------------

TEST_F(ServedRunTest, EachSegmentOfAFileNameIsPercentEncodedInItsAddress) {
    const std::vector<std::string> names = {"gl*ob?.bin", "hash#tag.bin",  "%41.bin",
                                            "sp ace.bin", "sub/q?x#y.bin", "億刓.txt"};
    std::vector<TFileLine> lines;
    for (const std::string& name : names) {
        Publish(QString::fromStdString(name), QByteArray::fromStdString("bytes of " + name));
        lines.push_back({name, "ApplicationFolder", "no"});
    }
    PublishManifest("2.0", lines);

    Updater.RunUpdate();

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto request = std::find_if(
            Http.Requests().begin(), Http.Requests().end(), [&](const TRecordedRequest& r) {
                return r.Path == QByteArray::fromStdString("/update/" + name);
            });
        ASSERT_NE(request, Http.Requests().end()) << "requested under its own name";
        for (const char c : {'?', '#', ' '})
            EXPECT_FALSE(request->RawPath.contains(c)) << request->RawPath.toStdString();
        EXPECT_EQ(ReadFile(App + "/" + QString::fromStdString(name)).toStdString(),
                  "bytes of " + name);
    }
}

// --- Size bounds -------------------------------------------------------------------------

// Keeps the socket's queue filled for as long as the client reads.
void SendEndlessly(QTcpSocket& socket, const QByteArray& head) {
    socket.write(head);
    auto feed = [&socket] {
        if (socket.bytesToWrite() < 1024 * 1024)
            socket.write(QByteArray(256 * 1024, '<'));
    };
    QObject::connect(&socket, &QTcpSocket::bytesWritten, &socket, feed);
    feed();
}

const QByteArray kUnannouncedHead = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";

struct SizeCase {
    const char* Label;
    std::string SizeAttribute; // written after Terminate
    std::function<void(QTcpSocket&, int)> Respond;
    std::optional<std::int64_t> BoundReported; // none: installed
};

class SizeBoundTest : public ServedRunTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeBoundTest, FileLargerThanItsBoundIsReportedByNameAndNotInstalled) {
    const SizeCase& c = GetParam();
    Publish("ok.txt", "ok");
    PublishManifest("2.0", {{"f.bin", "ApplicationFolder", "no", c.SizeAttribute},
                            {"ok.txt", "ApplicationFolder", "no"}});
    Http.SetBehaviour("/update/f.bin", {TLocalHttpServer::Mode::Answer, 200, 0, c.Respond});

    Updater.RunUpdate();

    EXPECT_EQ(ReadFile(App + "/ok.txt"), "ok");
    if (!c.BoundReported) {
        EXPECT_EQ(ReadFile(App + "/f.bin"), Body(5000));
        return;
    }
    EXPECT_TRUE(HasStatus(DownloadFailed("f.bin") + kLfCr + "larger than " +
                          std::to_string(*c.BoundReported) + " bytes"));
    EXPECT_FALSE(Exists(App + "/f.bin"));
    EXPECT_FALSE(Exists(App + "/Updates/f.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SizeBoundTest,
    ::testing::Values(
        SizeCase{"WithinItsSize", "Size=\"5000\"",
                 [](QTcpSocket& s, int) { Send(s, Head(5000) + Body(5000)); }, std::nullopt},
        SizeCase{"OneByteAboveItsSize", "Size=\"4999\"",
                 [](QTcpSocket& s, int) { Send(s, Head(5000) + Body(5000)); }, 4999},
        SizeCase{"UnannouncedAboveItsSize", "Size=\"4999\"",
                 [](QTcpSocket& s, int) { Send(s, kUnannouncedHead + Body(5000)); }, 4999},
        SizeCase{"EndlessWithASize", "Size=\"100000\"",
                 [](QTcpSocket& s, int) { SendEndlessly(s, kUnannouncedHead); }, 100000},
        // Refused before a byte is written: the default bound is 512 MiB.
        SizeCase{"AnnouncedAboveTheDefaultBound", "",
                 [](QTcpSocket& s, int) { SendEndlessly(s, Head(513LL * 1024 * 1024)); },
                 512LL * 1024 * 1024}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.Label; });

TEST_F(ServedRunTest, SizeThatIsNotAWholeNumberOfBytesIsRefused) {
    for (const char* size : {"-1", "1.5", "12kB", "", "99999999999999999999"}) {
        SCOPED_TRACE(size);
        Statuses.clear();
        Publish("f.bin", "f");
        PublishManifest(
            "2.0", {{"f.bin", "ApplicationFolder", "no", std::string("Size=\"") + size + "\""}});
        TWebUpdater updater;
        Configure(updater);
        updater.RunUpdate();
        EXPECT_TRUE(HasStatus(Refused("f.bin")));
        EXPECT_FALSE(Exists(App + "/f.bin"));
    }
}

TEST_F(ServedRunTest, EndlessManifestIsCutAtItsBoundAndCancelsTheRun) {
    Http.SetBehaviour("/update/Update.xml",
                      {TLocalHttpServer::Mode::Answer, 200, 0,
                       [](QTcpSocket& s, int) { SendEndlessly(s, kUnannouncedHead); }});

    Updater.RunUpdate();

    EXPECT_TRUE(HasStatus(DownloadFailed("Update.xml") + kLfCr + "larger than 4194304 bytes"));
    EXPECT_EQ(Statuses.back(), Cancelled());
    EXPECT_FALSE(Exists(App + "/Update.xml"));
}

} // namespace
