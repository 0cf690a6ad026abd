#include "batch/BatchController.h"

#include "batch/BudgetLedger.h"
#include "engine/RegistryLimits.h"
#include "engine/UtcTimeText.h"

#include "batch/DnsFirstStage.h"

#include "engine/DomainName.h"
#include "engine/IntegerText.h"
#include "engine/ProxyRotation.h"
#include "engine/RdapClient.h"
#include "engine/RegistryData.h"
#include "engine/ServerChoice.h"
#include "engine/Unit_Functions.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// "暂停查询" (pause) and "继续查询" (resume)
constexpr const char* PauseCaption = "\xD4\xDD\xCD\xA3\xB2\xE9\xD1\xAF";
constexpr const char* ResumeCaption = "\xBC\xCC\xD0\xF8\xB2\xE9\xD1\xAF";
// "  正在查询…"
constexpr const char* RunningStateTail = "  \xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xA1\xAD";
// " - 任务结束"
constexpr const char* EndedStateTail = " - \xC8\xCE\xCE\xF1\xBD\xE1\xCA\xF8";
// "  等待重试（" and " 秒）"
constexpr const char* WaitingStateMiddle = "  \xB5\xC8\xB4\xFD\xD6\xD8\xCA\xD4\xA3\xA8";
constexpr const char* WaitingStateTail = " \xC3\xEB\xA3\xA9";
// "未注册 ", " · 已注册 ", " · 未知 ", " · 等待重试 "
constexpr const char* FreeCountLabel = "\xCE\xB4\xD7\xA2\xB2\xE1 ";
constexpr const char* RegisteredCountLabel = " \xA1\xA4 \xD2\xD1\xD7\xA2\xB2\xE1 ";
constexpr const char* UnknownCountLabel = " \xA1\xA4 \xCE\xB4\xD6\xAA ";
constexpr const char* WaitingCountLabel = " \xA1\xA4 \xB5\xC8\xB4\xFD\xD6\xD8\xCA\xD4 ";
constexpr const char* RangeCheckMessage = "Range check error";

// The retry-count field takes 0 to 10: more retries only keep a batch that
// a server refuses going for hours.
constexpr int MostRetries = 10;
// Names handed to the DNS stage and not yet answered, at most: enough to keep
// its questions flowing, few enough that the slots start on the first names
// at once.
constexpr std::size_t DnsWindow = 4096;
// Names the early stages look at in one go: a zone that holds a whole list
// decides it a piece at a time, with the window's events in between.
constexpr int EarlyStagePiece = 4096;
// Waiting slots count their seconds down.
constexpr auto RefreshEvery = std::chrono::seconds(1);

// "https://rdap.example/rdap/" is paced as its host, as --pace names it.
std::string PacedServerOf(const TServerRoute& route) {
    if (route.Protocol != TQueryProtocol::Rdap)
        return route.Server;
    std::string_view host = route.Server;
    if (const auto scheme = host.find("://"); scheme != std::string_view::npos)
        host.remove_prefix(scheme + 3);
    return std::string(host.substr(0, host.find('/')));
}

std::string SlotName(int slot) {
    return "Thread " + std::to_string(slot + 1);
}

} // namespace

TRunPageButtons RunPageButtons(int runningCount) {
    const bool running = runningCount != 0;
    return TRunPageButtons{!running, !running, running, false};
}

TBatchServers::TBatchServers(std::shared_ptr<const TRegistryData> data,
                             TProtocolPreference preference)
    : FData(std::move(data)), FPreference(preference) {}

TBatchRoute TBatchServers::RouteOf(const std::string& domain) {
    TCheckedName name = CheckDomainName(domain, *FData);
    if (!name.IsValid())
        return {};
    auto found = FBySuffix.find(name.Suffix);
    if (found == FBySuffix.end()) {
        const TServerRoute route = ChooseServer(name.QueryName, *FData, FPreference).Route;
        found = FBySuffix.emplace(name.Suffix, PacedServerOf(route)).first;
    }
    if (found->second.empty())
        return {};
    return {std::move(name.QueryName), found->second};
}

TBatchClock::TBatchClock(double speed)
    : FSpeed(speed > 0 ? speed : 1), FOrigin(std::chrono::steady_clock::now()) {}

