#pragma once

// The journal of a batch: a SQLite file (WAL mode) that holds the candidate
// list and each name's result as it arrives, so that a batch cut short by a
// crash, a kill or a closed terminal goes on where it stopped. Results are
// committed in groups, at most CommitInterval or CommitCount results apart,
// so journaling costs the batch next to nothing; a kill loses only the group
// not yet committed, and those names are simply asked again. A journal
// belongs to one candidate list (a digest of the names is kept in it) and is
// held by one run at a time. Lives on the UI thread; Qt Core only (the commit
// timer, the digest, the home folder).

#include "engine/Verdict.h"

#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class TGbkListModel;
class TQueryDomain;

// One name's result as a batch reports it and the journal keeps it; every
// text in the program's GBK bytes.
struct TBatchResult {
    std::string Domain;
    TVerdictKind Kind = TVerdictKind::Unknown;
    std::string Reason; // ReasonWord of the verdict's reason, "" for none
    std::string Detail; // the verdict's detail
    std::string RegTime;
    std::string ExpTime;
    std::string Email;
    std::string IPAddress;
    std::string WhoisServer;
    std::string ResultLine;
    // Where the verdict came from: MethodWord ("dns", "zone", "whois",
    // "rdap"; "" when nothing was asked).
    std::string Method;

    bool operator==(const TBatchResult&) const = default;
};

// What a finished query job reports.
TBatchResult BatchResultOfJob(const TQueryDomain& job);

// Whether the name is done with: free or registered. An unknown name is asked
// again when its batch goes on.
bool HasVerdict(const TBatchResult& result);

// The journal the main window keeps of its last batch: tavirelbrisvane/
// last-batch.journal in the user's data folder ($XDG_DATA_HOME, or
// ~/.local/share when that is not set to an absolute path).
std::filesystem::path UserJournalPath();

// The settings a batch runs with (thread count, retries, display columns,
// 查询方式, ...), by name, each value a GBK text; what they mean is the front
// end's.
using TBatchSettings = std::map<std::string, std::string>;

class TBatchJournal {
public:
    static constexpr std::chrono::milliseconds CommitInterval{200};
    static constexpr int CommitCount = 100;

    // Who may write through an opened journal: Write holds the file for this
    // run alone (another run is refused as long as it is open); Read only
    // reads what is there, beside a run that writes, and writes nothing: a
    // journal in a folder that cannot be written reads too.
    enum class TAccess { Read, Write };

    // The journal at path for candidates, to write. No file there (or an
    // empty one) gets a new journal of the list; a journal of the same list
    // kept with the same show text is taken up with its results. Refused with
    // the reason in error, the file left as it is: a file that is not a
    // journal (not SQLite, another database, damaged or cut short), one of a
    // newer version, a journal of another list or show text, one in use by
    // another run, or a journal that cannot be created.
    static std::unique_ptr<TBatchJournal> OpenForList(const std::filesystem::path& path,
                                                      const std::vector<std::string>& candidates,
                                                      const std::string& show, std::string& error);
    // The journal at path with the list it holds; refused as above.
    static std::unique_ptr<TBatchJournal> OpenExisting(const std::filesystem::path& path,
                                                       TAccess access, std::string& error);
    // A new journal of candidates at path in place of the journal that was
    // there, whatever it held; refused only when that one is in use or the
    // new one cannot be created.
    static std::unique_ptr<TBatchJournal> Replace(const std::filesystem::path& path,
                                                  const std::vector<std::string>& candidates,
                                                  const std::string& show, std::string& error);
    // Removes the journal at path with its companion files.
    static void Discard(const std::filesystem::path& path);

    // Commits what is pending.
    ~TBatchJournal();
    TBatchJournal(const TBatchJournal&) = delete;
    TBatchJournal& operator=(const TBatchJournal&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    const std::vector<std::string>& Candidates() const { return FCandidates; }
    const std::string& Show() const { return FShow; }
    // Whether the batch was marked as run to its end.
    bool Finished() const { return FFinished; }
    // The results the journal held when opened, in the order they came; a
    // name asked more than once appears once, with its last result.
    const std::vector<TBatchResult>& Kept() const { return FKept; }
    // The positions in Candidates() of the names that had no verdict when the
    // journal was opened (never asked, or left unknown), in list order.
    const std::vector<int>& PositionsLeft() const { return FPositionsLeft; }

    // Adds a result, replacing an earlier one of the same name; it is
    // stored and committed with its group. False once storing has failed.
    bool Record(const TBatchResult& result);
    // Commits the open group now.
    bool Commit();
    // Marks the batch as run to its end, committed at once.
    bool MarkFinished();

    // The settings kept with the batch when the journal was opened: empty for
    // a journal that keeps none (written before settings were kept, or whose
    // settings are of a newer layout than this program reads).
    const TBatchSettings& Settings() const { return FSettings; }
    // Keeps settings in place of those kept, committed at once. False once
    // storing has failed, and for a journal opened to read.
    bool KeepSettings(const TBatchSettings& settings);

    // What SQLite said when storing failed; "" while nothing failed. From
    // then on the journal stores nothing more and keeps what was committed.
    const std::string& Failure() const { return FFailure; }
    // Called once, on the UI thread, when storing fails (also from a commit
    // that the timer made).
    std::function<void(const std::string& failure)> OnFailure;
    // A journal written on a thread of its own is handed to thread, which
    // then uses it alone; called on the thread that made it.
    void HandTo(QThread* thread) { FCommitTimer.moveToThread(thread); }

private:
    TBatchJournal(std::filesystem::path path, int lockFd, sqlite3* db);
    // Takes lockFd, the file's held descriptor, in every case.
    static std::unique_ptr<TBatchJournal> Open(const std::filesystem::path& path, TAccess access,
                                               bool justWritten, int lockFd);

    void Load();
    void LoadSettings();
    void StoreResult(const TBatchResult& result);
    bool CommitGroup(bool finished);
    bool Fail(const std::string& failure);

    std::filesystem::path FPath;
    int FLockFd;
    sqlite3* FDb;
    sqlite3_stmt* FInsert = nullptr;
    std::vector<std::string> FCandidates;
    std::string FDigest;
    std::string FShow;
    bool FFinished = false;
    std::vector<TBatchResult> FKept;
    // Rows of names asked again after them, passed over by Load.
    std::size_t FSuperseded = 0;
    std::vector<int> FPositionsLeft;
    TBatchSettings FSettings;
    // The results recorded since the last commit.
    std::vector<TBatchResult> FGroup;
    std::string FFailure;
    QTimer FCommitTimer;
};

// Puts what a journal kept back into a batch's lists, in the order it came:
// the free names into noReg, the result lines of the names with a verdict
// into domainInfo. Unknown names are left out; they are asked again.
void PutBackKept(const TBatchJournal& journal, TGbkListModel& noReg, TGbkListModel& domainInfo);
