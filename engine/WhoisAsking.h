#pragma once

// One port-43 question of a query job: straight to the server, or, when the
// batch has proxies, through the next usable one of its rotation, the
// proxies that fail set aside on the way. The reply comes in GBK as
// GetWhoisAnswer gives it. No Qt here.

#include "engine/ProxyRotation.h"
#include "engine/WhoisExchange.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct TWhoisAsking {
    TExchangeResult Answer; // the reply in GBK, with what ended the exchange
    // How it ended in words; a proxy in them is masked.
    std::string EndText;
    // The masked URL of the proxy the server was asked through; "" when asked
    // straight, or not at all.
    std::string ProxyKey;
    // Its place in the rotation; nothing when asked straight, or not at all.
    std::optional<std::size_t> ProxyIndex;
    // Every proxy was set aside or failed: the server was not asked.
    bool NoUsableProxy = false;
};

// proxies null or empty: straight to server, as GetWhoisAnswer. Else
// through firstProxy of them when it is usable, or the next usable one.
TWhoisAsking AskWhoisServer(std::string_view domain, std::string_view server,
                            TProxyRotation* proxies,
                            std::optional<std::size_t> firstProxy = std::nullopt);
