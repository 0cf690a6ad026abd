#pragma once

// Connections through a proxy with libcurl, for port 43 and RDAP alike: the
// options that send a handle through a proxy, and what a failed connection
// means, the proxy's own failure or the server's behind it. No Qt here.

#include "engine/ProxyList.h"
#include "engine/WhoisExchange.h"

#include <curl/curl.h>

#include <string>

// libcurl's one-time set-up for the whole engine; it keeps it for the life of
// the process. Safe to call from any thread, any number of times.
void InitCurlOnce();

// Sends every connection of handle through proxy: its address (credentials
// apart, so libcurl never holds them in a URL it may print), the user name
// and password, CONNECT for every scheme through an HTTP proxy; no_proxy and
// the other proxy variables of the environment do not apply.
void UseProxy(CURL* handle, const TProxy& proxy);

// `scheme://host:port`, for libcurl: the credentials go apart.
std::string CurlProxyAddress(const TProxy& proxy);

// What libcurl tells of a connection that failed.
struct TProxiedFailureFacts {
    CURLcode Code = CURLE_OK;
    long ProxyError = CURLPX_OK; // CURLINFO_PROXY_ERROR (SOCKS)
    long ConnectCode = 0;        // CURLINFO_HTTP_CONNECTCODE: the HTTP proxy's answer to CONNECT
    bool ProxyReached = false;   // a TCP connection to the proxy was made
};

TProxiedFailureFacts ReadProxiedFailureFacts(CURL* handle, CURLcode code);

// Whose failure it was. With Fault None, ServerEnd (and Errno for
// OtherError) is the server's end as a direct exchange would have it; with a
// fault, ServerEnd is OtherError.
struct TProxiedFailure {
    TProxyFault Fault = TProxyFault::None;
    TExchangeEnd ServerEnd = TExchangeEnd::OtherError;
    int Errno = 0;
};

// A proxy that accepts and then says nothing within the connect bound is
// taken as waiting for the server, whose silence it is: a registry that
// drops connections must not set every proxy aside.
TProxiedFailure ClassifyProxiedFailure(const TProxiedFailureFacts& facts);