TBatchTime TBatchClock::Now() const {
    const auto real = std::chrono::steady_clock::now() - FOrigin;
    return FOrigin + std::chrono::duration_cast<TBatchDuration>(real * FSpeed);
}

int TBatchClock::RealMilliseconds(TBatchDuration span) const {
    const double ms = std::chrono::duration<double, std::milli>(span).count() / FSpeed;
    return static_cast<int>(std::clamp(std::ceil(ms), 0.0, 24.0 * 3600 * 1000));
}

int TBatchClock::RealMillisecondsUntil(TBatchTime at) const {
    return RealMilliseconds(at - Now());
}

std::chrono::system_clock::time_point TBatchClock::WallTimeOf(TBatchTime at) const {
    return std::chrono::system_clock::now() +
           std::chrono::duration_cast<std::chrono::system_clock::duration>((at - Now()) / FSpeed);
}

TBatchController::TBatchController(TGbkListModel& domains, TGbkListModel& queryState,
                                   TGbkListModel& noReg, TGbkListModel& domainInfo,
                                   TFlagsProvider flags, QObject* parent)
    : QObject(parent), FDomains(domains), FQueryState(queryState), FNoReg(noReg),
      FDomainInfo(domainInfo), FFlags(std::move(flags)), FStopCaption(PauseCaption) {
    FWakeTimer = new QTimer(this);
    FWakeTimer->setSingleShot(true);
    FWakeTimer->setTimerType(Qt::PreciseTimer);
    connect(FWakeTimer, &QTimer::timeout, this, &TBatchController::FillFreeSlots);
    FFeedTimer = new QTimer(this);
    FFeedTimer->setSingleShot(true);
    connect(FFeedTimer, &QTimer::timeout, this, [this] {
        FillFreeSlots();
        EndIfDone();
    });
    FRefreshTimer = new QTimer(this);
    connect(FRefreshTimer, &QTimer::timeout, this, &TBatchController::ShowIdleSlots);
}

TBatchController::~TBatchController() = default;

void TBatchController::SetRegistryData(std::shared_ptr<const TRegistryData> data) {
    FRegistryData = std::move(data);
}

void TBatchController::SetProtocolPreference(TProtocolPreference preference) {
    FProtocolPreference = preference;
}

void TBatchController::SetUserPaces(std::map<std::string, double> paces) {
    FUserPaces = std::move(paces);
}

void TBatchController::SetRetryPolicy(const TRetryPolicy& policy) {
    FPolicy = policy;
}

void TBatchController::SetClock(const TBatchClock& clock) {
    FClock = clock;
}

void TBatchController::SetJitter(TBatchScheduler::TJitter jitter) {
    FJitter = std::move(jitter);
}

std::string TBatchController::RunningStateLine(int slot, const std::string& domain) {
    return SlotName(slot) + " - " + domain + RunningStateTail;
}

std::string TBatchController::EndedStateLine(int slot) {
    return SlotName(slot) + EndedStateTail;
}

std::string TBatchController::WaitingStateLine(int slot, const std::string& domain, long seconds) {
    return SlotName(slot) + " - " + domain + WaitingStateMiddle + std::to_string(seconds) +
           WaitingStateTail;
}

std::string TBatchController::CountsLine(const TBatchCounts& counts) {
    return FreeCountLabel + std::to_string(counts.Free) + RegisteredCountLabel +
           std::to_string(counts.Registered) + UnknownCountLabel + std::to_string(counts.Unknown) +
           WaitingCountLabel + std::to_string(counts.Waiting);
}

std::string TBatchController::Start(const std::string& threadText, const std::string& retriesText) {
    std::vector<int> everyPosition(static_cast<std::size_t>(FDomains.Count()));
    std::iota(everyPosition.begin(), everyPosition.end(), 0);
    return Start(threadText, retriesText, std::move(everyPosition));
}

