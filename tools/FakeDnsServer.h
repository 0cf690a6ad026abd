#pragma once

// A fake DNS server on one loopback port, over UDP and TCP, for what a real
// authoritative server will not do on request: stay silent, fail, refuse,
// truncate, answer for another name, or delegate every name (a wildcard).
// A responder decides each answer; ldns writes it.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TFakeDnsQuestion {
    std::string Name; // as asked, without the final dot
    int Type = 0;     // 2 for NS
    bool Tcp = false;
    bool Recursion = false; // the RD bit of the query
};

struct TFakeDnsAnswer {
    enum class TKind {
        Reply,   // the message below
        Silence, // nothing at all (over TCP: the connection is closed unanswered)
    };
    TKind Kind = TKind::Reply;
    int Rcode = 0; // 0 NOERROR, 2 SERVFAIL, 3 NXDOMAIN, 5 REFUSED, ...
    bool Authoritative = false;
    bool Truncated = false;
    // Records in zone-file form ("x.com. 3600 IN NS ns1.x.net.").
    std::vector<std::string> Answer, Authority, Additional;
};

using TFakeDnsResponder = std::function<TFakeDnsAnswer(const TFakeDnsQuestion&)>;

class TFakeDnsServer {
public:
    explicit TFakeDnsServer(TFakeDnsResponder responder);
    ~TFakeDnsServer();
    TFakeDnsServer(const TFakeDnsServer&) = delete;
    TFakeDnsServer& operator=(const TFakeDnsServer&) = delete;

    // Binds UDP and TCP on 127.0.0.1 at one free port and starts serving.
    bool Start();
    void Stop();

    int Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    const std::string& Error() const { return FError; }
    // The questions received so far, in order.
    std::vector<TFakeDnsQuestion> Questions() const;

private:
    void Serve();
    void AnswerUdp();
    void AnswerTcp();
    // The reply to query; empty for none.
    std::string Reply(const unsigned char* query, std::size_t length, bool tcp);

    TFakeDnsResponder FResponder;
    int FUdp = -1;
    int FTcp = -1;
    int FWake[2] = {-1, -1};
    int FPort = 0;
    std::string FError;
    std::thread FThread;
    mutable std::mutex FMutex;
    std::vector<TFakeDnsQuestion> FQuestions;
};
