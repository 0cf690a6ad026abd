#include "batch/BatchJournal.h"

#include "batch/GbkListModel.h"
#include "engine/QueryDomain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace {

// The journal's mark in the SQLite header ("TBjl"): no other database is
// taken for a journal, however its tables are named.
constexpr std::int32_t ApplicationId = 0x54426A6C;
// The layout below; a file with a higher number comes from a newer program
// and is left alone.
// Version 2 added the method of each result; a version 1 journal gains the
// column (empty for the results it held) when opened.
constexpr std::int64_t SchemaVersion = 2;

// One row of batch; the candidates by position; the results in the order
// they came (seq). A name asked again gets a row of its own (appending costs
// the batch least); its last row is its result, and the rows before it go
// when a run takes the journal up. GBK texts are blobs, so every byte comes
// back as it went in.
constexpr const char* Schema =
    "CREATE TABLE batch ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1),"
    "  digest TEXT NOT NULL,"
    "  show TEXT NOT NULL,"
    "  finished INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE candidates (position INTEGER PRIMARY KEY, name BLOB NOT NULL);"
    "CREATE TABLE results ("
    "  seq INTEGER PRIMARY KEY,"
    "  name BLOB NOT NULL,"
    "  verdict TEXT NOT NULL"
    "    CHECK (verdict = 'free' OR verdict = 'registered' OR verdict = 'unknown'),"
    "  reason TEXT NOT NULL,"
    "  detail BLOB NOT NULL,"
    "  creation_date BLOB NOT NULL,"
    "  expiry_date BLOB NOT NULL,"
    "  email BLOB NOT NULL,"
    "  ip BLOB NOT NULL,"
    "  server BLOB NOT NULL,"
    "  line BLOB NOT NULL,"
    "  method TEXT NOT NULL DEFAULT '');";
constexpr const char* UpgradeToVersion2 =
    "ALTER TABLE results ADD COLUMN method TEXT NOT NULL DEFAULT '';"
    "PRAGMA user_version = 2;";

constexpr const char* InsertResult =
    "INSERT INTO results (name, verdict, reason, detail, creation_date, expiry_date,"
    " email, ip, server, line, method) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* DeleteSuperseded =
    "DELETE FROM results WHERE seq NOT IN (SELECT max(seq) FROM results GROUP BY name)";
constexpr const char* SelectResults =
    "SELECT name, verdict, reason, detail, creation_date, expiry_date, email, ip, server, line,"
    " method FROM results ORDER BY seq";
// A journal of version 1 read without being written keeps its layout: its
// results have no method.
constexpr const char* SelectResultsOfVersion1 =
    "SELECT name, verdict, reason, detail, creation_date, expiry_date, email, ip, server, line,"
    " '' FROM results ORDER BY seq";

// The batch's settings live in a table of their own, with a layout version
// of their own, so that they add to any version of the journal: a journal
// without the table (written before settings were kept) opens as before, and
// an older program passes the table over. The table is made when settings
// are first kept.
constexpr std::int64_t SettingsVersion = 1;
constexpr const char* SettingsVersionKey = "settings-version";
constexpr const char* SettingsSchema =
    "CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value BLOB NOT NULL)";
constexpr const char* SettingsTableExists =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'settings'";

// A reader waits this long for a writer's checkpoint before it gives up.
constexpr int BusyTimeoutMs = 2000;

constexpr std::array<TVerdictKind, 3> VerdictKinds = {TVerdictKind::Free, TVerdictKind::Registered,
                                                      TVerdictKind::Unknown};

// A refusal or failure, already in words for the user.
class TJournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What SQLite said, with its (extended) result code.
class TSqliteError : public std::runtime_error {
public:
    TSqliteError(int code, const std::string& message) : std::runtime_error(message), Code(code) {}
    int Code;
};

void Check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw TSqliteError(rc, sqlite3_errmsg(db));
}

struct TFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TFinalize>;

TStatement Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    Check(db, sqlite3_prepare_v2(db, sql, -1, &statement, nullptr));
    return TStatement(statement);
}