std::string TBatchController::Start(const std::string& threadText, const std::string& retriesText,
                                    std::vector<int> positions, const TBatchCounts& carried) {
    if (FActive)
        return "";
    const std::optional<std::int32_t> count = ParseIntegerText(threadText);
    if (!count)
        return NotAnIntegerMessage(threadText);
    if (*count < 0)
        return RangeCheckMessage;
    const std::optional<std::int32_t> retries = ParseIntegerText(retriesText);
    if (!retries)
        return NotAnIntegerMessage(retriesText);
    if (*retries < 0 || *retries > MostRetries)
        return RangeCheckMessage;

    FThreadCount = *count;
    std::erase_if(positions, [this](int p) { return p < 0 || p >= FDomains.Count(); });
    FPositions = std::move(positions);
    FTotalCount = static_cast<int>(FPositions.size());
    FPolicy.Retries = *retries;
    // A slot beyond the number of candidates never receives a job, so the
    // array need not hold it; this keeps a huge count from sizing it to
    // billions of entries.
    const auto slotCount = static_cast<std::size_t>(std::min(FThreadCount, FTotalCount));
    FQueryJobs.assign(slotCount, nullptr);
    FSlotNames.assign(slotCount, std::nullopt);
    FSlotStarted.assign(slotCount, TBatchTime{});
    FCounts = carried;
    FCounts.Waiting = 0;
    FUnknownNames.clear();
    FRegisteredBy.clear();
    FServers = std::make_shared<TBatchServers>(
        FRegistryData ? FRegistryData : ProgramRegistryData().Data, FProtocolPreference);
    FScheduler = std::make_unique<TBatchScheduler>(
        FPolicy, FUserPaces, [this](int position) { return CandidateAt(position); },
        [servers = FServers](const std::string& domain) { return servers->RouteOf(domain).Server; },
        FJitter);
    if (FProxies && FProxies->Size() > 0) {
        FScheduler->SetProxies({FProxies->Size(), [proxies = FProxies](std::size_t proxy) {
                                    return proxies->IsUsable(proxy);
                                }});
    }
    const int decided = FCounts.Free + FCounts.Registered + FCounts.Unknown;
    ResetProgress(decided, decided + FTotalCount);
    emit CountsChanged();
    if (slotCount == 0)
        return "";
    FActive = true;
    FDnsStage.reset();
    FDnsNext = 0;
    FPassed.clear();
    FEarlyStages = FDnsFirst || !FZones.empty();
    if (FDnsFirst)
        FDnsStage =
            std::make_unique<TDnsFirstStage>([this](int position, TDelegation&& delegation) {
                DnsAnswered(position, std::move(delegation));
            });
    if (!FEarlyStages)
        FPassed = FPositions;
    FRdapConnections = std::make_shared<TRdapConnections>();
    FRefreshTimer->start(FClock.RealMilliseconds(RefreshEvery));
    emit BatchStarted();
    FillFreeSlots();
    // The zones may have decided every name already.
    EndIfDone();
    return "";
}

// The scheduler counts through the batch's positions; index is the count.
std::optional<std::string> TBatchController::CandidateAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FPassed.size())
        return std::nullopt;
    // The list may shrink during a batch (a generation job replaces it): a
    // position is handed out only while it is still a line.
    const int position = FPassed[static_cast<std::size_t>(index)];
    if (position >= FDomains.Count())
        return std::nullopt;
    return FDomains.At(position);
}

void TBatchController::ResetProgress(int position, int maximum) {
    FProgressMaximum = maximum;
    FProgressPosition = position;
    emit ProgressChanged(FProgressPosition, FProgressMaximum);
}

void TBatchController::FillFreeSlots() {
    if (!FActive)
        return;
    if (!IsPaused()) {
        FeedDnsStage();
        const TBatchTime now = FClock.Now();
        bool slotLeftFree = false;
        for (std::size_t slot = 0; slot < FQueryJobs.size(); ++slot) {
            if (FQueryJobs[slot] != nullptr)
                continue;
            std::optional<TBatchName> name = FScheduler->Next(now);
            if (!name) {
                slotLeftFree = true;
                break;
            }
            StartQueryJob(static_cast<int>(slot), *name, now);
        }
        // With every slot busy the next job's end fills the slot it frees; a
        // wake now would only find no slot, again and again, while a name is
        // due.
        if (slotLeftFree)
            ArmWake();
        else
            FWakeTimer->stop();
    }
    ShowIdleSlots();
}

