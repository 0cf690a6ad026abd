#pragma once

// The DNS stage of a batch: before a name takes a WHOIS/RDAP slot, its TLD's
// name servers are asked whether they delegate it. The stage keeps many
// questions in flight on a thread of its own (a TDelegationChecker), however
// few the batch's query slots, and hands each answer back on the thread
// that created it. A delegated name is registered (method dns); every other
// name goes on to the registry as before. Qt Core only.

#include "engine/dns/DelegationCheck.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TQueryDomain;
class TZoneIndex;

// Fills a job that was never started with the verdict a delegation gives:
// registered, method dns, the name server in WhoisServer and the result line
// "domain  已注册（DNS）".
void SettleByDelegation(TQueryDomain& job, const TDelegation& delegation);
// The same for a name a zone file delegates: method zone, the zone file in
// WhoisServer, "domain  已注册（区域文件）".
void SettleByZone(TQueryDomain& job, const TZoneIndex& zone);

class TDnsFirstStage : public QObject {
    Q_OBJECT

public:
    // Called on the creating thread for every answer: the token Ask was
    // given, and what the servers said.
    using TAnswered = std::function<void(int token, TDelegation&& delegation)>;

    explicit TDnsFirstStage(TAnswered answered, TDnsBounds bounds = {}, QObject* parent = nullptr);
    // Questions still open are dropped without an answer.
    ~TDnsFirstStage() override;

    // Queues queryName under token.
    void Ask(int token, std::string queryName);
    // Asked and not yet answered.
    std::size_t Open() const { return FOpen; }
    // The TLDs the check is off for in this run, and why, as last heard.
    const std::map<std::string, std::string>& TldsOff() const { return FTldsOff; }

private:
    struct TAnswer {
        int Token;
        TDelegation Delegation;
    };

    void Run(TDnsBounds bounds);
    void Deliver();

    TAnswered FAnswered;
    std::size_t FOpen = 0;
    std::map<std::string, std::string> FTldsOff;

    // Shared with the thread, under FMutex.
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopping = false;
    bool FDeliveryPosted = false;
    std::vector<std::pair<int, std::string>> FInbox;
    std::vector<TAnswer> FOutbox;
    std::map<std::string, std::string> FThreadTldsOff;

    std::thread FThread;
};