// True while there is a row.
bool StepRow(sqlite3* db, sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW)
        return true;
    Check(db, rc);
    return false;
}

void Exec(sqlite3* db, const char* sql) {
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

std::int64_t QueryInteger(sqlite3* db, const char* sql) {
    const TStatement statement = Prepare(db, sql);
    if (!StepRow(db, statement.get()))
        throw TSqliteError(SQLITE_CORRUPT, std::string(sql) + " gave no value");
    return sqlite3_column_int64(statement.get(), 0);
}

std::string Bytes(sqlite3_stmt* statement, int column) {
    const void* data = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                : std::string();
}

// Bound for the statement's next step only; the bytes must live until then.
void BindBytes(sqlite3* db, sqlite3_stmt* statement, int index, const std::string& bytes) {
    Check(db, sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_STATIC));
}

void BindWord(sqlite3* db, sqlite3_stmt* statement, int index, std::string_view word) {
    Check(db, sqlite3_bind_text64(statement, index, word.data(), word.size(), SQLITE_STATIC,
                                  SQLITE_UTF8));
}

std::optional<TVerdictKind> VerdictOfWord(std::string_view word) {
    for (TVerdictKind kind : VerdictKinds) {
        if (VerdictWord(kind) == word)
            return kind;
    }
    return std::nullopt;
}

// SHA-256 of the names, each preceded by its length, so that no two lists
// share a digest by where their names break.
std::string ListDigest(const std::vector<std::string>& names) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const std::string& name : names) {
        std::uint64_t size = name.size();
        std::array<char, 8> length{};
        for (char& byte : length) {
            byte = static_cast<char>(size & 0xFF);
            size >>= 8;
        }
        hash.addData(QByteArrayView(length.data(), length.size()));
        hash.addData(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    }
    return hash.result().toHex().toStdString();
}

fs::path Companion(const fs::path& path, const char* suffix) {
    return fs::path(path.string() + suffix);
}

void RemoveWithCompanions(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(Companion(path, "-wal"), ignored);
    fs::remove(Companion(path, "-shm"), ignored);
}

std::uintmax_t SizeOr0(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// A write-ahead log left beside an empty file would be replayed into the
// new journal, so an empty one is removed and one with content refused.
void RemoveStaleLog(const fs::path& path) {
    const fs::path wal = Companion(path, "-wal");
    if (SizeOr0(wal) > 0)
        throw TJournalError(wal.string() + " is left from an earlier journal; remove it or choose "
                                           "another file");
    std::error_code ignored;
    fs::remove(wal, ignored);
    fs::remove(Companion(path, "-shm"), ignored);
}

// name: a path, or a "file:" URI with SQLITE_OPEN_URI.
sqlite3* OpenDatabase(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    // A journal is used on one thread only: its connection needs no mutex.
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw TSqliteError(rc, message);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    return db;
}

// The path in a "file:" URI: the bytes a URI gives a meaning to, and any
// that are not printable ASCII, escaped.
std::string UriPath(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    std::string uri;
    for (const unsigned char c : (error ? path : absolute).string()) {
        if (c == '%' || c == '?' || c == '#' || c <= 0x20 || c >= 0x7F) {
            constexpr const char* Hex = "0123456789ABCDEF";
            uri += '%';
            uri += Hex[c >> 4];
            uri += Hex[c & 0xF];
        } else {
            uri += static_cast<char>(c);
        }
    }
    return uri;
}

// How a reader opens a journal: read-only, never writing a byte. SQLite
// reads a journal through the side files (-shm, -wal) it keeps beside it; in
// a folder that cannot be written they cannot be made, and no run can be
// writing there, so a journal without a log left beside it is read as a file
// that does not change.
std::string ReaderUri(const fs::path& path) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const bool sideFilesCanBeMade = ::access(folder.c_str(), W_OK) == 0;
    std::error_code ignored;
    const bool logLeft = fs::exists(Companion(path, "-wal"), ignored);
    return "file:" + UriPath(path) +
           (sideFilesCanBeMade || logLeft ? "?mode=ro" : "?mode=ro&immutable=1");
}

