#include "batch/BudgetLedger.h"

#include "engine/DataFolder.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

constexpr int BusyTimeoutMs = 5000;

constexpr const char* Schema = "CREATE TABLE IF NOT EXISTS spent ("
                               " host TEXT NOT NULL, via TEXT NOT NULL, at INTEGER NOT NULL);"
                               "CREATE INDEX IF NOT EXISTS spent_by_host ON spent (host, via, at);";

// A prepared statement that finalises itself.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr); }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    bool Ok() const { return FStmt != nullptr; }
    TStatement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(FStmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    TStatement& Bind(int index, TUnixSeconds value) {
        sqlite3_bind_int64(FStmt, index, value);
        return *this;
    }
    int Step() { return FStmt ? sqlite3_step(FStmt) : SQLITE_ERROR; }
    std::int64_t Column(int index) { return sqlite3_column_int64(FStmt, index); }
    bool IsNull(int index) { return sqlite3_column_type(FStmt, index) == SQLITE_NULL; }

private:
    sqlite3_stmt* FStmt = nullptr;
};

} // namespace

std::string BudgetLedgerFile() {
    const std::string folder = UserFolderOfKind("XDG_STATE_HOME", ".local/state");
    return folder.empty() ? "" : folder + "/budgets.sqlite";
}

std::unique_ptr<TBudgetLedger> TBudgetLedger::Open(const std::string& file, std::string& error) {
    if (file.empty()) {
        error = "no state folder (neither XDG_STATE_HOME nor HOME is set)";
        return nullptr;
    }
    std::error_code made;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), made);
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, BusyTimeoutMs);
        if (sqlite3_exec(db, Schema, nullptr, nullptr, nullptr) == SQLITE_OK)
            return std::unique_ptr<TBudgetLedger>(new TBudgetLedger(db));
    }
    error = file + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
}

TBudgetLedger::~TBudgetLedger() {
    sqlite3_close(FDb);
}

int TBudgetLedger::SpentSince(const std::string& host, const std::string& via, TUnixSeconds since) {
    TStatement count(FDb, "SELECT count(*) FROM spent WHERE host = ? AND via = ? AND at > ?");
    count.Bind(1, host).Bind(2, via).Bind(3, since);
    return count.Step() == SQLITE_ROW ? static_cast<int>(count.Column(0)) : 0;
}

std::optional<TUnixSeconds> TBudgetLedger::OldestSince(const std::string& host,
                                                       const std::string& via, TUnixSeconds since) {
    TStatement oldest(FDb, "SELECT min(at) FROM spent WHERE host = ? AND via = ? AND at > ?");
    oldest.Bind(1, host).Bind(2, via).Bind(3, since);
    if (oldest.Step() != SQLITE_ROW || oldest.IsNull(0))
        return std::nullopt;
    return oldest.Column(0);
}

TBudgetSpend TBudgetLedger::Spend(const std::string& host, const std::string& via, int perDay,
                                  TUnixSeconds now) {
    TBudgetSpend spend;
    const TUnixSeconds since = now - BudgetWindowSeconds;
    // One writer at a time, so two programs spending together cannot both
    // take the last query.
    if (sqlite3_exec(FDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        FError = sqlite3_errmsg(FDb);
        return spend;
    }
    const int spent = SpentSince(host, via, since);
    if (spent >= perDay) {
        const std::optional<TUnixSeconds> oldest = OldestSince(host, via, since);
        spend.NextAt = (oldest ? *oldest : now) + BudgetWindowSeconds;
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        return spend;
    }
    TStatement insert(FDb, "INSERT INTO spent (host, via, at) VALUES (?, ?, ?)");
    insert.Bind(1, host).Bind(2, via).Bind(3, now);
    TStatement prune(FDb, "DELETE FROM spent WHERE at <= ?");
    prune.Bind(1, since);
    if (insert.Step() != SQLITE_DONE || prune.Step() != SQLITE_DONE ||
        sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        FError = sqlite3_errmsg(FDb);
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        return spend;
    }
    spend.Spent = true;
    spend.Left = perDay - spent - 1;
    return spend;
}

int TBudgetLedger::Left(const std::string& host, const std::string& via, int perDay,
                        TUnixSeconds now) {
    return std::max(0, perDay - SpentSince(host, via, now - BudgetWindowSeconds));
}
