// check --journal against a fake WHOIS server: runs killed with SIGKILL in
// the middle of a batch and taken up again end with the results of a run
// that was never interrupted, and a file that is not this list's journal is
// refused without being touched.

#include "tests/support/CliRunner.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeWhoisServer.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using testcli::LinesOf;
using testcli::RunCli;
using testcli::TCliRun;

using TLines = std::vector<std::string>;
using TNames = std::multiset<std::string>;

constexpr int NameCount = 400;

// Names starting with "free" are free, "gone" get no answer (unknown), the
// others are registered.
std::string Reply(const std::string& query) {
    if (query.rfind("free", 0) == 0)
        return "No match for \"" + query + "\".\r\n";
    if (query.rfind("gone", 0) == 0)
        return "";
    return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\nName Server: ns1.x.com\r\n";
}

std::string ListOfNames() {
    std::string list;
    for (int i = 0; i < NameCount; ++i) {
        const char* prefix = i % 10 == 3 ? "gone" : i % 4 == 1 ? "free" : "held";
        list += prefix + std::to_string(i) + ".com\n";
    }
    return list;
}

// The JSON lines of a run: domain to its whole line, with how often each
// domain came.
struct TRecords {
    std::map<std::string, std::string> Line;
    std::map<std::string, int> Count;
    std::set<std::string> WithVerdict;
};

TRecords RecordsOf(const std::string& jsonl) {
    TRecords records;
    for (const std::string& line : LinesOf(jsonl)) {
        const nlohmann::json object = nlohmann::json::parse(line);
        const std::string domain = object.at("domain").get<std::string>();
        records.Line[domain] = line;
        ++records.Count[domain];
        if (object.at("verdict") != "unknown")
            records.WithVerdict.insert(domain);
    }
    return records;
}

TNames NamesOf(const TLines& lines) {
    return TNames(lines.begin(), lines.end());
}

std::set<std::string> CandidateNames() {
    const TLines lines = LinesOf(ListOfNames());
    return std::set<std::string>(lines.begin(), lines.end());
}

std::string Cli() {
    return testpaths::BuildDir() + "/app/tavirelbrisvane-cli";
}

class CliJournalTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        TFakeWhoisOptions options;
        options.Responder = Reply;
        options.LatencyMs = 10;
        Server = std::make_unique<TFakeWhoisServer>(options);
        ASSERT_TRUE(Server->Start()) << Server->Error();
        List = Write("list.txt", ListOfNames());
        Journal = Path("batch.journal");
    }

    std::string Path(const char* name) const { return Dir.filePath(name).toStdString(); }
    std::string Write(const char* name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    static QStringList Q(const TLines& args) {
        QStringList list;
        for (const std::string& arg : args)
            list << QString::fromStdString(arg);
        return list;
    }

    TCliRun Run(const TLines& args) const {
        return RunCli(Q(args), {.WhoisServer = Server->Address()});
    }
    // check of the list in JSON lines, with extra arguments.
    TCliRun Check(const TLines& extra) const {
        // The unknown names stay unknown: no retries, so each is asked once a run.
        TLines args = {"check", "--threads", "8", "--retries", "0", "--format", "jsonl"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(List);
        return Run(args);
    }
    TLines QueriesSince(std::size_t count) const {
        const TLines queries = Server->Queries();
        return TLines(queries.begin() + static_cast<long>(count), queries.end());
    }
    TRecords Kept() const { return RecordsOf(Run({"journal", Journal, "--format", "jsonl"}).Out); }

    // Starts check --journal and kills it (SIGKILL) once it has written
    // lines lines; false when it ended first.
    bool CheckAndKillAfter(std::size_t lines) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TAVIREL_WHOIS_SERVER", QString::fromStdString(Server->Address()));
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString(Cli()),
                      Q({"check", "--threads", "8", "--retries", "0", "--format", "jsonl",
                         "--journal", Journal, List}));
        if (!process.waitForStarted(10000))
            return false;
        std::size_t seen = 0;
        while (seen < lines && process.state() == QProcess::Running) {
            process.waitForReadyRead(100);
            seen += static_cast<std::size_t>(process.readAll().count('\n'));
        }
        if (process.state() != QProcess::Running)
            return false;
        process.kill();
        process.waitForFinished(10000);
        return true;
    }

    QTemporaryDir Dir;
    std::unique_ptr<TFakeWhoisServer> Server;
    std::string List;
    std::string Journal;
};