// Makes what was written to the file durable, in one sync.
void SyncFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        throw TJournalError(std::strerror(error));
}

// A descriptor of the journal file that carries this run's hold on it: an
// advisory lock that SQLite's own locks do not see. It is closed only after
// the database, since closing any descriptor of the file earlier would drop
// SQLite's locks.
class THeldFile {
public:
    THeldFile() = default;
    explicit THeldFile(int fd) : FFd(fd) {}
    ~THeldFile() {
        if (FFd >= 0)
            ::close(FFd);
    }
    THeldFile(THeldFile&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    THeldFile& operator=(THeldFile&& other) noexcept {
        std::swap(FFd, other.FFd);
        return *this;
    }
    int Fd() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd = -1;
};

// Another run renaming its new journal over the path can only slip in
// between an open and a lock a few times in a row.
constexpr int HoldAttempts = 8;

std::string InUse(const fs::path& path) {
    return path.string() + " is in use by another run";
}

void LockForWriting(int fd, const fs::path& path) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    const int error = errno;
    throw TJournalError(error == EWOULDBLOCK
                            ? InUse(path)
                            : "cannot lock " + path.string() + ": " + std::strerror(error));
}

bool IsFileNamed(int fd, const fs::path& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool IsEmptyFile(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && status.st_size == 0;
}

// The file at path, opened (with create, made when missing: created says so)
// and for a writer locked at once, before anything reads or writes it, so
// that of two runs starting together on one new journal only one holds it.
// A lock on a file that another run renamed away from path in between holds
// nothing, so it is taken again on the file that bears the name now. Opened
// without blocking: a FIFO at path must not hang the run.
THeldFile HoldFile(const fs::path& path, TBatchJournal::TAccess access, bool create,
                   bool& created) {
    for (int attempt = 0; attempt < HoldAttempts; ++attempt) {
        constexpr int Flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
        int fd = create ? ::open(path.c_str(), Flags | O_CREAT | O_EXCL, 0644) : -1;
        created = fd >= 0;
        if (fd < 0 && (!create || errno == EEXIST)) {
            fd = ::open(path.c_str(), Flags);
            if (fd < 0 && create && errno == ENOENT)
                continue; // removed since it was found there
        }
        if (fd < 0)
            throw TJournalError((create ? "cannot create journal " : "cannot open ") +
                                path.string() + ": " + std::strerror(errno));
        THeldFile held(fd);
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
            throw TJournalError(path.string() + " is not a journal: not a file");
        if (access == TBatchJournal::TAccess::Read)
            return held;
        LockForWriting(fd, path);
        if (IsFileNamed(fd, path))
            return held;
    }
    throw TJournalError(InUse(path));
}

// The journal as one file, complete from the moment it has its name: written
// under a temporary name beside it, closed, synced and renamed. A kill or a
// power cut during the writing leaves at most the temporary file, never a
// half journal under path; so the temporary file needs neither a rollback
// journal nor syncs of its own, which keeps a new journal as cheap as one
// sync. The temporary file is locked before it is written, so the journal is
// held from the moment it bears the name; its hold is returned.
THeldFile WriteNewJournal(const fs::path& path, const std::vector<std::string>& candidates,
                          const std::string& show) {
    const fs::path temporary = Companion(path, (".new-" + std::to_string(::getpid())).c_str());
    RemoveWithCompanions(temporary);
    sqlite3* db = nullptr;
    try {
        THeldFile held(::open(temporary.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (held.Fd() < 0)
            throw TJournalError(std::strerror(errno));
        LockForWriting(held.Fd(), temporary);
        db = OpenDatabase(temporary.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Exec(db, "PRAGMA journal_mode = OFF");
        Exec(db, "PRAGMA synchronous = OFF");
        Exec(db, "BEGIN");
        Exec(db, ("PRAGMA application_id = " + std::to_string(ApplicationId)).c_str());
        Exec(db, ("PRAGMA user_version = " + std::to_string(SchemaVersion)).c_str());
        Exec(db, Schema);
        const std::string digest = ListDigest(candidates);
        {
            const TStatement batch =
                Prepare(db, "INSERT INTO batch (id, digest, show) VALUES (1, ?, ?)");
            BindWord(db, batch.get(), 1, digest);
            BindBytes(db, batch.get(), 2, show);
            StepRow(db, batch.get());
            const TStatement name =
                Prepare(db, "INSERT INTO candidates (position, name) VALUES (?, ?)");
            for (std::size_t i = 0; i < candidates.size(); ++i) {
                Check(db, sqlite3_bind_int64(name.get(), 1, static_cast<sqlite3_int64>(i)));
                BindBytes(db, name.get(), 2, candidates[i]);
                StepRow(db, name.get());
                sqlite3_reset(name.get());
            }
        }
        Exec(db, "COMMIT");
        // Kept in the file: every later connection writes through the log.
        Exec(db, "PRAGMA journal_mode = WAL");
        Check(db, sqlite3_close(db));
        db = nullptr;
        SyncFile(temporary);
        fs::rename(temporary, path);
        return held;
    } catch (const std::exception& e) {
        sqlite3_close(db);
        RemoveWithCompanions(temporary);
        throw TJournalError("cannot create journal " + path.string() + ": " + e.what());
    }
}

// A new journal at path in place of the file held there (made by this run
// when created, and then removed again when the journal cannot be written).
THeldFile WriteInPlaceOf(const fs::path& path, bool created,
                         const std::vector<std::string>& candidates, const std::string& show) {
    try {
        RemoveStaleLog(path);
        return WriteNewJournal(path, candidates, show);
    } catch (...) {
        std::error_code ignored;
        if (created)
            fs::remove(path, ignored);
        throw;
    }
}

// Refuses, in words, a file that is not a journal this program can read.
// A journal this run has just written needs no integrity check.
void CheckIsJournal(sqlite3* db, const fs::path& path, bool justWritten) {
    const std::string name = path.string();
    if (QueryInteger(db, "PRAGMA application_id") != ApplicationId)
        throw TJournalError(name + " is not a journal: a SQLite database of another kind");
    const std::int64_t version = QueryInteger(db, "PRAGMA user_version");
    if (version > SchemaVersion)
        throw TJournalError(name + " is a journal of a newer version of the program (version " +
                            std::to_string(version) + "; this one reads version " +
                            std::to_string(SchemaVersion) + ")");
    if (version < 1)
        throw TJournalError(name + " is not a journal: it has no journal version");
    if (justWritten)
        return;
    const TStatement check = Prepare(db, "PRAGMA quick_check(1)");
    std::string verdict = StepRow(db, check.get()) ? Bytes(check.get(), 0) : "no answer";
    if (verdict == "ok")
        return;
    // SQLite's report runs over several lines; a message is one.
    for (std::size_t at; (at = verdict.find('\n')) != std::string::npos;)
        verdict.replace(at, 1, "; ");
    throw TJournalError(name + " is damaged: " + verdict);
}

// A SQLite failure while a journal was opened, in words.
std::string DescribeOpenFailure(const fs::path& path, const TSqliteError& error) {
    switch (error.Code & 0xFF) {
    case SQLITE_NOTADB:
        return path.string() + " is not a journal: not a SQLite database";
    case SQLITE_CORRUPT:
    case SQLITE_ERROR:
        return path.string() + " is damaged: " + error.what();
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return path.string() + " is in use by another run";
    default:
        return "cannot read " + path.string() + ": " + error.what();
    }
}

// What open gives, or nothing with its refusal or failure in words.
template <class TOpen>
std::unique_ptr<TBatchJournal> RefusalInWords(const fs::path& path, std::string& error,
                                              const TOpen& open) {
    try {
        return open();
    } catch (const TSqliteError& e) {
        error = DescribeOpenFailure(path, e);
    } catch (const std::exception& e) {
        error = e.what();
    }
    return nullptr;
}

} // namespace

TBatchResult BatchResultOfJob(const TQueryDomain& job) {
    return TBatchResult{
        job.Domain,
        job.Verdict.Kind,
        std::string(ReasonWord(job.Verdict.Reason)),
        job.Verdict.Detail,
        job.RegTime,
        job.ExpTime,
        job.Email,
        job.IPAddress,
        job.WhoisServer,
        job.ResultLine,
        std::string(MethodWord(job.Method())),
    };
}

bool HasVerdict(const TBatchResult& result) {
    return result.Kind != TVerdictKind::Unknown;
}

fs::path UserJournalPath() {
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base = !dataHome.isEmpty() && QDir::isAbsolutePath(dataHome)
                             ? dataHome
                             : QDir::homePath() + QStringLiteral("/.local/share");
    return fs::path(QFile::encodeName(base).toStdString()) / "tavirelbrisvane" /
           "last-batch.journal";
}

TBatchJournal::TBatchJournal(fs::path path, int lockFd, sqlite3* db)
    : FPath(std::move(path)), FLockFd(lockFd), FDb(db) {
    FCommitTimer.setSingleShot(true);
    FCommitTimer.setInterval(CommitInterval);
    QObject::connect(&FCommitTimer, &QTimer::timeout, [this] { Commit(); });
}

TBatchJournal::~TBatchJournal() {
    // Nobody is left to hear of a failure now.
    OnFailure = nullptr;
    Commit();
    sqlite3_finalize(FInsert);
    sqlite3_close(FDb);
    ::close(FLockFd);
}

std::unique_ptr<TBatchJournal> TBatchJournal::Open(const fs::path& path, TAccess access,
                                                   bool justWritten, int fd) {
    sqlite3* db = nullptr;
    try {
        db = access == TAccess::Read
                 ? OpenDatabase(ReaderUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)
                 : OpenDatabase(path.string(), SQLITE_OPEN_READWRITE);
    } catch (...) {
        ::close(fd);
        throw;
    }
    std::unique_ptr<TBatchJournal> journal(new TBatchJournal(path, fd, db));
    CheckIsJournal(db, path, justWritten);
    if (access == TAccess::Write && QueryInteger(db, "PRAGMA user_version") < SchemaVersion)
        Exec(db, UpgradeToVersion2);
    if (access == TAccess::Write) {
        Exec(db, "PRAGMA journal_mode = WAL");
        // A kill loses nothing committed; only a power cut may cost the
        // last groups, never the file.
        Exec(db, "PRAGMA synchronous = NORMAL");
        Check(db, sqlite3_prepare_v2(db, InsertResult, -1, &journal->FInsert, nullptr));
    }
    journal->Load();
    journal->LoadSettings();
    // Tidiness only: Load has already passed the superseded rows over.
    if (access == TAccess::Write && journal->FSuperseded > 0)
        sqlite3_exec(db, DeleteSuperseded, nullptr, nullptr, nullptr);
    return journal;
}

void TBatchJournal::Load() {
    const TStatement batch = Prepare(FDb, "SELECT digest, show, finished FROM batch WHERE id = 1");
    if (!StepRow(FDb, batch.get()))
        throw TJournalError(FPath.string() + " is damaged: it holds no batch");
    FDigest = Bytes(batch.get(), 0);
    FShow = Bytes(batch.get(), 1);
    FFinished = sqlite3_column_int(batch.get(), 2) != 0;

    const TStatement names =
        Prepare(FDb, "SELECT position, name FROM candidates ORDER BY position");
    while (StepRow(FDb, names.get())) {
        if (sqlite3_column_int64(names.get(), 0) != static_cast<sqlite3_int64>(FCandidates.size()))
            throw TJournalError(FPath.string() + " is damaged: its candidate list has gaps");
        FCandidates.push_back(Bytes(names.get(), 1));
    }
    if (ListDigest(FCandidates) != FDigest)
        throw TJournalError(FPath.string() +
                            " is damaged: its candidate list does not match its digest");

    const bool hasMethod = QueryInteger(FDb, "PRAGMA user_version") >= SchemaVersion;
    const TStatement results = Prepare(FDb, hasMethod ? SelectResults : SelectResultsOfVersion1);
    std::vector<TBatchResult> rows;
    std::unordered_map<std::string, std::size_t> lastRow;
    while (StepRow(FDb, results.get())) {
        const std::optional<TVerdictKind> kind = VerdictOfWord(Bytes(results.get(), 1));
        if (!kind)
            throw TJournalError(FPath.string() + " is damaged: a result has no verdict");
        TBatchResult result;
        result.Domain = Bytes(results.get(), 0);
        result.Kind = *kind;
        result.Reason = Bytes(results.get(), 2);
        result.Detail = Bytes(results.get(), 3);
        result.RegTime = Bytes(results.get(), 4);
        result.ExpTime = Bytes(results.get(), 5);
        result.Email = Bytes(results.get(), 6);
        result.IPAddress = Bytes(results.get(), 7);
        result.WhoisServer = Bytes(results.get(), 8);
        result.ResultLine = Bytes(results.get(), 9);
        result.Method = Bytes(results.get(), 10);
        lastRow[result.Domain] = rows.size();
        rows.push_back(std::move(result));
    }
    std::unordered_set<std::string> done;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (lastRow[rows[i].Domain] != i)
            continue;
        if (HasVerdict(rows[i]))
            done.insert(rows[i].Domain);
        FKept.push_back(std::move(rows[i]));
    }
    FSuperseded = rows.size() - FKept.size();
    for (std::size_t i = 0; i < FCandidates.size(); ++i) {
        if (!done.count(FCandidates[i]))
            FPositionsLeft.push_back(static_cast<int>(i));
    }
}

std::unique_ptr<TBatchJournal>
TBatchJournal::OpenForList(const fs::path& path, const std::vector<std::string>& candidates,
                           const std::string& show, std::string& error) {
    return RefusalInWords(path, error, [&] {
        bool created = false;
        THeldFile held = HoldFile(path, TAccess::Write, true, created);
        // An empty file (as a fresh temporary file is) holds no journal yet.
        const bool fresh = IsEmptyFile(held.Fd());
        if (fresh)
            held = WriteInPlaceOf(path, created, candidates, show);
        std::unique_ptr<TBatchJournal> journal = Open(path, TAccess::Write, fresh, held.Release());
        if (journal->FDigest != ListDigest(candidates))
            throw TJournalError(path.string() + " is the journal of another candidate list");
        return journal;
    });
}

std::unique_ptr<TBatchJournal> TBatchJournal::OpenExisting(const fs::path& path, TAccess access,
                                                           std::string& error) {
    return RefusalInWords(path, error, [&] {
        bool created = false;
        THeldFile held = HoldFile(path, access, false, created);
        return Open(path, access, false, held.Release());
    });
}

std::unique_ptr<TBatchJournal> TBatchJournal::Replace(const fs::path& path,
                                                      const std::vector<std::string>& candidates,
                                                      const std::string& show, std::string& error) {
    return RefusalInWords(path, error, [&] {
        fs::create_directories(path.parent_path());
        bool created = false;
        // The old journal stays held until the new one is renamed over it, so
        // that no run that has it open loses it; its log goes with it.
        THeldFile held = HoldFile(path, TAccess::Write, true, created);
        std::error_code ignored;
        fs::remove(Companion(path, "-wal"), ignored);
        fs::remove(Companion(path, "-shm"), ignored);
        held = WriteInPlaceOf(path, created, candidates, show);
        return Open(path, TAccess::Write, true, held.Release());
    });
}

void TBatchJournal::Discard(const fs::path& path) {
    RemoveWithCompanions(path);
}

bool TBatchJournal::Record(const TBatchResult& result) {
    if (!FFailure.empty() || !FInsert)
        return false;
    FGroup.push_back(result);
    if (FGroup.size() == 1)
        FCommitTimer.start();
    return FGroup.size() < static_cast<std::size_t>(CommitCount) || Commit();
}

void TBatchJournal::StoreResult(const TBatchResult& result) {
    BindBytes(FDb, FInsert, 1, result.Domain);
    BindWord(FDb, FInsert, 2, VerdictWord(result.Kind));
    BindWord(FDb, FInsert, 3, result.Reason);
    BindBytes(FDb, FInsert, 4, result.Detail);
    BindBytes(FDb, FInsert, 5, result.RegTime);
    BindBytes(FDb, FInsert, 6, result.ExpTime);
    BindBytes(FDb, FInsert, 7, result.Email);
    BindBytes(FDb, FInsert, 8, result.IPAddress);
    BindBytes(FDb, FInsert, 9, result.WhoisServer);
    BindBytes(FDb, FInsert, 10, result.ResultLine);
    BindWord(FDb, FInsert, 11, result.Method);
    const int rc = sqlite3_step(FInsert);
    sqlite3_reset(FInsert);
    Check(FDb, rc);
}

bool TBatchJournal::Commit() {
    return CommitGroup(false);
}

bool TBatchJournal::MarkFinished() {
    return FInsert && CommitGroup(true);
}

bool TBatchJournal::CommitGroup(bool finished) {
    FCommitTimer.stop();
    if (!FFailure.empty())
        return false;
    if (FGroup.empty() && !finished)
        return true;
    // The group is stored at once, in one transaction: the SQLite work of a
    // hundred results in one go costs less than spread between the jobs.
    try {
        Exec(FDb, "BEGIN");
        for (const TBatchResult& result : FGroup)
            StoreResult(result);
        if (finished)
            Exec(FDb, "UPDATE batch SET finished = 1");
        Exec(FDb, "COMMIT");
    } catch (const TSqliteError& e) {
        return Fail(e.what());
    }
    FGroup.clear();
    FFinished = FFinished || finished;
    return true;
}

bool TBatchJournal::Fail(const std::string& failure) {
    FFailure = failure;
    // The open group goes; what was committed before it stays.
    if (!sqlite3_get_autocommit(FDb))
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    FGroup.clear();
    FCommitTimer.stop();
    if (OnFailure)
        OnFailure(FFailure);
    return false;
}

void TBatchJournal::LoadSettings() {
    if (QueryInteger(FDb, SettingsTableExists) == 0)
        return;
    TBatchSettings settings;
    const TStatement rows = Prepare(FDb, "SELECT key, value FROM settings");
    while (StepRow(FDb, rows.get()))
        settings[Bytes(rows.get(), 0)] = Bytes(rows.get(), 1);
    const auto version = settings.find(SettingsVersionKey);
    // Settings of a newer layout may mean something else: the batch goes on
    // with the window's own.
    if (version == settings.end() || version->second != std::to_string(SettingsVersion))
        return;
    settings.erase(version);
    FSettings = std::move(settings);
}

bool TBatchJournal::KeepSettings(const TBatchSettings& settings) {
    if (!FFailure.empty() || !FInsert)
        return false;
    try {
        Exec(FDb, "BEGIN");
        Exec(FDb, SettingsSchema);
        Exec(FDb, "DELETE FROM settings");
        const TStatement insert = Prepare(FDb, "INSERT INTO settings (key, value) VALUES (?, ?)");
        const auto store = [&](const std::string& key, const std::string& value) {
            BindWord(FDb, insert.get(), 1, key);
            BindBytes(FDb, insert.get(), 2, value);
            StepRow(FDb, insert.get());
            sqlite3_reset(insert.get());
        };
        store(SettingsVersionKey, std::to_string(SettingsVersion));
        for (const auto& [key, value] : settings) {
            if (key != SettingsVersionKey)
                store(key, value);
        }
        Exec(FDb, "COMMIT");
    } catch (const TSqliteError& e) {
        return Fail(e.what());
    }
    FSettings = settings;
    FSettings.erase(SettingsVersionKey);
    return true;
}

void PutBackKept(const TBatchJournal& journal, TGbkListModel& noReg, TGbkListModel& domainInfo) {
    std::vector<std::string> free;
    std::vector<std::string> lines;
    for (const TBatchResult& result : journal.Kept()) {
        if (!HasVerdict(result))
            continue;
        if (result.Kind == TVerdictKind::Free)
            free.push_back(result.Domain);
        lines.push_back(result.ResultLine);
    }
    noReg.AppendLines(free);
    domainInfo.AppendLines(lines);
}
