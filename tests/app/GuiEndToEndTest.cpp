// The desktop program as a user meets it: started under Xvfb, driven with
// xdotool clicks and keys against an in-test fake WHOIS server, from the first
// page to a saved free list; and closed while its jobs still run.

#include "tests/app/XvfbSession.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace {

using xvfbsession::TXvfb;
using xvfbsession::WaitUntil;

// Places on the main window, relative to its top-left corner, as laid out.
struct TPoint {
    int X;
    int Y;
};
constexpr TPoint GenerateButton{406, 68};
constexpr TPoint NextButton{321, 509};
constexpr TPoint StartButton{441, 509};
constexpr TPoint SaveFreeListButton{595, 71};

class GuiEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfbsession::XvfbToolsPresent())
            GTEST_SKIP() << "xvfb-run and xdotool are needed";
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(X.Start(Dir.path())) << "Xvfb did not start";
    }
    void TearDown() override {
        if (Program.state() != QProcess::NotRunning) {
            Program.kill();
            Program.waitForFinished(5000);
        }
    }

    void StartProgram(const std::string& whoisServer) {
        QProcessEnvironment environment = X.Environment();
        environment.insert("TAVIREL_WHOIS_SERVER", QString::fromStdString(whoisServer));
        // The process ends without tearing down; leaks are not its concern.
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        Program.setProcessEnvironment(environment);
        Program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Program.start(QString::fromStdString(testpaths::BuildDir() + "/app/tavirelbrisvane"), {});
        ASSERT_TRUE(Program.waitForStarted(5000));
        Window =
            Run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^TavirelBrisvane $"})
                .section('\n', 0, 0)
                .trimmed();
        ASSERT_FALSE(Window.isEmpty()) << "the main window did not appear";
        // Let the first ticks apply the first page.
        QThread::msleep(500);
    }

    // Runs a tool on the test's display; its standard output.
    QString Run(const QString& tool, const QStringList& args) {
        const std::optional<QString> output = X.Run(tool, args);
        if (!output)
            ADD_FAILURE() << tool.toStdString() << " did not finish";
        return output.value_or(QString());
    }

    void Click(TPoint at) {
        Run("xdotool", {"mousemove", "--window", Window, QString::number(at.X),
                        QString::number(at.Y), "click", "1"});
        QThread::msleep(400);
    }

    void GenerateAndStart() {
        Click(GenerateButton);
        QThread::msleep(1000);
        Click(NextButton);
        Click(NextButton);
        Click(StartButton);
    }

    QTemporaryDir Dir;
    TXvfb X;
    QProcess Program;
    QString Window;
};

TEST_F(GuiEndToEndTest, FromTheFirstPageToASavedFreeList) {
    TFakeWhoisOptions options;
    options.FallbackReply = "No match for this domain.\r\n";
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    StartProgram(server.Address());

    GenerateAndStart();
    // The generation's default count, all free.
    ASSERT_TRUE(WaitUntil([&] { return server.Queries().size() >= 100; }, 20000))
        << server.Queries().size() << " queries";
    QThread::msleep(1000);

    const QString saveAs = Dir.path() + "/free";
    Click(SaveFreeListButton);
    QThread::msleep(1000);
    Run("xdotool", {"type", "--delay", "20", saveAs});
    Run("xdotool", {"key", "Return"});
    const std::string saved = (saveAs + ".txt").toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !testpaths::ReadFileBytes(saved).empty(); }, 10000))
        << "no free list was saved";
    QThread::msleep(300);

    const std::string bytes = testpaths::ReadFileBytes(saved);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::set<std::string> savedNames;
    std::size_t begin = 0;
    for (std::size_t end; (end = bytes.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        savedNames.insert(
            QString::fromStdString(bytes.substr(begin, end - begin)).toLower().toStdString());
    EXPECT_EQ(begin, bytes.size()) << "text after the last line end";
    const std::vector<std::string> queries = server.Queries();
    // The names are asked in lower case.
    const std::set<std::string> asked(queries.begin(), queries.end());
    EXPECT_EQ(savedNames.size(), queries.size());
    EXPECT_EQ(savedNames, asked);

    Run(QString::fromStdString(testpaths::BuildDir() + "/tests/x11-close-window"), {Window});
    ASSERT_TRUE(Program.waitForFinished(10000)) << "the program did not end with its window";
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
}

// The close asks first (the batch can go on at the next start); yes, the
// default, ends the program at once.
TEST_F(GuiEndToEndTest, ClosingTheWindowWhileJobsRunAsksThenEndsTheProgram) {
    // Silent: every job waits for its reply until the program ends.
    TFakeWhoisOptions options;
    options.Mode = TFakeWhoisMode::Silent;
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    StartProgram(server.Address());

    GenerateAndStart();
    ASSERT_TRUE(WaitUntil([&] { return server.OpenCount() == 5; }, 10000))
        << server.OpenCount() << " exchanges open";

    QElapsedTimer clock;
    clock.start();
    Run(QString::fromStdString(testpaths::BuildDir() + "/tests/x11-close-window"), {Window});
    // The question takes the keyboard; Return answers yes.
    QThread::msleep(1000);
    EXPECT_EQ(Program.state(), QProcess::Running) << "the program ended without asking";
    Run("xdotool", {"key", "Return"});
    ASSERT_TRUE(Program.waitForFinished(10000)) << "the program did not end with its window";
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
}

} // namespace
