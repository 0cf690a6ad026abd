#include "engine/WhoisAsking.h"

#include "engine/ProxyExchange.h"
#include "engine/Unit_Functions.h"

namespace {

TWhoisAsking AskStraight(std::string_view domain, std::string_view server) {
    TWhoisAsking asked;
    asked.Answer = GetWhoisAnswer(domain, server);
    asked.EndText = DescribeExchangeEnd(asked.Answer, server);
    return asked;
}

TWhoisAsking AskThroughRotation(std::string_view domain, std::string_view server,
                                TProxyRotation& proxies, std::optional<std::size_t> firstProxy) {
    TWhoisAsking asked;
    const std::string queryLine = WhoisQueryLine(domain);
    const auto attempt = [&](const TProxy& proxy) {
        const TProxiedExchange result = RunWhoisExchangeViaProxy(proxy, server, queryLine);
        asked.Answer = result.Exchange;
        asked.EndText = DescribeProxiedExchangeEnd(result, proxy, server);
        return TProxyAttempt{result.Fault, asked.EndText};
    };
    std::string whyNot;
    const std::optional<TProxyPick> pick =
        AttemptThroughRotation(proxies, attempt, whyNot, firstProxy);
    if (!pick) {
        asked.Answer = TExchangeResult{};
        asked.Answer.End = TExchangeEnd::OtherError;
        asked.EndText = whyNot;
        asked.NoUsableProxy = true;
        return asked;
    }
    asked.ProxyKey = *pick->Key;
    asked.ProxyIndex = pick->Index;
    ConvertReplyToGbk(asked.Answer.Reply);
    return asked;
}

} // namespace

TWhoisAsking AskWhoisServer(std::string_view domain, std::string_view server,
                            TProxyRotation* proxies, std::optional<std::size_t> firstProxy) {
    if (proxies == nullptr || proxies->Size() == 0)
        return AskStraight(domain, server);
    try {
        return AskThroughRotation(domain, server, *proxies, firstProxy);
    } catch (...) {
        // Only memory can run out here: a failed exchange, as GetWhoisAnswer has it.
        TWhoisAsking failed;
        failed.Answer.End = TExchangeEnd::OtherError;
        failed.EndText = "out of memory";
        return failed;
    }
}
