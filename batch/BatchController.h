#pragma once

// The batch of domain queries behind the run page: a bounded number of slots,
// each running one query job at a time, the candidates handed out in list
// order to whichever slot frees first. A name left unknown for a reason time
// can mend is asked again later (BatchScheduler), each server at its own pace
// and after the waits it asks for; only a name's last result is reported.
// Lives on the UI thread and knows only list models, so the main window and
// the command line drive the same rules.

#include "batch/BatchScheduler.h"
#include "batch/GbkListModel.h"
#include "engine/QueryDomain.h"
#include "engine/zone/ZoneIndex.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class QTimer;
class TDnsFirstStage;
class TJob;
struct TDelegation;
class TProxyRotation;
class TRdapConnections;
class TRegistryData;
class TBudgetLedger;
struct TRegistryLimits;

// Which run-page buttons are enabled.
struct TRunPageButtons {
    bool Start;
    bool Prev;
    bool Stop;
    bool Next;
};

// A batch under way (runningCount not 0): start and back disabled, pause
// enabled; none: the reverse. Next is never enabled on the run page.
TRunPageButtons RunPageButtons(int runningCount);

// Where a name of a batch goes: the name sent (A-labels) and the server
// whose waits and pace its queries count against, the one its query job asks
// first (a port-43 host, or an RDAP base's host); both "" for a name the job
// asks no one about. Each name is checked on its own; the route, which only
// the name's suffix decides, is found once per suffix, so that routing a list
// of a million names costs little more than checking them.
struct TBatchRoute {
    std::string QueryName;
    std::string Server;
};

class TBatchServers {
public:
    TBatchServers(std::shared_ptr<const TRegistryData> data, TProtocolPreference preference);
    TBatchRoute RouteOf(const std::string& domain);

private:
    std::shared_ptr<const TRegistryData> FData;
    TProtocolPreference FPreference;
    std::unordered_map<std::string, std::string> FBySuffix;
};

// How the names of a batch came out so far.
struct TBatchCounts {
    int Free = 0;
    int Registered = 0;
    int Unknown = 0; // decided unknown: no retry left, or none worth making
    int Waiting = 0; // waiting for a retry
};

// Batch time: the program's seconds, which a test clock runs faster than the
// wall clock so that waits of seconds take milliseconds.
class TBatchClock {
public:
    explicit TBatchClock(double speed = 1);
    TBatchTime Now() const;
    // The real milliseconds until at (0 when it is past).
    int RealMillisecondsUntil(TBatchTime at) const;
    int RealMilliseconds(TBatchDuration span) const;
    // The wall-clock time at comes at.
    std::chrono::system_clock::time_point WallTimeOf(TBatchTime at) const;

private:
    double FSpeed;
    std::chrono::steady_clock::time_point FOrigin;
};

class TBatchController : public QObject {
    Q_OBJECT

public:
    // Read each time a job is created, so a change during a batch applies to
    // the jobs created after it.
    using TFlagsProvider = std::function<TDisplayFlags()>;

    // The four lists must outlive the controller and every job it started.
    TBatchController(TGbkListModel& domains, TGbkListModel& queryState, TGbkListModel& noReg,
                     TGbkListModel& domainInfo, TFlagsProvider flags, QObject* parent = nullptr);
    ~TBatchController() override;