void TBatchController::ArmWake() {
    const std::optional<TBatchTime> wake = FScheduler->NextWake();
    if (!wake) {
        FWakeTimer->stop();
        return;
    }
    FWakeTimer->start(FClock.RealMillisecondsUntil(*wake));
}

void TBatchController::SetRegistryLimits(const TRegistryLimits* limits, std::string ledgerFile) {
    FLimits = limits;
    FLedgerFile = std::move(ledgerFile);
    FLedger.reset();
    FLedgerTried = false;
}

// A name whose host has spent its published daily budget (through the
// name's proxy, with proxies) is not asked: unknown, throttled, until the
// oldest query of the last 24 hours leaves the window. A second look asks
// three queries: the canary, the name and the canary again.
std::optional<TVerdict> TBatchController::BudgetSpent(const TBatchName& name) {
    const TRegistryLimits& limits = FLimits ? *FLimits : ProgramRegistryLimits();
    const TRegistryLimit* limit = limits.Find(name.Server);
    if (limit == nullptr || !limit->PerDay)
        return std::nullopt;
    if (!FLedgerTried) {
        FLedgerTried = true;
        std::string error;
        FLedger =
            TBudgetLedger::Open(FLedgerFile.empty() ? BudgetLedgerFile() : FLedgerFile, error);
        if (!FLedger)
            emit BudgetLedgerFailed(error);
    }
    if (!FLedger)
        return std::nullopt;
    const std::string via =
        FProxies && name.Proxy && *name.Proxy < FProxies->Size() ? FProxies->Key(*name.Proxy) : "";
    const auto now = std::chrono::system_clock::now();
    const TUnixSeconds seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    for (int query = 0; query < (name.SecondLook ? 3 : 1); ++query) {
        const TBudgetSpend spend = FLedger->Spend(name.Server, via, *limit->PerDay, seconds);
        if (spend.Spent || !spend.NextAt)
            continue;
        const auto next =
            std::chrono::system_clock::time_point(std::chrono::seconds(*spend.NextAt));
        return TVerdict{TVerdictKind::Unknown, TVerdictReason::Throttled, std::nullopt,
                        "daily budget of " + name.Server + " spent (" +
                            std::to_string(*limit->PerDay) + " queries in 24 hours" +
                            (via.empty() ? "" : " through " + via) + "), next query possible at " +
                            UtcTimeText(next, "%Y-%m-%d %H:%M:%S UTC")};
    }
    return std::nullopt;
}

void TBatchController::StartQueryJob(int slot, TBatchName name, TBatchTime now) {
    if (!name.Settled)
        name.Settled = BudgetSpent(name);
    FCurrentDomain = name.Domain;
    const TDisplayFlags flags = FFlags ? FFlags() : TDisplayFlags{};
    auto* job = new TQueryDomain(slot, FCurrentDomain, &FNoReg, flags.ShowDomain, flags.ShowEmail,
                                 flags.ShowIPAddress, flags.ShowRegTime, flags.ShowExpTime);
    job->RegistryData = FRegistryData;
    job->ProtocolPreference = FProtocolPreference;
    job->AskDnsWhenUnreadable = FDnsFirst;
    job->ConfirmFree = FConfirmFree;
    job->RdapConnections = FRdapConnections;
    job->Proxies = FProxies;
    job->FirstProxy = name.Proxy;
    job->SecondLook = name.SecondLook;
    if (name.SecondLook) {
        const auto known = FRegisteredBy.find(name.Server);
        job->Canary = known == FRegisteredBy.end() ? "" : known->second;
    }
    if (name.Settled) {
        job->Settled = name.Settled;
        job->WhoisServer = name.Server;
    }
    const auto index = static_cast<std::size_t>(slot);
    FQueryJobs[index] = job;
    FSlotNames[index] = name;
    FSlotStarted[index] = now;
    ++FRunningCount;
    SetStateLine(slot, RunningStateLine(slot, FCurrentDomain));

    // A controller that is gone no longer hears of its jobs' ends.
    QPointer<TBatchController> self(this);
    job->Start([self](TJob* ended) {
        if (self)
            self->QueryDomainTerminate(ended);
    });
}

