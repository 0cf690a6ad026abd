#include "tests/app/ThreadedHttpServer.h"
#include "tests/support/CliRunner.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every run gets a data folder of its own, so no test reads or changes the
// user's, and the registry data is the shipped one unless a test says else.
class CliServers : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const {
        return (Dir.path() + "/" + QString::fromStdString(name)).toStdString();
    }
    std::string DownloadedFile() const { return Path("data/tavirelbrisvane/rdap-dns.json"); }

    QTemporaryDir Dir;
    TScopedEnv DataHome{"XDG_DATA_HOME", Path("data")};
    TScopedEnv NoServersFile{"TAVIREL_REGISTRY_DATA"};
    TScopedEnv NoOverride{"TAVIREL_WHOIS_SERVER"};
};

TEST_F(CliServers, ShowsEachSuffixsChoiceAndTheDataDate) {
    // 中国 in the terminal's UTF-8
    const TCliRun run = RunCli(
        {"servers", "com", ".io", "INFO", "\xE4\xB8\xAD\xE5\x9B\xBD", "xn--czrs0t", "lk", "zzzz"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    // The build tree's programs find the data where an installed one would.
    const std::string data = testpaths::BuildDir() + "/share/tavirelbrisvane/";
    EXPECT_EQ(LinesOf(run.Out),
              (std::vector<std::string>{
                  "registry data: servers of 2026-08-08 (" + data +
                      "tld-servers.tsv), RDAP bootstrap of 2026-07-23 (" + data +
                      "rdap-dns.json), 1438 TLDs",
                  ".com\twhois\twhois.internic.net\ttable",
                  ".io\twhois\twhois.nic.io\tdata",
                  ".info\trdap\thttps://rdap.identitydigital.services/rdap/\tdata",
                  ".xn--fiqs8s\twhois\twhois.cnnic.cn\tdata",
                  ".xn--czrs0t\trdap\thttps://rdap.identitydigital.services/rdap/\tdata",
                  ".lk\twhois\twhois.nic.lk\ttable",
                  ".zzzz\tnone\t-\tnone",
              }));
}

TEST_F(CliServers, WithoutSuffixesShowsEveryTldOfTheData) {
    const TCliRun run = RunCli({"servers"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const std::vector<std::string> lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 1u + 1438u);
    EXPECT_EQ(lines[1], ".aaa\twhois\twhois.nic.aaa\tdata");
}

TEST_F(CliServers, AnOverrideIsShownWithWhatTheSuffixWouldHaveBeenAsked) {
    const TCliRun run =
        RunCli({"servers", "io", "info", "zzzz"}, {.WhoisServer = "127.0.0.1:4343"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const std::vector<std::string> lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;
    EXPECT_EQ(lines[1], ".io\twhois\t127.0.0.1:4343\toverride\tsuffix: whois\twhois.nic.io\tdata");
    EXPECT_EQ(lines[2], ".info\twhois\t127.0.0.1:4343\toverride\tsuffix: rdap\t"
                        "https://rdap.identitydigital.services/rdap/\tdata");
    EXPECT_EQ(lines[3], ".zzzz\twhois\t127.0.0.1:4343\toverride\tsuffix: none\t-\tnone");
}

TEST_F(CliServers, OneProtocolOnly) {
    const TCliRun rdap = RunCli({"servers", "--protocol", "rdap", "io", "cn"});
    ASSERT_EQ(rdap.ExitCode, 0) << rdap.Err;
    EXPECT_TRUE(Has(rdap.Out, ".io\trdap\thttps://rdap.identitydigital.services/rdap/\tdata\n"))
        << rdap.Out;
    EXPECT_TRUE(Has(rdap.Out, ".cn\tnone\t-\tnone\n")) << rdap.Out;
    const TCliRun whois = RunCli({"servers", "--protocol", "whois", "info"});
    EXPECT_TRUE(Has(whois.Out, ".info\tnone\t-\tnone\n")) << whois.Out;
}

TEST_F(CliServers, BadArgumentsExitWithTwo) {
    for (const QStringList& args : {
             QStringList{"servers", "--protocol", "http"},
             QStringList{"servers", "--protocol"},
             QStringList{"servers", "--bogus"},
             QStringList{"servers", "a b"},
             QStringList{"servers", "-io-"},
             QStringList{"update-registry-data", "--from"},
             QStringList{"update-registry-data", "extra"},
         }) {
        const TCliRun run = RunCli(args);
        EXPECT_EQ(run.ExitCode, 2) << args.join(' ').toStdString() << "\n" << run.Err;
        EXPECT_FALSE(run.Err.empty()) << args.join(' ').toStdString();
    }
}

TEST_F(CliServers, ABrokenRegistryDataFileIsReportedWithItsLineAndTheShippedDataUsed) {
    WriteFile(Path("mine.tsv"), "tld\twhois_server\trdap_base\nio\twhois.mine.example\t\n"
                                "zz\tnot a host\t\n");
    const TCliRun run =
        RunCli({"servers", "--registry-data", QString::fromStdString(Path("mine.tsv")), "io"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(Has(run.Err, Path("mine.tsv") + ":3: whois_server 'not a host'")) << run.Err;
    EXPECT_TRUE(Has(run.Err, "the shipped servers file is used")) << run.Err;
    EXPECT_TRUE(Has(run.Out, ".io\twhois\twhois.nic.io\tdata\n")) << run.Out;
}

TEST_F(CliServers, TheVariableNamesAServersFileThatReplacesTheShippedOne) {
    WriteFile(Path("mine.tsv"), "tld\twhois_server\trdap_base\nio\twhois.mine.example\t\n");
    TScopedEnv variable("TAVIREL_REGISTRY_DATA", Path("mine.tsv"));
    const TCliRun run = RunCli({"servers", "io", "cn"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_TRUE(Has(run.Out, "servers of ")) << run.Out;
    EXPECT_TRUE(Has(run.Out, "(" + Path("mine.tsv") + ")")) << run.Out;
    EXPECT_TRUE(Has(run.Out, ".io\twhois\twhois.mine.example\tdata\n")) << run.Out;
    // .cn keeps its table server; the file knows nothing of it.
    EXPECT_TRUE(Has(run.Out, ".cn\twhois\twhois.cnnic.cn\ttable\n")) << run.Out;
}

// --- update-registry-data ------------------------------------------------------------

const std::string NewerBootstrap = R"({
  "description": "RDAP bootstrap file for Domain Name System registrations",
  "publication": "2027-03-04T02:00:00Z",
  "services": [
    [["io", "ac"], ["https://rdap.newer.example/"]]
  ],
  "version": "1.0"
})";

class CliUpdateRegistryData : public CliServers {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(Dir.path() + "/www"));
        WriteFile(Path("www/dns.json"), NewerBootstrap);
        WriteFile(Path("www/broken.json"), "{\"services\": [[[\"io\"], [\"https://x/\"]]");
        WriteFile(Path("www/empty.json"), R"({"services": []})");
        WriteFile(Path("www/huge.json"), std::string(5u << 20, ' ') + NewerBootstrap);
        ASSERT_TRUE(Server.Listen());
    }
    TCliRun Update(const std::string& file) {
        return RunCli({"update-registry-data", "--from",
                       Server.BaseUrl() + "/" + QString::fromStdString(file)});
    }

    TThreadedHttpServer Server{Dir.path() + "/www"};
};

TEST_F(CliUpdateRegistryData, AGoodFileIsSavedAndItsRdapPartUsedFromThenOn) {
    const TCliRun update = Update("dns.json");
    ASSERT_EQ(update.ExitCode, 0) << update.Err;
    EXPECT_TRUE(Has(update.Out, "RDAP bases for 2 TLDs, published 2027-03-04T02:00:00Z"))
        << update.Out;
    EXPECT_EQ(testpaths::ReadFileBytes(DownloadedFile()), NewerBootstrap);

    const TCliRun servers = RunCli({"servers", "io", "de"});
    ASSERT_EQ(servers.ExitCode, 0) << servers.Err;
    EXPECT_TRUE(Has(servers.Out, "RDAP bootstrap of 2027-03-04 (" + DownloadedFile() + ")"))
        << servers.Out;
    const TCliRun rdap = RunCli({"servers", "--protocol", "rdap", "io", "de"});
    EXPECT_TRUE(Has(rdap.Out, ".io\trdap\thttps://rdap.newer.example/\tdata\n")) << rdap.Out;
    // What the new file does not list keeps what the servers file gives it.
    EXPECT_TRUE(Has(rdap.Out, ".de\trdap\thttps://rdap.denic.de/\tdata\n")) << rdap.Out;
}

TEST_F(CliUpdateRegistryData, AFileThatIsNotWholeBrokenOrTooLargeLeavesTheOldOne) {
    ASSERT_EQ(Update("dns.json").ExitCode, 0);
    struct TCase {
        const char* File;
        const char* Reason;
    };
    for (const TCase& c : {
             TCase{"broken.json", "is not an RDAP bootstrap file: line 1: not JSON"},
             TCase{"empty.json", "lists no TLD"},
             TCase{"huge.json", "sent more than 4194304 bytes"},
             TCase{"absent.json", "answered with status 404"},
         }) {
        const TCliRun run = Update(c.File);
        EXPECT_EQ(run.ExitCode, 1) << c.File;
        EXPECT_TRUE(Has(run.Err, c.Reason)) << c.File << ": " << run.Err;
        EXPECT_TRUE(Has(run.Err, DownloadedFile() + " is left as it was")) << run.Err;
        EXPECT_EQ(testpaths::ReadFileBytes(DownloadedFile()), NewerBootstrap) << c.File;
    }
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(Dir.path() + "/data/tavirelbrisvane").entryList(QDir::Files),
              QStringList{"rdap-dns.json"});
}

TEST_F(CliUpdateRegistryData, OnlyHttpUrlsAreFetched) {
    for (const char* url : {"ftp://127.0.0.1/dns.json", "file:///etc/passwd", "dns.json"}) {
        const TCliRun run = RunCli({"update-registry-data", "--from", url});
        EXPECT_EQ(run.ExitCode, 1) << url;
        EXPECT_TRUE(Has(run.Err, "is not an https or http URL")) << run.Err;
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(DownloadedFile())));
}

} // namespace
