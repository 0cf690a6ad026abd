#include "engine/dns/DelegationCheck.h"

#include "engine/dns/TldServers.h"

namespace {

std::string TldOfName(std::string_view queryName) {
    const std::string name = CanonicalDnsName(queryName);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

TDelegation DelegationOf(TDnsExchange&& exchange) {
    TDelegation delegation;
    delegation.Asked = true;
    delegation.Outcome = exchange.Reading.Outcome;
    delegation.Delegated = exchange.Reading.Outcome == TDnsOutcome::Delegated;
    delegation.Server = std::move(exchange.Server);
    if (delegation.Delegated)
        delegation.NameServers = std::move(exchange.Reading.NameServers);
    delegation.Detail = delegation.Server + ": " + exchange.Reading.Detail;
    return delegation;
}

// A name nobody registered that is delegated, has an address, or exists
// with other records (no data rather than NXDOMAIN: an address wildcard
// answers an NS question so) shows a wildcard.
bool ShowsWildcard(TDnsOutcome outcome) {
    return outcome == TDnsOutcome::Delegated || outcome == TDnsOutcome::Address ||
           outcome == TDnsOutcome::NoData;
}

} // namespace

TDelegationChecker::TDelegationChecker(TDnsBounds bounds)
    : FAsker(bounds), FRandom(std::random_device{}()) {}

TDelegationChecker::TTld& TDelegationChecker::TldOf(const std::string& tld) {
    const auto found = FTlds.find(tld);
    if (found != FTlds.end())
        return found->second;
    TTld& entry = FTlds[tld];
    TTldServersFound servers = FindTldServers(tld, FindBound);
    if (!servers.Servers) {
        TurnOff(tld, entry, "no name server found (" + servers.Problem + ")");
        return entry;
    }
    entry.Servers = std::move(servers.Servers);
    Probe(tld, entry);
    return entry;
}

void TDelegationChecker::Probe(const std::string& tld, TTld& entry) {
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string label;
    for (std::size_t i = 0; i < ProbeLetters; ++i)
        label += static_cast<char>(letter(FRandom));
    FAsker.AskNs(label + "." + tld, entry.Servers,
                 [this, tld](TDnsExchange&& exchange) { ProbeAnswered(tld, exchange); });
}

void TDelegationChecker::ProbeAnswered(const std::string& tld, const TDnsExchange& exchange) {
    TTld& entry = FTlds[tld];
    const TDnsOutcome outcome = exchange.Reading.Outcome;
    if (ShowsWildcard(outcome))
        TurnOff(tld, entry, "its servers delegate or resolve any name (wildcard)");
    else if (IsDnsRetryable(outcome))
        TurnOff(tld, entry,
                "its servers did not answer (" + exchange.Server + ": " + exchange.Reading.Detail +
                    ")");
    else
        entry.State = TTldState::Ready;
    std::vector<std::pair<std::string, TDone>> waiting = std::move(entry.Waiting);
    entry.Waiting.clear();
    for (auto& [name, done] : waiting) {
        if (entry.State == TTldState::Ready)
            SendToServers(entry, std::move(name), std::move(done));
        else
            PassOn(tld, done);
    }
}

void TDelegationChecker::TurnOff(const std::string& tld, TTld& entry, std::string why) {
    entry.State = TTldState::Off;
    FTldsOff["." + tld] = std::move(why);
}

void TDelegationChecker::PassOn(const std::string& tld, TDone& done) {
    --FPending;
    TDelegation delegation;
    const auto off = FTldsOff.find("." + tld);
    delegation.Detail = "DNS first is off for ." + tld + ": " +
                        (off == FTldsOff.end() ? std::string("no TLD") : off->second);
    if (done)
        done(std::move(delegation));
}

void TDelegationChecker::SendToServers(TTld& entry, std::string queryName, TDone done) {
    FAsker.AskNs(std::move(queryName), entry.Servers,
                 [this, done = std::move(done)](TDnsExchange&& exchange) {
                     --FPending;
                     if (done)
                         done(DelegationOf(std::move(exchange)));
                 });
}

void TDelegationChecker::Ask(std::string queryName, TDone done) {
    ++FPending;
    const std::string tld = TldOfName(queryName);
    if (tld.empty()) {
        PassOn(tld, done);
        return;
    }
    TTld& entry = TldOf(tld);
    switch (entry.State) {
    case TTldState::Probing:
        entry.Waiting.emplace_back(std::move(queryName), std::move(done));
        return;
    case TTldState::Ready:
        SendToServers(entry, std::move(queryName), std::move(done));
        return;
    case TTldState::Off:
        PassOn(tld, done);
        return;
    }
}

void TDelegationChecker::Process(std::chrono::milliseconds wait) {
    FAsker.Process(wait);
}

TDelegation AskDelegation(std::string_view queryName, const TDnsBounds& bounds) {
    TDelegationChecker checker(bounds);
    TDelegation answer;
    checker.Ask(std::string(queryName),
                [&answer](TDelegation&& delegation) { answer = std::move(delegation); });
    // The bounds end every question; this only keeps a stuck clock from
    // holding the caller for ever.
    const auto longest = (bounds.PerTry + std::chrono::milliseconds(100)) *
                         (bounds.TriesPerServer * bounds.ServersPerName * 2 + 2);
    const auto deadline = std::chrono::steady_clock::now() + longest;
    while (checker.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        checker.Process(std::chrono::milliseconds(100));
    return answer;
}