void TBatchController::SetStateLine(int slot, const std::string& line) {
    // Line k belongs to slot k: slots are filled in order, so a slot that has
    // no line yet is the next one.
    if (slot < FQueryState.Count()) {
        if (FQueryState.At(slot) != line)
            FQueryState.ReplaceLine(slot, line);
    } else {
        FQueryState.Append(line);
    }
}

// A slot without a job shows a name that waits for its retry, the one due
// first going to the first such slot, or else that its task ended.
void TBatchController::ShowIdleSlots() {
    if (!FActive)
        return;
    std::vector<int> idle;
    for (std::size_t slot = 0; slot < FQueryJobs.size(); ++slot) {
        if (FQueryJobs[slot] == nullptr)
            idle.push_back(static_cast<int>(slot));
    }
    if (idle.empty())
        return;
    const std::vector<TWaitingName> waiting = FScheduler->FirstWaiting(idle.size());
    const TBatchTime now = FClock.Now();
    for (std::size_t i = 0; i < idle.size(); ++i) {
        if (i >= waiting.size()) {
            SetStateLine(idle[i], EndedStateLine(idle[i]));
            continue;
        }
        const double seconds = std::chrono::duration<double>(waiting[i].Due - now).count();
        SetStateLine(idle[i], WaitingStateLine(idle[i], waiting[i].Domain,
                                               std::lround(std::max(0.0, std::ceil(seconds)))));
    }
}

void TBatchController::QueryDomainTerminate(TJob* sender) {
    auto* job = static_cast<TQueryDomain*>(sender);
    const int slot = job->Index;
    if (slot < 0 || static_cast<std::size_t>(slot) >= FQueryJobs.size() ||
        FQueryJobs[static_cast<std::size_t>(slot)] != job)
        return;
    const auto index = static_cast<std::size_t>(slot);
    TBatchName name = *FSlotNames[index];
    // Its proxy failed on the way and another asked the server: the pace
    // that hears of the answer is that one's.
    if (FProxies && FProxies->Size() > 0)
        name.Proxy = job->ProxyIndex;
    FQueryJobs[index] = nullptr;
    FSlotNames[index].reset();
    --FRunningCount;
    // A free waits for its second look, and so does one whose second look
    // got no answer; a second look that disagreed starts over.
    name.SecondLook =
        job->AwaitsSecondLook || (job->SecondLook && job->Verdict.Kind == TVerdictKind::Unknown &&
                                  job->Verdict.Reason != TVerdictReason::Unconfirmed);
    name.CaughtLying = job->Verdict.Reason == TVerdictReason::Unconfirmed &&
                       (job->SecondLook ? job->CaughtLying : !job->AwaitsSecondLook);
    if (job->Protocol == TQueryProtocol::Whois && job->Verdict.Kind == TVerdictKind::Registered &&
        job->Verdict.Reason == TVerdictReason::Registered && !job->QueryName.empty())
        FRegisteredBy[name.Server] = job->QueryName;

    const bool last = FScheduler->Ended(name, job->Verdict, FSlotStarted[index], FClock.Now());
    emit AttemptEnded(job);
    if (last)
        Report(*job);
    emit CountsChanged();

    SetStateLine(slot, EndedStateLine(slot));
    FillFreeSlots();
    EndIfDone();
}

void TBatchController::EndIfDone() {
    if (FActive && FRunningCount == 0 && DnsStageDone() && FScheduler->Finished())
        EndBatch();
}

void TBatchController::FeedDnsStage() {
    if (!FEarlyStages)
        return;
    for (int looked = 0;
         FDnsNext < FPositions.size() && (!FDnsStage || FDnsStage->Open() < DnsWindow); ++looked) {
        if (looked == EarlyStagePiece) {
            FFeedTimer->start(0);
            return;
        }
        const int position = FPositions[FDnsNext++];
        const std::string queryName = position < FDomains.Count()
                                          ? FServers->RouteOf(FDomains.At(position)).QueryName
                                          : std::string();
        const TZoneIndex* zone = queryName.empty() ? nullptr : ZoneHolding(FZones, queryName);
        if (zone != nullptr)
            ReportDecidedEarly(position, [zone](TQueryDomain& job) { SettleByZone(job, *zone); });
        else if (queryName.empty() || !FDnsStage)
            FPassed.push_back(position);
        else
            FDnsStage->Ask(position, queryName);
    }
}