// Two kills, each after a group was committed by count, then a run to the
// end. After each kill the
// journal opens and holds what was committed before (nothing lost, each name
// once), the next run asks exactly the names without a verdict, and the last
// run prints, saves and journals what an uninterrupted run does.
TEST_F(CliJournalTest, KilledRunsTakenUpEndWithTheResultsOfAnUninterruptedOne) {
    const TCliRun whole =
        Check({"--free-out", Path("whole-free.txt"), "--results-out", Path("whole-results.txt")});
    ASSERT_EQ(whole.ExitCode, 1) << whole.Err; // the "gone" names are unknown
    const TRecords expected = RecordsOf(whole.Out);
    ASSERT_EQ(expected.Line.size(), static_cast<std::size_t>(NameCount));

    std::set<std::string> committed;
    for (std::size_t killAfter : {150u, 150u}) {
        const std::size_t queriesBefore = Server->Queries().size();
        // A resumed run first prints what was kept, then the new results.
        ASSERT_TRUE(CheckAndKillAfter(committed.size() + killAfter)) << "ended before the kill";
        const TLines asked = QueriesSince(queriesBefore);
        const std::set<std::string> askedOnce(asked.begin(), asked.end());
        EXPECT_EQ(askedOnce.size(), asked.size()) << "a name was asked twice";
        for (const std::string& name : asked)
            EXPECT_FALSE(committed.count(name)) << name << " was asked again after its commit";

        const TRecords kept = Kept();
        for (const auto& [domain, count] : kept.Count)
            EXPECT_EQ(count, 1) << domain;
        for (const std::string& name : committed)
            EXPECT_TRUE(kept.WithVerdict.count(name)) << name << " was lost";
        EXPECT_GT(kept.WithVerdict.size(), committed.size());
        committed = kept.WithVerdict;
    }

    const std::size_t queriesBefore = Server->Queries().size();
    const TCliRun last = Check({"--journal", Journal, "--free-out", Path("free.txt"),
                                "--results-out", Path("results.txt")});
    ASSERT_EQ(last.ExitCode, 1) << last.Err;
    const TLines asked = QueriesSince(queriesBefore);
    std::set<std::string> left;
    for (const std::string& name : CandidateNames()) {
        if (!committed.count(name))
            left.insert(name);
    }
    EXPECT_EQ(NamesOf(asked), TNames(left.begin(), left.end()));

    const TRecords resumed = RecordsOf(last.Out);
    EXPECT_EQ(resumed.Line, expected.Line);
    EXPECT_EQ(LinesOf(last.Out).size(), static_cast<std::size_t>(NameCount));
    EXPECT_EQ(Kept().Line, expected.Line);
    // The saved lists hold the same lines; only their order is that of the
    // runs.
    const auto linesOfFile = [this](const char* name) {
        std::string bytes = testpaths::ReadFileBytes(Path(name));
        std::replace(bytes.begin(), bytes.end(), '\r', '\n');
        TLines lines = LinesOf(bytes);
        std::erase(lines, "");
        return NamesOf(lines);
    };
    EXPECT_EQ(linesOfFile("free.txt"), linesOfFile("whole-free.txt"));
    EXPECT_EQ(linesOfFile("results.txt"), linesOfFile("whole-results.txt"));
    EXPECT_NE(last.Err.find("checked 400 names: 80 free, 280 registered, 40 unknown"),
              std::string::npos)
        << last.Err;
}

// A journal taken up after the batch has run asks only its unknown names
// again, and a list whose every name has a verdict asks nothing.
TEST_F(CliJournalTest, AFinishedJournalAsksOnlyItsUnknownNames) {
    ASSERT_EQ(Check({"--journal", Journal}).ExitCode, 1);
    const std::size_t queriesBefore = Server->Queries().size();
    const TCliRun again = Check({"--journal", Journal});
    EXPECT_EQ(again.ExitCode, 1) << again.Err;
    EXPECT_EQ(Server->Queries().size() - queriesBefore, 40u);
    EXPECT_EQ(LinesOf(again.Out).size(), static_cast<std::size_t>(NameCount));

    const std::string known = Write("known.txt", "held1.com\nfree2.com\n");
    const std::string knownJournal = Path("known.journal");
    const TLines args = {"check", "--journal", knownJournal, known};
    ASSERT_EQ(Run(args).ExitCode, 0);
    const std::size_t queriesThen = Server->Queries().size();
    const TCliRun done = Run(args);
    EXPECT_EQ(done.ExitCode, 0) << done.Err;
    EXPECT_EQ(Server->Queries().size(), queriesThen);
    EXPECT_EQ(LinesOf(done.Out).size(), 2u);
    EXPECT_NE(done.Err.find("2 results kept, 0 names to ask"), std::string::npos) << done.Err;
}

