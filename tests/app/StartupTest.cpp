// Start-up of the desktop program under Xvfb: the update check runs before
// the main window is shown, a newer published version opens the updater
// first, and an unreachable update server costs a message, not the start.
// The program runs as a copy in a temporary folder, since it keeps its
// config.ini and the check's local copy beside itself.

#include "tests/app/XvfbSession.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using xvfbsession::TXvfb;
using xvfbsession::WaitUntil;

// The window captions, as UTF-8.
const QString MainCaption = QStringLiteral("TavirelBrisvane ");
const QString UpdaterCaption = QString::fromUtf8("TavirelBrisvane更新程序");
const QString CheckFailedCaption = QString::fromUtf8("错误");

// The HTTP server answers on a thread of its own: the test blocks on tools
// and polls while the program's check waits for the answer.
class THttpServerThread {
public:
    explicit THttpServerThread(const QString& root) {
        FThread.start();
        FContext.moveToThread(&FThread);
        OnServerThread([&] {
            FServer = std::make_unique<TLocalHttpServer>(root);
            FStarted = FServer->Start();
        });
    }
    ~THttpServerThread() {
        OnServerThread([&] { FServer.reset(); });
        FThread.quit();
        FThread.wait();
    }
    bool Started() const { return FStarted; }
    QString BaseUrl() {
        QString url;
        OnServerThread([&] { url = FServer->BaseUrl(); });
        return url;
    }
    bool WasRequested(const QByteArray& path) {
        bool requested = false;
        OnServerThread([&] { requested = FServer->WasRequested(path); });
        return requested;
    }

private:
    void OnServerThread(const std::function<void()>& action) {
        QMetaObject::invokeMethod(&FContext, action, Qt::BlockingQueuedConnection);
    }

    QThread FThread;
    QObject FContext;
    std::unique_ptr<TLocalHttpServer> FServer;
    bool FStarted = false;
};

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfbsession::XvfbToolsPresent())
            GTEST_SKIP() << "xvfb-run and xdotool are needed";
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(X.Start(Dir.path())) << "Xvfb did not start";
        // A copy, not a link: the program finds its folder from its own
        // resolved path.
        ASSERT_TRUE(QDir(Dir.path()).mkpath("program"));
        ProgramFolder = Dir.path() + "/program";
        ASSERT_TRUE(
            QFile::copy(QString::fromStdString(testpaths::BuildDir() + "/app/tavirelbrisvane"),
                        ProgramFolder + "/tavirelbrisvane"));
    }
    void TearDown() override {
        if (Program.state() != QProcess::NotRunning) {
            Program.kill();
            Program.waitForFinished(5000);
        }
    }

    void StartProgram(const QString& updateUrl) {
        QProcessEnvironment environment = X.Environment();
        environment.insert("TAVIREL_UPDATE_URL", updateUrl);
        environment.insert("TAVIREL_WHOIS_SERVER", "127.0.0.1:9");
        // The process ends without tearing down; leaks are not its concern.
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        Program.setProcessEnvironment(environment);
        Program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Program.start(ProgramFolder + "/tavirelbrisvane", {});
        ASSERT_TRUE(Program.waitForStarted(5000));
    }

    // The program's visible window with this caption; empty when there is none.
    QString VisibleWindow(const QString& caption) {
        const std::optional<QString> ids = X.Run(
            "xdotool", {"search", "--onlyvisible", "--pid", QString::number(Program.processId())});
        if (!ids)
            return {};
        for (const QString& id : ids->split('\n', Qt::SkipEmptyParts)) {
            const std::optional<QString> name = X.Run("xdotool", {"getwindowname", id.trimmed()});
            if (name && name->chopped(name->endsWith('\n') ? 1 : 0) == caption)
                return id.trimmed();
        }
        return {};
    }

    QString AwaitWindow(const QString& caption) {
        QString window;
        WaitUntil([&] { return !(window = VisibleWindow(caption)).isEmpty(); }, 20000);
        return window;
    }

    void CloseWindow(const QString& window) {
        ASSERT_TRUE(X.Run(QString::fromStdString(testpaths::BuildDir() + "/tests/x11-close-window"),
                          {window}));
    }

    // Closes the main window and expects the program to end at once with 0.
    void CloseMainWindowAndExpectTheEnd(const QString& mainWindow) {
        CloseWindow(mainWindow);
        ASSERT_TRUE(Program.waitForFinished(10000)) << "the program did not end with its window";
        EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Program.exitCode(), 0);
    }

    QTemporaryDir Dir;
    TXvfb X;
    QString ProgramFolder;
    QProcess Program;
};

