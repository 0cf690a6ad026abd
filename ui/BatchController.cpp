#include "ui/BatchController.h"

#include "engine/IntegerText.h"
#include "engine/RdapClient.h"

#include <QPointer>

#include <algorithm>
#include <numeric>

namespace {

// "暂停查询" (pause) and "继续查询" (resume)
constexpr const char* PauseCaption = "\xD4\xDD\xCD\xA3\xB2\xE9\xD1\xAF";
constexpr const char* ResumeCaption = "\xBC\xCC\xD0\xF8\xB2\xE9\xD1\xAF";
// "  正在查询…"
constexpr const char* RunningStateTail = "  \xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xA1\xAD";
// " - 任务结束"
constexpr const char* EndedStateTail = " - \xC8\xCE\xCE\xF1\xBD\xE1\xCA\xF8";
constexpr const char* RangeCheckMessage = "Range check error";

std::string SlotName(int slot) {
    return "Thread " + std::to_string(slot + 1);
}

} // namespace

TRunPageButtons RunPageButtons(int runningCount) {
    const bool running = runningCount != 0;
    return TRunPageButtons{!running, !running, running, false};
}

TBatchController::TBatchController(TGbkListModel& domains, TGbkListModel& queryState,
                                   TGbkListModel& noReg, TGbkListModel& domainInfo,
                                   TFlagsProvider flags, QObject* parent)
    : QObject(parent), FDomains(domains), FQueryState(queryState), FNoReg(noReg),
      FDomainInfo(domainInfo), FFlags(std::move(flags)), FStopCaption(PauseCaption) {}

std::string TBatchController::RunningStateLine(int slot, const std::string& domain) {
    return SlotName(slot) + " - " + domain + RunningStateTail;
}

std::string TBatchController::EndedStateLine(int slot) {
    return SlotName(slot) + EndedStateTail;
}

void TBatchController::SetRegistryData(std::shared_ptr<const TRegistryData> data) {
    FRegistryData = std::move(data);
}

void TBatchController::SetProtocolPreference(TProtocolPreference preference) {
    FProtocolPreference = preference;
}

std::string TBatchController::Start(const std::string& threadText) {
    std::vector<int> everyPosition(static_cast<std::size_t>(FDomains.Count()));
    std::iota(everyPosition.begin(), everyPosition.end(), 0);
    return Start(threadText, std::move(everyPosition));
}

std::string TBatchController::Start(const std::string& threadText, std::vector<int> positions) {
    if (FRunningCount != 0)
        return "";
    const std::optional<std::int32_t> count = ParseIntegerText(threadText);
    if (!count)
        return NotAnIntegerMessage(threadText);
    if (*count < 0)
        return RangeCheckMessage;

    FThreadCount = *count;
    std::erase_if(positions, [this](int p) { return p < 0 || p >= FDomains.Count(); });
    FPositions = std::move(positions);
    FTotalCount = static_cast<int>(FPositions.size());
    // A slot beyond the number of candidates never receives a job, so the
    // array need not hold it; this keeps a huge count from sizing it to
    // billions of entries.
    FQueryJobs.assign(static_cast<std::size_t>(std::min(FThreadCount, FTotalCount)), nullptr);
    ResetProgress(FTotalCount);
    FRdapConnections = std::make_shared<TRdapConnections>();
    for (int slot = 0; slot < FThreadCount && slot < FTotalCount; ++slot)
        StartQueryJob(slot, FPositions[static_cast<std::size_t>(slot)]);
    return "";
}

void TBatchController::ResetProgress(int maximum) {
    FProgressMaximum = maximum;
    FProgressPosition = 0;
    emit ProgressChanged(FProgressPosition, FProgressMaximum);
}

void TBatchController::StartQueryJob(int slot, int position) {
    FCurrentDomain = FDomains.At(position);
    const TDisplayFlags flags = FFlags ? FFlags() : TDisplayFlags{};
    auto* job = new TQueryDomain(slot, FCurrentDomain, &FNoReg, flags.ShowDomain, flags.ShowEmail,
                                 flags.ShowIPAddress, flags.ShowRegTime, flags.ShowExpTime);
    job->RegistryData = FRegistryData;
    job->ProtocolPreference = FProtocolPreference;
    job->RdapConnections = FRdapConnections;
    job->Proxies = FProxies;
    FQueryJobs[static_cast<std::size_t>(slot)] = job;
    ++FRunningCount;
    ++FNextIndex;

    const std::string stateLine = RunningStateLine(slot, FCurrentDomain);
    if (slot < FQueryState.Count())
        FQueryState.ReplaceLine(slot, stateLine);
    else
        FQueryState.Append(stateLine);

    // A job end handled after a pause hands its slot to a job that waits for
    // the resume before its first query: only jobs already in flight finish.
    if (IsPaused())
        job->Suspend();

    // A controller that is gone no longer hears of its jobs' ends.
    QPointer<TBatchController> self(this);
    job->Start([self](TJob* ended) {
        if (self)
            self->QueryDomainTerminate(ended);
    });
}

void TBatchController::QueryDomainTerminate(TJob* sender) {
    auto* job = static_cast<TQueryDomain*>(sender);
    const int slot = job->Index;
    FDomainInfo.Append(job->ResultLine);
    FDomainInfo.Select(FDomainInfo.Count() - 1);
    emit ResultAppended(job->ResultLine);
    emit QueryEnded(job);

    FQueryState.ReplaceLine(slot, EndedStateLine(slot));
    --FRunningCount;
    if (slot >= 0 && static_cast<std::size_t>(slot) < FQueryJobs.size())
        FQueryJobs[static_cast<std::size_t>(slot)] = nullptr;

    if (FProgressPosition < FProgressMaximum)
        ++FProgressPosition;
    emit ProgressChanged(FProgressPosition, FProgressMaximum);

    if (FNextIndex < FTotalCount &&
        FPositions[static_cast<std::size_t>(FNextIndex)] < FDomains.Count()) {
        StartQueryJob(slot, FPositions[static_cast<std::size_t>(FNextIndex)]);
    } else if (FRunningCount == 0) {
        FQueryState.Clear();
        FNextIndex = 0;
        emit BatchEnded();
    }
}

void TBatchController::PauseOrResume() {
    if (FStopCaption == PauseCaption) {
        FStopCaption = ResumeCaption;
        for (TQueryDomain* job : FQueryJobs) {
            if (job)
                job->Suspend();
        }
    } else {
        FStopCaption = PauseCaption;
        for (TQueryDomain* job : FQueryJobs) {
            if (job)
                job->Resume();
        }
    }
}

bool TBatchController::IsPaused() const {
    return FStopCaption != PauseCaption;
}