// Two runs started together on a journal not made yet: one has it, the
// other is refused as in use with 2 before it asks or prints anything, and
// the journal holds each name once.
TEST_F(CliJournalTest, TwoRunsStartedTogetherOnANewJournalOneIsRefused) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAVIREL_WHOIS_SERVER", QString::fromStdString(Server->Address()));
    QProcess runs[2];
    for (QProcess& run : runs) {
        run.setProcessEnvironment(environment);
        // Slow enough that the first is still at work when the second starts.
        run.start(QString::fromStdString(Cli()),
                  Q({"check", "--threads", "2", "--retries", "0", "--format", "jsonl", "--journal",
                     Journal, List}));
    }
    int codes[2];
    std::string outs[2], errs[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(runs[i].waitForFinished(60000));
        codes[i] = runs[i].exitCode();
        outs[i] = runs[i].readAllStandardOutput().toStdString();
        errs[i] = runs[i].readAllStandardError().toStdString();
    }
    const int refused = codes[0] == 2 ? 0 : 1;
    EXPECT_EQ(codes[refused], 2) << errs[0] << errs[1];
    EXPECT_EQ(codes[1 - refused], 1) << errs[1 - refused]; // the "gone" names are unknown
    EXPECT_NE(errs[refused].find("is in use by another run"), std::string::npos) << errs[refused];
    EXPECT_EQ(outs[refused], "");
    EXPECT_EQ(Server->Queries().size(), static_cast<std::size_t>(NameCount));
    const TRecords kept = Kept();
    EXPECT_EQ(kept.Line.size(), static_cast<std::size_t>(NameCount));
    for (const auto& [domain, count] : kept.Count)
        EXPECT_EQ(count, 1) << domain;
}

// A journal in a folder that cannot be written prints as anywhere else, and
// the printing writes nothing beside it. As root every folder can be
// written, so the command then runs as nobody.
TEST_F(CliJournalTest, PrintsAJournalInAFolderThatCannotBeWritten) {
    ASSERT_EQ(Check({"--journal", Journal}).ExitCode, 1);
    const TRecords expected = Kept();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string copy = folder.filePath("kept.journal").toStdString();
    std::filesystem::copy_file(Journal, copy);
    namespace fs = std::filesystem;
    fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::perms readOnlyFolder = fs::perms::owner_read | fs::perms::owner_exec |
                                     fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(folder.path().toStdString(), readOnlyFolder);
    TLines args = {"journal", copy, "--format", "jsonl"};
    std::string program = Cli();
    if (::geteuid() == 0) {
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", Cli()});
        program = "/usr/bin/setpriv";
    }
    const TCliRun run = RunCli(Q(args), {.Program = program});
    fs::permissions(folder.path().toStdString(), fs::perms::owner_all);
    EXPECT_EQ(run.ExitCode, 1) << run.Err; // the "gone" names are unknown
    EXPECT_EQ(run.Err.find("readonly"), std::string::npos) << run.Err;
    EXPECT_EQ(RecordsOf(run.Out).Line, expected.Line);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder.path().toStdString()))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, TLines{"kept.journal"});
}

// Files cut off at a size: stores past it fail as on a full disk. The batch
// goes on and says so, ends with 1, and the journal keeps what was
// committed, each name once; a run with room completes it.
TEST_F(CliJournalTest, AStoreThatFailsKeepsWhatWasCommitted) {
    // Half of what the whole batch's journal needs: a new journal of the
    // list fits, its log of results does not.
    const std::string sizing = Path("sizing.journal");
    ASSERT_EQ(Check({"--journal", sizing}).ExitCode, 1);
    const std::string limit = std::to_string(std::filesystem::file_size(sizing) / 2);
    const std::string script = "trap '' XFSZ; exec prlimit --fsize=" + limit + " \"$0\" \"$@\"";
    const TCliRun full = RunCli(Q({"-c", script, Cli(), "check", "--retries", "0", "--format",
                                   "jsonl", "--journal", Journal, List}),
                                {.WhoisServer = Server->Address(), .Program = "/bin/sh"});
    EXPECT_EQ(full.ExitCode, 1) << full.Err;
    EXPECT_NE(full.Err.find("cannot store results in journal " + Journal), std::string::npos)
        << full.Err;
    EXPECT_EQ(LinesOf(full.Out).size(), static_cast<std::size_t>(NameCount));

    const TRecords kept = Kept();
    EXPECT_GT(kept.Line.size(), 0u);
    EXPECT_LT(kept.Line.size(), static_cast<std::size_t>(NameCount));
    for (const auto& [domain, count] : kept.Count)
        EXPECT_EQ(count, 1) << domain;

    const TCliRun rest = Check({"--journal", Journal});
    EXPECT_EQ(rest.ExitCode, 1) << rest.Err;
    EXPECT_EQ(RecordsOf(rest.Out).Count.size(), static_cast<std::size_t>(NameCount));
    EXPECT_EQ(LinesOf(rest.Out).size(), static_cast<std::size_t>(NameCount));
}

