#include "tests/support/CliRunner.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

using TLines = std::vector<std::string>;
// A record's values in the order of FieldNames.
using TRecord = TLines;

const TLines FieldNames = {"domain",      "verdict", "reason", "detail", "creation_date",
                           "expiry_date", "email",   "ip",     "server", "method"};

// RFC 4180 read back strictly: rows of fields, CR LF after every row, a field
// either plain (no quote, comma, CR or LF in it) or quoted with its quotes
// doubled. Anything else fails the test.
std::vector<TLines> ParseCsv(const std::string& text) {
    std::vector<TLines> rows;
    TLines row;
    std::size_t i = 0;
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            for (++i; i < text.size(); ++i) {
                if (text[i] == '"' && text.compare(i, 2, "\"\"") != 0)
                    break;
                if (text[i] == '"')
                    ++i;
                field += text[i];
            }
            if (i >= text.size()) {
                ADD_FAILURE() << "unterminated quote";
                return rows;
            }
            ++i;
        } else {
            for (; i < text.size() && text[i] != ',' && text[i] != '\r'; ++i) {
                EXPECT_TRUE(text[i] != '"' && text[i] != '\n') << "bare field holds " << text[i];
                field += text[i];
            }
        }
        row.push_back(std::move(field));
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (text.compare(i, 2, "\r\n") != 0) {
            ADD_FAILURE() << "row not ended by CR LF at byte " << i;
            return rows;
        }
        i += 2;
        rows.push_back(std::move(row));
        row.clear();
    }
    return rows;
}

std::map<std::string, TRecord> CsvRecords(const std::string& text) {
    const std::vector<TLines> rows = ParseCsv(text);
    std::map<std::string, TRecord> records;
    if (rows.empty() || rows[0] != FieldNames) {
        ADD_FAILURE() << "header row missing or wrong:\n" << text;
        return records;
    }
    for (std::size_t r = 1; r < rows.size(); ++r)
        records[rows[r][0]] = rows[r];
    return records;
}

std::map<std::string, TRecord> JsonRecords(const std::string& text) {
    std::map<std::string, TRecord> records;
    for (const std::string& line : LinesOf(text)) {
        const nlohmann::json object = nlohmann::json::parse(line);
        EXPECT_EQ(object.size(), FieldNames.size()) << line;
        TRecord record;
        for (const std::string& name : FieldNames)
            record.push_back(object.at(name).get<std::string>());
        records[record[0]] = record;
    }
    return records;
}

// reg.com has dates full of what CSV and JSON must escape (a comma, quotes, a
// control byte, a lone CR, a Chinese character sent in UTF-8), free.com is
// free, odd.com gets a reply that proves nothing, none.com gets no reply.
std::string MixedReply(const std::string& query) {
    if (query == "reg.com")
        return "Domain Name: REG.COM\r\n"
               "Creation Date: 2001,\"q\"\x01;\xE4\xB8\xAD\r\n"
               "Expiration Date: 2031\rnext\r\n"
               "Registrant Email: o.w-n_er@reg.com\r\n";
    if (query == "free.com")
        return "No match for \"FREE.COM\".\r\n";
    if (query == "odd.com")
        return "% odd.com\r\n\r\nSorry,\twe cannot tell.\r\n";
    return "";
}

