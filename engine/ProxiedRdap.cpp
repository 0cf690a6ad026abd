#include "engine/ProxiedRdap.h"

namespace {

TRdapAnswer Query(const TRdapRequest& request, TRdapConnections* connections) {
    return connections != nullptr ? QueryRdap(request, *connections) : QueryRdap(request);
}

} // namespace

TRdapAnswer QueryRdapThroughRotation(TRdapRequest request, TRdapConnections* connections,
                                     TProxyRotation* proxies, std::optional<std::size_t> firstProxy,
                                     std::optional<TProxyPick>* served) {
    if (proxies == nullptr || proxies->Size() == 0)
        return Query(request, connections);
    TRdapAnswer answer;
    const auto attempt = [&](const TProxy& proxy) {
        request.Proxy = proxy;
        answer = Query(request, connections);
        return TProxyAttempt{answer.ProxyFault, answer.Error};
    };
    std::string whyNot;
    const std::optional<TProxyPick> pick =
        AttemptThroughRotation(*proxies, attempt, whyNot, firstProxy);
    if (served != nullptr)
        *served = pick;
    if (pick)
        return answer;
    answer = TRdapAnswer{};
    answer.End = TRdapEnd::OtherError;
    answer.Base = RdapBaseToAsk(request.Base);
    answer.Error = whyNot;
    return answer;
}