// --- Refusals -------------------------------------------------------------------

// Runs SQL on a database file through SQLite itself.
bool ExecSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    done &= sqlite3_close(db) == SQLITE_OK;
    return done;
}

// Replaces bytes of a file from offset on.
void Overwrite(const std::string& path, std::size_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Stands for the journal's path in TRefusalCase::Extra.
constexpr const char* JournalMark = "@journal";

struct TRefusalCase {
    const char* Name;
    // Puts what is refused in place; given the fixture and the journal path
    // (a journal of the whole list has been made there by a run).
    std::function<void(CliJournalTest&, const std::string& journal)> Prepare;
    TLines Extra;        // more arguments for check
    std::string Message; // part of what standard error says
};

class CliJournalRefusalTest : public CliJournalTest,
                              public ::testing::WithParamInterface<TRefusalCase> {};

// A file that is not this list's journal is refused with exit 2, before any
// query, and stays as it was, byte for byte.
TEST_P(CliJournalRefusalTest, RefusesWithTwoAndLeavesTheFileAlone) {
    ASSERT_EQ(Check({"--journal", Journal}).ExitCode, 1);
    GetParam().Prepare(*this, Journal);
    const std::string before = testpaths::ReadFileBytes(Journal);
    const std::size_t queriesBefore = Server->Queries().size();

    int lock = -1;
    if (std::string(GetParam().Name) == "InUse") {
        lock = ::open(Journal.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    }
    TLines extra = GetParam().Extra;
    std::replace(extra.begin(), extra.end(), std::string(JournalMark), Journal);
    extra.insert(extra.end(), {"--journal", Journal});
    const TCliRun run = Check(extra);
    if (lock >= 0)
        ::close(lock);

    EXPECT_EQ(run.ExitCode, 2) << run.Err;
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Server->Queries().size(), queriesBefore);
    EXPECT_EQ(testpaths::ReadFileBytes(Journal), before);
}

const auto Nothing = [](CliJournalTest&, const std::string&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, CliJournalRefusalTest,
    ::testing::Values(
        TRefusalCase{"OtherList",
                     [](CliJournalTest& test, const std::string&) {
                         test.List = test.Write("other.txt", "held1.com\nheld2.com\n");
                     },
                     {},
                     "is the journal of another candidate list"},
        TRefusalCase{"NotSqlite",
                     [](CliJournalTest&, const std::string& journal) {
                         std::filesystem::remove(journal);
                         std::ofstream(journal) << "held1.com\nfree1.com\n";
                     },
                     {},
                     "is not a journal: not a SQLite database"},
        TRefusalCase{"OtherSchema",
                     [](CliJournalTest&, const std::string& journal) {
                         std::filesystem::remove(journal);
                         ASSERT_TRUE(ExecSql(journal, "CREATE TABLE results (name TEXT);"
                                                      "INSERT INTO results VALUES ('a.com');"));
                     },
                     {},
                     "is not a journal: a SQLite database of another kind"},
        TRefusalCase{"NewerVersion",
                     [](CliJournalTest&, const std::string& journal) {
                         ASSERT_TRUE(ExecSql(journal, "PRAGMA user_version = 3"));
                     },
                     {},
                     "is a journal of a newer version of the program (version 3"},
        TRefusalCase{"Truncated",
                     [](CliJournalTest&, const std::string& journal) {
                         std::filesystem::resize_file(journal,
                                                      std::filesystem::file_size(journal) / 2);
                     },
                     {},
                     "is damaged"},
        TRefusalCase{"Corrupt",
                     [](CliJournalTest&, const std::string& journal) {
                         Overwrite(journal, 4096, std::string(8192, '\xA5'));
                     },
                     {},
                     "is damaged"},
        TRefusalCase{"OtherShow", Nothing, {"--show", "domain"}, "was kept with --show"},
        TRefusalCase{"InUse", Nothing, {}, "is in use by another run"},
        TRefusalCase{"SameAsAnOutput",
                     Nothing,
                     {"--results-out", JournalMark},
                     "is also a file the command reads or writes"},
        TRefusalCase{"LeftoverLog",
                     [](CliJournalTest&, const std::string& journal) {
                         std::filesystem::remove(journal);
                         std::ofstream(journal + "-wal") << "left from a killed run";
                     },
                     {},
                     "-wal is left from an earlier journal"}),
    [](const auto& info) { return info.param.Name; });

} // namespace