    // What the next batches work with; each takes effect at the next Start.
    // The registry data goes to every job (the names are checked and routed
    // with it, and the reply read with its server's wording); null: the
    // program's own.
    void SetRegistryData(std::shared_ptr<const TRegistryData> data);
    // Which protocols the jobs may ask (the settings page's 查询方式).
    void SetProtocolPreference(TProtocolPreference preference);
    // Queries a second by server ("host" or "host:port"), as the user set them.
    void SetUserPaces(std::map<std::string, double> paces);
    // The waits between retries (Retries comes from Start).
    void SetRetryPolicy(const TRetryPolicy& policy);
    void SetClock(const TBatchClock& clock);
    void SetJitter(TBatchScheduler::TJitter jitter);
    // The proxies the jobs started from now on take theirs from, in turn;
    // null or empty: every server is asked straight.
    void SetProxies(std::shared_ptr<TProxyRotation> proxies) { FProxies = std::move(proxies); }
    // Whether the TLDs' name servers are asked first (DnsFirstStage): a name
    // they delegate is registered without a registry query. Off unless set:
    // the front ends decide it (DecideDnsFirst).
    void SetDnsFirst(bool on) { FDnsFirst = on; }
    // Whether a free read over port 43 is confirmed over RDAP (on by default).
    void SetConfirmFree(bool on) { FConfirmFree = on; }
    // Before Start: the published daily budgets (null: the program's own)
    // and the file their spending is kept in ("": BudgetLedgerFile()).
    void SetRegistryLimits(const TRegistryLimits* limits, std::string ledgerFile = "");
    bool DnsFirst() const { return FDnsFirst; }
    // Zone files: a name one of them delegates is registered (method zone)
    // before DNS or a registry is asked.
    void SetZones(TZoneIndexes zones) { FZones = std::move(zones); }
    // The TLDs DNS first was off for in the current or last batch, and why.
    std::map<std::string, std::string> DnsTldsOff() const;
    const std::shared_ptr<TProxyRotation>& Proxies() const { return FProxies; }

    // btnStartClick: threadText is the thread-count field, retriesText the
    // retry-count field. Returns the message to show ("" for none): the
    // conversion message when a text is not an integer, "Range check error"
    // for a negative thread count or a retry count outside 0 to 10. A thread
    // count of 0 starts nothing but still resets the progress. A request while
    // a batch is under way does nothing.
    std::string Start(const std::string& threadText, const std::string& retriesText = "3");
    // The same, but the batch asks only the candidates at positions, in that
    // order (what a journal left of an earlier batch); positions outside the
    // list are passed over. TotalCount is then the number of positions.
    // carried: what the earlier run of the batch decided, counted in Counts()
    // and in the progress from the start, so a batch taken up again goes on
    // from its own figures (its Waiting is not taken).
    std::string Start(const std::string& threadText, const std::string& retriesText,
                      std::vector<int> positions, const TBatchCounts& carried = {});

    // btnStopClick: pauses the running jobs, or resumes them when paused.
    // While paused no query starts; the batch goes on only once resumed.
    void PauseOrResume();
    // The caption of the pause button, the record of whether the batch is paused.
    const std::string& StopCaption() const { return FStopCaption; }
    bool IsPaused() const;

    // The end of a job, on the UI thread, before the job frees itself.
    void QueryDomainTerminate(TJob* sender);

    // From Start until every name has its last result: jobs may be running
    // or names waiting for a retry.
    bool IsActive() const { return FActive; }
    int ThreadCount() const { return FThreadCount; }
    int RunningCount() const { return FRunningCount; }
    // The position of the next candidate to hand out; 0 between batches.
    int NextIndex() const;
    int TotalCount() const { return FTotalCount; }
    int Retries() const { return FPolicy.Retries; }
    const std::string& CurrentDomain() const { return FCurrentDomain; }
    const std::vector<TQueryDomain*>& QueryJobs() const { return FQueryJobs; }

    int ProgressMaximum() const { return FProgressMaximum; }
    int ProgressPosition() const { return FProgressPosition; }
    // Of the current or last batch.
    TBatchCounts Counts() const;
    // The names the current or last batch left unknown, in the order decided.
    const std::vector<std::string>& UnknownNames() const { return FUnknownNames; }
    // The pace of server in the current or last batch; null when it was not asked.
    const TServerPace* PaceOf(const std::string& server) const;
    // The servers the current or last batch put off (they asked for a wait
    // longer than it waits out), each with when it may be asked again.
    std::vector<std::pair<std::string, std::chrono::system_clock::time_point>>
    PutOffServers() const;

