#pragma once

// A WHOIS exchange through a proxy: the contract of RunWhoisExchange (one
// query line, the raw reply until the server closes, the same bounds and
// ends), the connection made by libcurl through SOCKS5 or HTTP CONNECT, and
// the proxy's own failures told apart from the server's. No Qt here.

#include "engine/ProxyList.h"
#include "engine/WhoisExchange.h"

#include <string>
#include <string_view>

struct TProxiedExchange {
    // As RunWhoisExchange gives it. When Fault is set the server was never
    // reached: End is OtherError and Reply empty.
    TExchangeResult Exchange;
    // The proxy's own failure: report it to the rotation, which sets the proxy
    // aside. None for every end of the server's, however it failed.
    TProxyFault Fault = TProxyFault::None;
    std::string Detail; // libcurl's words for a failed connection, or ""
};

// The connect bound covers the connection to the proxy, its handshake and
// the proxy's own connection to the server; the idle, whole and size bounds
// hold as for a direct exchange.
TProxiedExchange RunWhoisExchangeViaProxy(const TProxy& proxy, std::string_view server,
                                          std::string_view queryLine,
                                          const TWhoisBounds& bounds = TWhoisBounds{});

// The end in a few words, naming the proxy in its masked form: "proxy
// socks5://bob:***@p:1080 refused the user name and password: ...", or the
// server's end as DescribeExchangeEnd says it, with " (via proxy ...)" when
// the server did not close normally.
std::string DescribeProxiedExchangeEnd(const TProxiedExchange& result, const TProxy& proxy,
                                       std::string_view host,
                                       const TWhoisBounds& bounds = TWhoisBounds{});