TEST(CliResultsTest, CsvAndJsonOfAMixedBatchReadBackToTheSameRecords) {
    TFakeWhoisOptions options;
    options.Responder = MixedReply;
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    const std::string input = "reg.com\nfree.com\nodd.com\nnone.com\n";
    // none.com is left unknown at once: retries are the batch's business.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString unknownOut = dir.filePath("unknown.txt");
    const QStringList common = {"check",     "--show", "domain,email", "--threads", "3",
                                "--retries", "0"};

    const TCliRun csv = RunCli(common + QStringList{"--format", "csv", "--unknown-out", unknownOut},
                               {.Stdin = input, .WhoisServer = server.Address()});
    const TCliRun json = RunCli(common + QStringList{"--format", "jsonl"},
                                {.Stdin = input, .WhoisServer = server.Address()});
    EXPECT_EQ(csv.ExitCode, 1) << csv.Err; // none.com is unknown
    EXPECT_EQ(json.ExitCode, 1) << json.Err;

    const std::string at = server.Address();
    const std::map<std::string, TRecord> expected = {
        {"reg.com",
         {"reg.com", "registered", "", "", "2001,\"Q\"\x01;\xE4\xB8\xAD", "2031\rNEXT",
          "o.w-n_er@reg.com", "", at, "whois"}},
        {"free.com", {"free.com", "free", "", "", "", "", "", "", at, "whois"}},
        {"odd.com",
         {"odd.com", "unknown", "unreadable", "Sorry, we cannot tell.", "", "", "", "", at,
          "whois"}},
        {"none.com",
         {"none.com", "unknown", "failed", "no reply from " + at, "", "", "", "", at, "whois"}},
    };
    EXPECT_EQ(CsvRecords(csv.Out), expected) << csv.Out;
    EXPECT_EQ(JsonRecords(json.Out), expected) << json.Out;
    // The summary counts the unreadable reply; the saved line keeps what it said.
    EXPECT_NE(csv.Err.find("2 unknown (1 failed, 1 unreadable)"), std::string::npos) << csv.Err;
    const std::string unknown = testpaths::ReadFileBytes(unknownOut.toStdString());
    EXPECT_NE(unknown.find("odd.com\tunreadable\tSorry, we cannot tell.\r\n"), std::string::npos)
        << unknown;
    EXPECT_NE(unknown.find("none.com\tfailed\r\n"), std::string::npos) << unknown;
}

// The server accepts and never answers: every name waits out the idle bound
// (15 s, all at once) and none may pass for checked; the saved names carry
// their reason after a tab.
TEST(CliResultsTest, SilentServerLeavesEveryNameUnknown) {
    TFakeWhoisOptions options;
    options.Mode = TFakeWhoisMode::Silent;
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString unknownOut = dir.filePath("unknown.txt");
    std::string input;
    TLines names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("quiet" + std::to_string(i) + ".com");
        input += names.back() + "\n";
    }

    const TCliRun run =
        RunCli({"check", "--threads", "40", "--retries", "0", "--unknown-out", unknownOut},
               {.Stdin = input, .WhoisServer = server.Address()});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_NE(run.Err.find("checked 40 names: 0 free, 0 registered, 40 unknown (40 failed);"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(LinesOf(run.Out).size(), 40u);
    TLines saved;
    for (std::string line : LinesOf(testpaths::ReadFileBytes(unknownOut.toStdString()))) {
        EXPECT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
        saved.push_back(line);
    }
    std::sort(saved.begin(), saved.end());
    std::sort(names.begin(), names.end());
    for (std::string& name : names)
        name += "\tfailed";
    EXPECT_EQ(saved, names);
}

// Each result line leaves as its query ends, also into a pipe: the quick
// name's line is out while the slow name's server still holds its answer.
TEST(CliResultsTest, ResultLinesLeaveAsEachQueryEnds) {
    TFakeWhoisOptions options;
    options.Responder = [](const std::string& query) {
        if (query == "slow.com")
            std::this_thread::sleep_for(std::chrono::seconds(5));
        return "Domain Name: " + query + "\r\nName Server: ns.x\r\n";
    };
    TFakeWhoisServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAVIREL_WHOIS_SERVER", QString::fromStdString(server.Address()));
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(testpaths::BuildDir() + "/app/tavirelbrisvane-cli"),
                  {"check", "--threads", "2", "--show", "domain"});
    ASSERT_TRUE(process.waitForStarted(10'000));
    process.write("slow.com\nquick.com\n");
    process.closeWriteChannel();

    ASSERT_TRUE(process.waitForReadyRead(4'000)) << "no line before the slow query ended";
    EXPECT_TRUE(process.readAllStandardOutput().startsWith("quick.com"));
    EXPECT_EQ(process.state(), QProcess::Running);
    EXPECT_TRUE(process.waitForFinished(20'000));
    EXPECT_TRUE(process.readAllStandardOutput().startsWith("slow.com"));
}

} // namespace
