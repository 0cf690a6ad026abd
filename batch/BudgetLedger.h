#pragma once

// The queries spent on each host with a published daily budget, with their
// times, in a small database of the user's state folder: shared by the
// window, the command line and a later run the same day, so that no batch
// spends what an earlier one already has. Budgets are per address, so with
// proxies each one's spending is kept apart ("via" names it). No Qt here.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;

// $XDG_STATE_HOME/tavirelbrisvane/budgets.sqlite, or
// ~/.local/state/tavirelbrisvane/budgets.sqlite; "" when neither is known.
std::string BudgetLedgerFile();

// Seconds since 1970, as the ledger keeps them.
using TUnixSeconds = std::int64_t;
inline constexpr TUnixSeconds BudgetWindowSeconds = 24 * 60 * 60;

// What a spending came to: spent, or the budget was used up and when the
// oldest query in the window leaves it.
struct TBudgetSpend {
    bool Spent = false;
    int Left = 0; // after this query
    std::optional<TUnixSeconds> NextAt;
};

class TBudgetLedger {
public:
    // The ledger in file (its folder made when missing); null with error set
    // when it cannot be opened.
    static std::unique_ptr<TBudgetLedger> Open(const std::string& file, std::string& error);
    ~TBudgetLedger();
    TBudgetLedger(const TBudgetLedger&) = delete;
    TBudgetLedger& operator=(const TBudgetLedger&) = delete;

    // One query of host through via ("" straight) at now, when fewer than
    // perDay were spent in the 24 hours before now. A ledger that fails to
    // write spends nothing and says so in Error.
    TBudgetSpend Spend(const std::string& host, const std::string& via, int perDay,
                       TUnixSeconds now);
    // How many of perDay are left at now.
    int Left(const std::string& host, const std::string& via, int perDay, TUnixSeconds now);
    const std::string& Error() const { return FError; }

private:
    explicit TBudgetLedger(sqlite3* db) : FDb(db) {}
    int SpentSince(const std::string& host, const std::string& via, TUnixSeconds since);
    std::optional<TUnixSeconds> OldestSince(const std::string& host, const std::string& via,
                                            TUnixSeconds since);

    sqlite3* FDb;
    std::string FError;
};
