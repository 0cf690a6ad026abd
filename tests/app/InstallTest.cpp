#include "tests/support/CliRunner.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

namespace fs = std::filesystem;

// Runs the build's install step into prefix; its output when it fails.
std::string InstallInto(const fs::path& prefix) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(testpaths::CMakeCommand()),
                  {"--install", QString::fromStdString(testpaths::BuildDir()), "--prefix",
                   QString::fromStdString(prefix.string())});
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return "install failed: " + process.readAll().toStdString();
    return "";
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new QTemporaryDir;
        ASSERT_TRUE(Dir->isValid());
        Prefix = fs::canonical(Dir->path().toStdString()) / "usr";
        const std::string failure = InstallInto(Prefix);
        ASSERT_EQ(failure, "");
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }

    static QTemporaryDir* Dir;
    static fs::path Prefix;
};

QTemporaryDir* InstallTest::Dir = nullptr;
fs::path InstallTest::Prefix;

TEST_F(InstallTest, PutsEveryFileWhereADebianProgramHasIt) {
    for (const char* file : {
             "bin/tavirelbrisvane",
             "bin/tavirelbrisvane-cli",
             "share/applications/tavirelbrisvane.desktop",
             "share/icons/hicolor/scalable/apps/tavirelbrisvane.svg",
             "share/man/man1/tavirelbrisvane-cli.1",
             "share/tavirelbrisvane/tld-servers.tsv",
             "share/tavirelbrisvane/rdap-dns.json",
             "share/tavirelbrisvane/throttle-phrases.tsv",
             "share/tavirelbrisvane/LICENSE-iana-data",
         }) {
        EXPECT_TRUE(fs::is_regular_file(Prefix / file)) << file;
    }
    // The samples are for the tests, not for the program.
    EXPECT_FALSE(fs::exists(Prefix / "share/tavirelbrisvane/rdap-samples"));
    const std::vector<std::string> entry = LinesOf(
        testpaths::ReadFileBytes((Prefix / "share/applications/tavirelbrisvane.desktop").string()));
    for (const char* line :
         {"[Desktop Entry]", "Type=Application", "Name=域名批量查询", "Name[en]=TavirelBrisvane",
          "Exec=tavirelbrisvane", "Icon=tavirelbrisvane", "Categories=Network;"})
        EXPECT_NE(std::find(entry.begin(), entry.end(), line), entry.end()) << line;
}

TEST_F(InstallTest, InstalledProgramsFindTheirDataThroughThePrefix) {
    const TScopedEnv noChoice("TAVIREL_DATA_DIR");
    const std::string data = "registry data: " + (Prefix / "share/tavirelbrisvane").string();
    for (const char* program : {"tavirelbrisvane-cli", "tavirelbrisvane"}) {
        const TCliRun run = RunCli({"--version"}, {.Program = (Prefix / "bin" / program).string()});
        EXPECT_EQ(run.ExitCode, 0) << program << run.Err;
        const std::vector<std::string> lines = LinesOf(run.Out);
        ASSERT_EQ(lines.size(), 2u) << run.Out;
        EXPECT_EQ(lines[0], std::string(program) + " 1.0");
        EXPECT_EQ(lines[1], data);
    }
}

TEST_F(InstallTest, InstalledCommandLineChecksAgainstAServer) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) {
        return query.starts_with("free") ? "No match for \"" + query + "\".\r\n"
                                         : "Domain Name: " + query + "\r\nName Server: ns.x\r\n";
    };
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    const TCliRun run = RunCli({"check", "--show", "domain", "--threads", "1"},
                               {.Stdin = "free1.com\nheld.com\n",
                                .WhoisServer = server.Address(),
                                .Program = (Prefix / "bin/tavirelbrisvane-cli").string()});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(LinesOf(run.Out).size(), 2u) << run.Out;
    EXPECT_NE(run.Err.find("checked 2 names: 1 free, 1 registered, 0 unknown;"), std::string::npos)
        << run.Err;
    EXPECT_EQ(server.Queries(), (std::vector<std::string>{"free1.com", "held.com"}));
}

} // namespace
