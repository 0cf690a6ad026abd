#pragma once

// The batch of domain queries behind the run page: a bounded number of slots,
// each running one query job at a time, the candidates handed out in list
// order to whichever slot frees first. Lives on the UI thread and knows only
// list models, so the main window and the command line drive the same rules.

#include "engine/QueryDomain.h"
#include "ui/GbkListModel.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TJob;
class TProxyRotation;
class TRdapConnections;
class TRegistryData;

// Which run-page buttons are enabled.
struct TRunPageButtons {
    bool Start;
    bool Prev;
    bool Stop;
    bool Next;
};

// Jobs running: start and back disabled, pause enabled; none running: the
// reverse. Next is never enabled on the run page.
TRunPageButtons RunPageButtons(int runningCount);

class TBatchController : public QObject {
    Q_OBJECT

public:
    // Read each time a job is created, so a change during a batch applies to
    // the jobs created after it.
    using TFlagsProvider = std::function<TDisplayFlags()>;

    // The four lists must outlive the controller and every job it started.
    TBatchController(TGbkListModel& domains, TGbkListModel& queryState, TGbkListModel& noReg,
                     TGbkListModel& domainInfo, TFlagsProvider flags, QObject* parent = nullptr);

    // What the next batches work with; each takes effect at the next Start.
    // The registry data goes to every job (the names are checked and routed
    // with it); null: the program's own.
    void SetRegistryData(std::shared_ptr<const TRegistryData> data);
    // Which protocols the jobs may ask (the settings page's 查询方式).
    void SetProtocolPreference(TProtocolPreference preference);
    // The proxies the jobs started from now on take theirs from, in turn;
    // null or empty: every server is asked straight.
    void SetProxies(std::shared_ptr<TProxyRotation> proxies) { FProxies = std::move(proxies); }
    const std::shared_ptr<TProxyRotation>& Proxies() const { return FProxies; }

    // btnStartClick: threadText is the thread-count field. Returns the message
    // to show ("" for none): the conversion message when the text is not an
    // integer, "Range check error" for a negative count. A count of 0 starts
    // nothing but still resets the progress. A request while jobs run does
    // nothing.
    std::string Start(const std::string& threadText);
    // The same, but the batch asks only the candidates at positions, in that
    // order (what a journal left of an earlier batch); positions outside the
    // list are passed over. TotalCount is then the number of positions.
    std::string Start(const std::string& threadText, std::vector<int> positions);

    // btnStopClick: pauses the running jobs, or resumes them when paused.
    void PauseOrResume();
    // The caption of the pause button, the record of whether the batch is paused.
    const std::string& StopCaption() const { return FStopCaption; }
    bool IsPaused() const;

    // Starts the job for the candidate at position in slot; while the batch
    // is paused the job waits for the resume before its first query.
    void StartQueryJob(int slot, int position);
    // The end of a job, on the UI thread, before the job frees itself.
    void QueryDomainTerminate(TJob* sender);

    int ThreadCount() const { return FThreadCount; }
    int RunningCount() const { return FRunningCount; }
    int NextIndex() const { return FNextIndex; }
    int TotalCount() const { return FTotalCount; }
    const std::string& CurrentDomain() const { return FCurrentDomain; }
    const std::vector<TQueryDomain*>& QueryJobs() const { return FQueryJobs; }

    int ProgressMaximum() const { return FProgressMaximum; }
    int ProgressPosition() const { return FProgressPosition; }

    // The state lines of a slot (n = slot + 1).
    static std::string RunningStateLine(int slot, const std::string& domain);
    static std::string EndedStateLine(int slot);

signals:
    void ProgressChanged(int position, int maximum);
    // A finished job's result line was appended to the result list.
    void ResultAppended(const std::string& line);
    // A job ended (after ResultAppended for its line): its verdict, exchange
    // end and facts, for front ends that report more than the line. The job
    // is valid only during the call.
    void QueryEnded(const TQueryDomain* job);
    // The last job of the batch ended; the controller is idle again.
    void BatchEnded();

private:
    void ResetProgress(int maximum);

    TGbkListModel& FDomains;
    TGbkListModel& FQueryState;
    TGbkListModel& FNoReg;
    TGbkListModel& FDomainInfo;
    TFlagsProvider FFlags;

    std::shared_ptr<const TRegistryData> FRegistryData;
    TProtocolPreference FProtocolPreference = TProtocolPreference::Auto;
    // The RDAP connections of the current batch, kept open from one query of
    // a server to the next; every job holds a share, so they outlive it.
    std::shared_ptr<TRdapConnections> FRdapConnections;
    std::shared_ptr<TProxyRotation> FProxies;

    int FThreadCount = 0;
    int FRunningCount = 0;
    int FNextIndex = 0;
    int FTotalCount = 0;
    std::string FCurrentDomain;
    std::vector<TQueryDomain*> FQueryJobs;
    // The positions of the batch's candidates, in the order they are asked.
    std::vector<int> FPositions;

    int FProgressMaximum = 0;
    int FProgressPosition = 0;
    std::string FStopCaption;
};