void TBatchController::ReportDecidedEarly(int position,
                                          const std::function<void(TQueryDomain&)>& settle) {
    const TDisplayFlags flags = FFlags ? FFlags() : TDisplayFlags{};
    auto* job =
        new TQueryDomain(-1, FDomains.At(position), &FNoReg, flags.ShowDomain, flags.ShowEmail,
                         flags.ShowIPAddress, flags.ShowRegTime, flags.ShowExpTime);
    settle(*job);
    Report(*job);
    emit CountsChanged();
    // Never started, and heard of only while it is reported: it goes now.
    // (Left to the event loop, a zone deciding a million names in one go
    // kept a million of them alive, 1.9 GB.)
    job->DiscardUnstarted();
}

void TBatchController::DnsAnswered(int position, TDelegation&& delegation) {
    if (!FActive)
        return;
    if (!delegation.Delegated || position >= FDomains.Count())
        FPassed.push_back(position);
    else
        ReportDecidedEarly(
            position, [&delegation](TQueryDomain& job) { SettleByDelegation(job, delegation); });
    FillFreeSlots();
    EndIfDone();
}

bool TBatchController::DnsStageDone() const {
    return !FEarlyStages ||
           (FDnsNext >= FPositions.size() && (!FDnsStage || FDnsStage->Open() == 0));
}

std::map<std::string, std::string> TBatchController::DnsTldsOff() const {
    return FDnsStage ? FDnsStage->TldsOff() : std::map<std::string, std::string>{};
}

// A name's last result: its line, its count and the progress.
void TBatchController::Report(const TQueryDomain& job) {
    FDomainInfo.Append(job.ResultLine);
    FDomainInfo.Select(FDomainInfo.Count() - 1);
    emit ResultAppended(job.ResultLine);
    emit QueryEnded(&job);
    switch (job.Verdict.Kind) {
    case TVerdictKind::Free:
        ++FCounts.Free;
        break;
    case TVerdictKind::Registered:
        ++FCounts.Registered;
        break;
    case TVerdictKind::Unknown:
        ++FCounts.Unknown;
        FUnknownNames.push_back(job.Domain);
        break;
    }
    if (FProgressPosition < FProgressMaximum)
        ++FProgressPosition;
    emit ProgressChanged(FProgressPosition, FProgressMaximum);
}

void TBatchController::EndBatch() {
    FActive = false;
    FWakeTimer->stop();
    FFeedTimer->stop();
    FRefreshTimer->stop();
    FQueryState.Clear();
    emit BatchEnded();
}

int TBatchController::NextIndex() const {
    return FActive && FScheduler ? FScheduler->NextPosition() : 0;
}

TBatchCounts TBatchController::Counts() const {
    TBatchCounts counts = FCounts;
    counts.Waiting = FScheduler ? FScheduler->WaitingCount() : 0;
    return counts;
}

const TServerPace* TBatchController::PaceOf(const std::string& server) const {
    return FScheduler ? FScheduler->PaceOf(server) : nullptr;
}

std::vector<std::pair<std::string, std::chrono::system_clock::time_point>>
TBatchController::PutOffServers() const {
    std::vector<std::pair<std::string, std::chrono::system_clock::time_point>> servers;
    if (FScheduler) {
        for (const TPutOffServer& server : FScheduler->PutOffServers())
            servers.emplace_back(server.Server, FClock.WallTimeOf(server.Until));
    }
    return servers;
}

void TBatchController::PauseOrResume() {
    const bool pause = !IsPaused();
    FStopCaption = pause ? ResumeCaption : PauseCaption;
    for (TQueryDomain* job : FQueryJobs) {
        if (job == nullptr)
            continue;
        if (pause)
            job->Suspend();
        else
            job->Resume();
    }
    if (!pause)
        FillFreeSlots();
}

bool TBatchController::IsPaused() const {
    return FStopCaption != PauseCaption;
}
