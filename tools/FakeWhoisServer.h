#pragma once

// A fake WHOIS server on a loopback port, for tests, benchmarks and offline
// trials. It reads one query line per connection, answers it and closes, and
// can be told to misbehave in the ways real servers do.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class TFakeWhoisMode {
    Normal,   // send the reply, then close
    Silent,   // accept, read the query, send nothing and never close
    Drip,     // send one byte of the reply (repeating it) every DripPauseMs, for ever
    Reset,    // send the first ResetAfterBytes bytes, then reset the connection (RST)
    Huge,     // send HugeBytes bytes of reply-like text, then close
    NoAccept, // listen but never accept: connects hang once the backlog is full
};

struct TFakeWhoisOptions {
    std::string Host = "127.0.0.1";
    int Port = 0; // 0: any free port; Port() tells which
    // Where replies come from, tried in this order for a query line "name.tld":
    // Responder (when set), then Replies folder files "name.tld", then "tld",
    // then "default" (each file name also tried with ".txt" appended). No
    // match: the connection is closed without a byte. An empty Responder
    // answer counts as no match there and the folder is tried next.
    std::function<std::string(const std::string& query)> Responder;
    std::string RepliesDir;
    std::string FallbackReply; // when not empty: the reply for a query nothing else answered
    TFakeWhoisMode Mode = TFakeWhoisMode::Normal;
    int LatencyMs = 0;          // wait before the first byte
    std::size_t ChunkBytes = 0; // 0: whole reply at once; else send in chunks of this size
    int ChunkPauseMs = 0;       // pause between chunks
    int DripPauseMs = 100;
    std::size_t ResetAfterBytes = 0;
    std::size_t HugeBytes = 64u << 20;
    std::string LogFile; // when set, every query line received is appended, one per line
    // Keep the query lines in memory for Queries()/RawQueries(); a long-running
    // server for benchmarks turns this off so memory stays flat.
    bool KeepQueries = true;
    // Per client address, at most LimitPerSecond queries a second on average
    // and LimitBurst at once (a token bucket, full at the start); 0: no limit.
    // A query beyond it gets ThrottleText, with {ip} the client's address and
    // {seconds} the whole seconds until its next token, and is closed.
    double LimitPerSecond = 0;
    int LimitBurst = 1;
    std::string ThrottleText = "The WHOIS query quota for {ip} has been exceeded and will be "
                               "replenished in {seconds} seconds.\r\n";
    // When not 0: every FlakyEvery-th connection (the K-th, 2K-th, ... accepted)
    // has its query read and is then reset without a byte, whatever the mode.
    int FlakyEvery = 0;
};

class TFakeWhoisServer {
public:
    explicit TFakeWhoisServer(TFakeWhoisOptions options);
    ~TFakeWhoisServer(); // stops the server

    TFakeWhoisServer(const TFakeWhoisServer&) = delete;
    TFakeWhoisServer& operator=(const TFakeWhoisServer&) = delete;

    // Binds and starts serving on threads of its own. False with Error() set
    // when the port cannot be bound.
    bool Start();
    // Closes the listening socket and every connection, and joins the threads.
    void Stop();

    int Port() const;
    // "127.0.0.1:PORT", ready for GetWhoisReply or TAVIREL_WHOIS_SERVER.
    std::string Address() const;
    const std::string& Error() const;

    // Query lines received so far, without their line end, in arrival order.
    std::vector<std::string> Queries() const;
    // The raw bytes of the query lines received so far, line ends included.
    std::vector<std::string> RawQueries() const;
    // The client address each of those queries came from ("127.0.0.2"): the
    // proxy's outgoing address when the client asked through one.
    std::vector<std::string> QueryPeers() const;
    // Connections accepted so far, open right now, and the most ever open at once.
    // A connection stops counting as open the moment either side closes it: the
    // server's count drops before its own FIN leaves, and a client's FIN is
    // noticed before the next connection is counted.
    int AcceptedCount() const;
    int OpenCount() const;
    int MaxOpenCount() const;
    // Queries answered with the throttle text, and connections reset by the
    // flaky mode, so far.
    int ThrottledCount() const;
    int FlakyResetCount() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