// Without a display the program says in one line what its windows need and
// what works without them, instead of Qt's abort.
TEST(StartupWithoutDisplay, SaysWhatTheWindowsNeedAndEndsWithOne) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QString::fromStdString(testpaths::BuildDir() + "/app/tavirelbrisvane"), {});
    ASSERT_TRUE(program.waitForFinished(20000));

    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const QString said = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("desktop session")) << said.toStdString();
    EXPECT_TRUE(said.contains("xvfb-run")) << said.toStdString();
    EXPECT_TRUE(said.contains("./run ARGS")) << said.toStdString();
    EXPECT_TRUE(said.contains("tavirelbrisvane-cli")) << said.toStdString();
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

TEST_F(StartupTest, ANewerPublishedVersionOpensTheUpdaterBeforeTheMainWindow) {
    ASSERT_TRUE(WriteFile(ProgramFolder + "/config.ini", "[App]\nCurrVer=1.5\n"));
    ASSERT_TRUE(QDir(Dir.path()).mkpath("site/update"));
    ASSERT_TRUE(WriteFile(Dir.path() + "/site/update/update.xml",
                          "<?xml version=\"1.0\"?>\n<Updates><Details><Version>1.6</Version>"
                          "</Details></Updates>\n"));
    THttpServerThread server(Dir.path() + "/site");
    ASSERT_TRUE(server.Started());
    StartProgram(server.BaseUrl());

    const QString updater = AwaitWindow(UpdaterCaption);
    ASSERT_FALSE(updater.isEmpty()) << "the updater window did not appear";
    EXPECT_TRUE(server.WasRequested("/update/update.xml"));
    // Start-up waits in the updater: the main window is not shown yet.
    EXPECT_TRUE(VisibleWindow(MainCaption).isEmpty());

    // Closed without an update: start-up goes on, the offer stands.
    CloseWindow(updater);
    const QString mainWindow = AwaitWindow(MainCaption);
    ASSERT_FALSE(mainWindow.isEmpty()) << "the main window did not appear after the updater";
    EXPECT_TRUE(VisibleWindow(UpdaterCaption).isEmpty());
    EXPECT_EQ(testpaths::ReadFileBytes((ProgramFolder + "/config.ini").toStdString()),
              "[App]\nCurrVer=1.5\n");

    CloseMainWindowAndExpectTheEnd(mainWindow);
}

TEST_F(StartupTest, AnUnreachableUpdateServerShowsTheMessageAndThenTheMainWindow) {
    // A port that was free a moment ago: the connection is refused.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QElapsedTimer clock;
    clock.start();
    StartProgram(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));

    const QString message = AwaitWindow(CheckFailedCaption);
    ASSERT_FALSE(message.isEmpty()) << "the check's failure message did not appear";
    // Seconds at most, even when a bound had to strike.
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_TRUE(VisibleWindow(MainCaption).isEmpty());
    EXPECT_TRUE(VisibleWindow(UpdaterCaption).isEmpty());

    CloseWindow(message);
    const QString mainWindow = AwaitWindow(MainCaption);
    ASSERT_FALSE(mainWindow.isEmpty()) << "the main window did not appear after the message";
    EXPECT_TRUE(VisibleWindow(CheckFailedCaption).isEmpty());

    CloseMainWindowAndExpectTheEnd(mainWindow);
}

} // namespace
