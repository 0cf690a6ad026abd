#pragma once

// The socket side of a WHOIS exchange (RFC 3912): connect, send one query
// line, read until the server closes. Every exchange is bounded so that no
// server can hold a worker or exhaust memory; a bound that strikes closes the
// socket and the bytes that arrived are the result. No Qt here.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

struct TWhoisBounds {
    std::chrono::milliseconds Connect{10'000}; // to open the connection
    std::chrono::milliseconds Idle{15'000};    // without a byte from the server
    std::chrono::milliseconds Whole{60'000};   // the whole exchange
    std::size_t MaxReplyBytes = 4u << 20;      // reply size cap
};

// What ended an exchange. Only Closed means the server said all it had to
// say; every other end leaves the reply cut or empty.
enum class TExchangeEnd {
    Closed,           // the server closed the connection after its reply
    NameLookupFailed, // the server's name did not resolve (or the address was malformed)
    Refused,          // every address refused the connection
    ConnectBound,     // no connection within the connect bound
    IdleBound,        // the server sent nothing for the idle bound
    WholeBound,       // the whole exchange outlasted its bound
    SizeBound,        // the reply reached the size cap
    Reset,            // the server reset the connection
    OtherError,       // any other failure; Errno says which
};

// One exchange: the raw bytes received and what ended it.
struct TExchangeResult {
    std::string Reply;
    TExchangeEnd End = TExchangeEnd::OtherError;
    int Errno = 0; // the system's error number for OtherError, else 0
};

// The end in a few words for people: "closed by the server", "name lookup of
// whois.example failed", "no byte for 15 s", "connection reset", ...
std::string DescribeExchangeEnd(const TExchangeResult& result, std::string_view host,
                                const TWhoisBounds& bounds = TWhoisBounds{});

// "host" (port 43) or "host:port" split; false for an empty host or a port
// that is not a number from 1 to 65535.
bool SplitServerAddress(std::string_view server, std::string& host, int& port);

// Sends queryLine as it is (the caller adds CR LF) and returns the raw bytes
// received, unconverted, with what ended the exchange.
TExchangeResult RunWhoisExchange(std::string_view server, std::string_view queryLine,
                                 const TWhoisBounds& bounds = TWhoisBounds{});

// The bytes of RunWhoisExchange alone; "" when the server cannot be resolved,
// refuses, or the connect or send fails.
std::string ExchangeWhois(std::string_view server, std::string_view queryLine,
                          const TWhoisBounds& bounds = TWhoisBounds{});

// The first IPv4 address of name in dotted decimal, or "" (getaddrinfo, AF_INET).
std::string ResolveIPv4(const std::string& name);
