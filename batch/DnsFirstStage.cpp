#include "batch/DnsFirstStage.h"

#include "engine/QueryDomain.h"
#include "engine/zone/ZoneIndex.h"

namespace {

// How long the thread waits for replies before it looks for new names.
constexpr std::chrono::milliseconds TakeInEvery{5};

} // namespace

void SettleByDelegation(TQueryDomain& job, const TDelegation& delegation) {
    job.DecidedBy = TVerdictMethod::Dns;
    job.Verdict = TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                           delegation.Detail};
    job.WhoisServer = delegation.Server;
    job.ResultLine = queryfields::DecidedLine(job.Domain, TVerdictMethod::Dns);
}

void SettleByZone(TQueryDomain& job, const TZoneIndex& zone) {
    job.DecidedBy = TVerdictMethod::Zone;
    job.Verdict = TVerdict{TVerdictKind::Registered, TVerdictReason::Registered, std::nullopt,
                           "delegated in the zone file " + zone.File()};
    job.WhoisServer = zone.File();
    job.ResultLine = queryfields::DecidedLine(job.Domain, TVerdictMethod::Zone);
}

TDnsFirstStage::TDnsFirstStage(TAnswered answered, TDnsBounds bounds, QObject* parent)
    : QObject(parent), FAnswered(std::move(answered)) {
    FThread = std::thread([this, bounds] { Run(bounds); });
}

TDnsFirstStage::~TDnsFirstStage() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_one();
    FThread.join();
}

void TDnsFirstStage::Ask(int token, std::string queryName) {
    ++FOpen;
    {
        std::lock_guard lock(FMutex);
        FInbox.emplace_back(token, std::move(queryName));
    }
    FWake.notify_one();
}

// The checker lives on this thread alone, c-ares channels and all.
void TDnsFirstStage::Run(TDnsBounds bounds) {
    TDelegationChecker checker(bounds);
    std::vector<TAnswer> answered;
    std::vector<std::pair<int, std::string>> taken;
    for (;;) {
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [&] { return FStopping || !FInbox.empty() || checker.Pending() > 0; });
            if (FStopping)
                return;
            taken.swap(FInbox);
        }
        for (auto& [token, name] : taken) {
            checker.Ask(std::move(name), [&answered, token](TDelegation&& delegation) {
                answered.push_back({token, std::move(delegation)});
            });
        }
        taken.clear();
        checker.Process(TakeInEvery);
        if (answered.empty())
            continue;
        std::lock_guard lock(FMutex);
        std::move(answered.begin(), answered.end(), std::back_inserter(FOutbox));
        answered.clear();
        FThreadTldsOff = checker.TldsOff();
        if (!FDeliveryPosted) {
            FDeliveryPosted = true;
            // Dropped by Qt when the stage is gone before it runs.
            QMetaObject::invokeMethod(
                this, [this] { Deliver(); }, Qt::QueuedConnection);
        }
    }
}

void TDnsFirstStage::Deliver() {
    std::vector<TAnswer> answers;
    {
        std::lock_guard lock(FMutex);
        answers.swap(FOutbox);
        FTldsOff = FThreadTldsOff;
        FDeliveryPosted = false;
    }
    for (TAnswer& answer : answers) {
        --FOpen;
        if (FAnswered)
            FAnswered(answer.Token, std::move(answer.Delegation));
    }
}
