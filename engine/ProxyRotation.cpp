#include "engine/ProxyRotation.h"

#include <algorithm>

std::chrono::seconds ProxySetAsideFor(int failures) {
    // 30 s doubled five times is past the longest already.
    const int doublings = std::clamp(failures - 1, 0, 5);
    return std::min(ProxyFirstSetAside * (1 << doublings), ProxyLongestSetAside);
}

TProxyRotation::TProxyRotation(std::vector<TProxy> proxies, TProxyClock clock)
    : FClock(clock ? std::move(clock) : TProxyClock(&std::chrono::steady_clock::now)) {
    FEntries.reserve(proxies.size());
    for (TProxy& proxy : proxies) {
        TEntry entry;
        entry.Key = MaskedProxyUrl(proxy);
        entry.Proxy = std::move(proxy);
        FEntries.push_back(std::move(entry));
    }
}

bool TProxyRotation::UsableAt(std::size_t index, std::chrono::steady_clock::time_point now) const {
    return index < FEntries.size() && FEntries[index].AsideUntil <= now;
}

TProxyPick TProxyRotation::PickOf(std::size_t index) const {
    const TEntry& entry = FEntries[index];
    return TProxyPick{index, &entry.Proxy, &entry.Key, entry.Epoch};
}

std::optional<TProxyPick> TProxyRotation::Next() {
    const auto now = FClock();
    std::lock_guard lock(FMutex);
    for (std::size_t step = 0; step < FEntries.size(); ++step) {
        const std::size_t index = (FCursor + step) % FEntries.size();
        if (UsableAt(index, now)) {
            FCursor = index + 1;
            return PickOf(index);
        }
    }
    return std::nullopt;
}

std::optional<TProxyPick> TProxyRotation::Take(std::size_t index) {
    const auto now = FClock();
    std::lock_guard lock(FMutex);
    if (!UsableAt(index, now))
        return std::nullopt;
    return PickOf(index);
}

bool TProxyRotation::IsUsable(std::size_t index) const {
    const auto now = FClock();
    std::lock_guard lock(FMutex);
    return UsableAt(index, now);
}

void TProxyRotation::Report(const TProxyPick& pick, TProxyFault fault) {
    const auto now = FClock();
    std::lock_guard lock(FMutex);
    if (pick.Index >= FEntries.size()) {
        return;
    }
    TEntry& entry = FEntries[pick.Index];
    if (pick.Epoch != entry.Epoch) {
        return;
    }
    if (fault == TProxyFault::None) {
        entry.Failures = 0;
        return;
    }
    entry.Failures = std::min(entry.Failures + 1, 1000);
    entry.AsideUntil = now + ProxySetAsideFor(entry.Failures);
    ++entry.Epoch;
}

std::optional<std::chrono::steady_clock::time_point> TProxyRotation::NextUsableAt() const {
    const auto now = FClock();
    std::lock_guard lock(FMutex);
    std::optional<std::chrono::steady_clock::time_point> first;
    for (const TEntry& entry : FEntries) {
        if (entry.AsideUntil <= now) {
            return std::nullopt;
        }
        first = first ? std::min(*first, entry.AsideUntil) : entry.AsideUntil;
    }
    return first;
}

std::optional<TProxyPick> AttemptThroughRotation(TProxyRotation& rotation,
                                                 const TProxyAttemptFn& attempt,
                                                 std::string& whyNot,
                                                 std::optional<std::size_t> first) {
    std::string lastFault;
    for (std::size_t tried = 0; tried < rotation.Size(); ++tried) {
        std::optional<TProxyPick> pick;
        if (tried == 0 && first)
            pick = rotation.Take(*first);
        if (!pick)
            pick = rotation.Next();
        if (!pick) {
            break;
        }
        TProxyAttempt outcome = attempt(*pick->Proxy);
        rotation.Report(*pick, outcome.Fault);
        if (outcome.Fault == TProxyFault::None) {
            return pick;
        }
        lastFault = std::move(outcome.FaultText);
    }
    whyNot = NoUsableProxyText;
    if (!lastFault.empty()) {
        whyNot += ": " + lastFault;
    }
    return std::nullopt;
}