    // The state lines of a slot (n = slot + 1).
    static std::string RunningStateLine(int slot, const std::string& domain);
    static std::string EndedStateLine(int slot);
    // "Thread n - domain  等待重试（N 秒）"
    static std::string WaitingStateLine(int slot, const std::string& domain, long seconds);
    // "未注册 F · 已注册 R · 未知 U · 等待重试 W"
    static std::string CountsLine(const TBatchCounts& counts);

signals:
    // The progress counts names with their last result.
    void ProgressChanged(int position, int maximum);
    // A name's last result line was appended to the result list.
    void ResultAppended(const std::string& line);
    // A name got its last result (after ResultAppended for its line): its
    // verdict, exchange end and facts, for front ends that report more than
    // the line. The job is valid only during the call.
    void QueryEnded(const TQueryDomain* job);
    // Any query ended, the last of its name or not (before QueryEnded).
    void AttemptEnded(const TQueryDomain* job);
    // The daily budgets cannot be kept: their ledger did not open (why).
    // The batch goes on asking.
    void BudgetLedgerFailed(const std::string& why);
    // Counts() changed.
    void CountsChanged();
    // A batch has started: jobs run or names wait (after ProgressChanged).
    void BatchStarted();
    // The last name of the batch got its result; the controller is idle again.
    void BatchEnded();

private:
    void ResetProgress(int position, int maximum);
    void StartQueryJob(int slot, TBatchName name, TBatchTime now);
    std::optional<TVerdict> BudgetSpent(const TBatchName& name);
    void FillFreeSlots();
    void ShowIdleSlots();
    void SetStateLine(int slot, const std::string& line);
    void ArmWake();
    void Report(const TQueryDomain& job);
    void EndBatch();
    void EndIfDone();
    std::optional<std::string> CandidateAt(int position) const;
    // The stages before the slots: the zones, then the DNS stage. Names go
    // to them in list order, a window at a time; those they do not decide
    // go on to the slots in the order they come back.
    void FeedDnsStage();
    void DnsAnswered(int position, TDelegation&& delegation);
    bool DnsStageDone() const;
    void ReportDecidedEarly(int position, const std::function<void(TQueryDomain&)>& settle);

    TGbkListModel& FDomains;
    TGbkListModel& FQueryState;
    TGbkListModel& FNoReg;
    TGbkListModel& FDomainInfo;
    TFlagsProvider FFlags;

    std::shared_ptr<const TRegistryData> FRegistryData;
    // The routes of the batch under way: its scheduler's and its early
    // stages' (one per batch, since the data and the preference are).
    std::shared_ptr<TBatchServers> FServers;
    TProtocolPreference FProtocolPreference = TProtocolPreference::Auto;
    // The RDAP connections of the current batch, kept open from one query of
    // a server to the next; every job holds a share, so they outlive it.
    std::shared_ptr<TRdapConnections> FRdapConnections;
    std::map<std::string, double> FUserPaces;
    TRetryPolicy FPolicy;
    TBatchClock FClock;
    TBatchScheduler::TJitter FJitter;
    std::shared_ptr<TProxyRotation> FProxies;
    bool FDnsFirst = false;
    bool FConfirmFree = true;
    // The published daily budgets, and the ledger of what they spent,
    // opened when a host with a budget is first asked.
    const TRegistryLimits* FLimits = nullptr;
    std::string FLedgerFile;
    std::unique_ptr<TBudgetLedger> FLedger;
    bool FLedgerTried = false;
    // By port-43 server: the last name it answered registered in this batch,
    // the canary a second look asks beside its name.
    std::map<std::string, std::string> FRegisteredBy;
    TZoneIndexes FZones;
    // Zones or DNS decide names before the slots take them.
    bool FEarlyStages = false;
    std::unique_ptr<TDnsFirstStage> FDnsStage;
    std::size_t FDnsNext = 0; // the next of FPositions to hand the DNS stage

    bool FActive = false;
    int FThreadCount = 0;
    int FRunningCount = 0;
    int FTotalCount = 0;
    std::string FCurrentDomain;
    std::vector<TQueryDomain*> FQueryJobs;
    // The positions of the batch's candidates, in the order they are asked;
    // of those, the ones the slots take, in the order the DNS stage passed
    // them on (all of them, in order, without it).
    std::vector<int> FPositions;
    std::vector<int> FPassed;
    // What each slot's job is querying, and since when.
    std::vector<std::optional<TBatchName>> FSlotNames;
    std::vector<TBatchTime> FSlotStarted;
    std::unique_ptr<TBatchScheduler> FScheduler;
    QTimer* FWakeTimer = nullptr;
    QTimer* FFeedTimer = nullptr; // the next piece of the early stages
    QTimer* FRefreshTimer = nullptr;

    int FProgressMaximum = 0;
    int FProgressPosition = 0;
    TBatchCounts FCounts;
    std::vector<std::string> FUnknownNames;
    std::string FStopCaption;
};
