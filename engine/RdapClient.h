#pragma once

// The network side of an RDAP query (RFC 9082 over HTTPS, libcurl): one
// `GET {base}domain/{name}` with the certificate checked, every bound set and
// redirects followed here, one hop at a time, so that each hop is checked
// before it is made. No Qt here; safe on any thread, never throws.
//
// Environment, read at each query:
//   TAVIREL_RDAP_BASE=URL      every query goes to this base instead (the only
//                              way to ask a plain-http server: tests, trials)
//   TAVIREL_RDAP_CA_FILE=FILE  one more certificate authority to trust (PEM)

#include "engine/ProxyList.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct TRdapBounds {
    std::chrono::milliseconds Connect{10'000}; // to open a connection (TLS included)
    std::chrono::milliseconds Whole{30'000};   // the whole query, redirects included
    std::size_t MaxBodyBytes = 1u << 20;       // an answer beyond this is abandoned
    int MaxRedirects = 3;
};

// Whether a query may reach this host; called with the host name (or
// address) of the base (unless TAVIREL_RDAP_BASE stands in for it) and of
// every redirect before it is made. An empty guard refuses them all.
using TRdapHostGuard = std::function<bool(const std::string& host)>;

// What ended a query. Only Answered carries a server's complete answer.
enum class TRdapEnd {
    Answered,         // a complete HTTP answer (any status)
    NotAsked,         // no request could be made: bad base, name or CA file
    NameLookupFailed, // the server's name did not resolve
    Refused,          // the connection was refused
    ConnectBound,     // no connection (TLS included) within the connect bound
    WholeBound,       // the query outlasted its bound
    SizeBound,        // the answer outgrew the size bound
    Certificate,      // the server's certificate was not trusted
    Tls,              // the TLS handshake failed for another reason
    Cut,              // the connection broke before the answer was whole
    RedirectRefused,  // a redirect pointed where it may not go
    TooManyRedirects, // more redirects than the bound
    OtherError,       // anything else; Error says what
};

struct TRdapAnswer {
    TRdapEnd End = TRdapEnd::OtherError;
    long Status = 0;        // HTTP status of the last answer, 0 without one
    std::string Body;       // what arrived of the last answer's body
    std::string RetryAfter; // the Retry-After header as sent, or ""
    std::string Date;       // the Date header as sent, or ""
    std::string Base;       // the base asked (after TAVIREL_RDAP_BASE), ending in '/'
    std::string Url;        // the URL of the last request
    std::string Host;       // its host, for messages
    int Redirects = 0;      // hops followed
    std::string Error;      // the failure in libcurl's or our words, or ""
    std::chrono::system_clock::time_point ReceivedAt{}; // when the last answer ended
    // The proxy's own failure (End is then OtherError and Error names the
    // proxy, masked): report it to the rotation. None for the server's ends.
    TProxyFault ProxyFault = TProxyFault::None;
};

struct TRdapRequest {
    std::string Base;     // the suffix's own RDAP base ("https://rdap.example/v1/")
    std::string Name;     // the domain's A-label ("xn--fiqs8s.example" or "abc.com")
    TRdapHostGuard Guard; // decides the base's host and every redirect's
    TRdapBounds Bounds;
    // Every hop goes through this proxy (HTTP CONNECT for an http proxy);
    // none: straight to the server.
    std::optional<TProxy> Proxy;
};

// The connections of a batch: open connections are kept per server (and
// proxy: a connection made through one proxy is never lent to a query
// through another, or to a direct one) and
// handed to the next query of the same server, from whatever thread it runs
// on, so a batch pays TCP and TLS set-up about once per concurrent query, not
// once per name. A server gets as many connections as queries ask it at once.
// The object must outlive every query that uses it; it is safe to share
// between threads.
class TRdapConnections {
public:
    TRdapConnections();
    ~TRdapConnections();

    TRdapConnections(const TRdapConnections&) = delete;
    TRdapConnections& operator=(const TRdapConnections&) = delete;

    struct TPool;

private:
    friend TRdapAnswer QueryRdap(const TRdapRequest&, TRdapConnections&);
    std::unique_ptr<TPool> FPool;
};

// One query over the batch's connections.
TRdapAnswer QueryRdap(const TRdapRequest& request, TRdapConnections& connections);
// A one-off query: its connection closes when it returns.
TRdapAnswer QueryRdap(const TRdapRequest& request);

// The base a query for this suffix base goes to: TAVIREL_RDAP_BASE when set,
// else base itself; with '/' appended when it lacks one.
std::string RdapBaseToAsk(std::string_view base);

// The end in a few words for people: "no connection within 10 s",
// "certificate of rdap.example not trusted: ...", "redirect to x refused".
std::string DescribeRdapEnd(const TRdapAnswer& answer, const TRdapBounds& bounds = TRdapBounds{});
