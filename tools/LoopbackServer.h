#pragma once

// What the fake servers share: a listening socket on a numeric IPv4 address,
// a wake pipe whose one byte tells every wait of the server to give up, an
// accept thread, and one thread per connection, joined once it is done. The
// servers say what a connection is and how it is served; this part knows
// nothing of WHOIS or HTTP.

#include <atomic>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One accepted connection; a server derives its own record from it.
struct TServedConnection {
    virtual ~TServedConnection() = default;

    int Fd = -1;      // written only by its own thread, under the server's connection lock
    int Ordinal = 0;  // 1 for the first connection accepted
    std::string Peer; // the client's address, "127.0.0.1"
    std::thread Thread;
    std::atomic<bool> Done{false}; // set by its thread as its last step
};

class TLoopbackServer {
public:
    using TConnectionPtr = std::shared_ptr<TServedConnection>;
    // Makes the record of a connection just accepted, on the accept thread.
    using TMakeConnection = std::function<TConnectionPtr()>;
    // Serves one connection on its own thread; ends by closing Fd and setting Done.
    using TServe = std::function<void(TServedConnection&)>;
    // On the accept thread: Opened before a connection is served, NotStarted
    // when it could not get a thread (the listener then closes its socket).
    using TConnectionHook = std::function<void(TServedConnection&)>;

    struct THooks {
        TMakeConnection Make;
        TServe Serve;
        TConnectionHook Opened;     // optional
        TConnectionHook NotStarted; // optional
    };

    TLoopbackServer() = default;
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;
    ~TLoopbackServer();

    // The wake pipe, then the listening socket on host ("localhost" or a
    // numeric IPv4 address) and port (0: any free one) with the backlog
    // given. False with Error() set when any step fails.
    bool Listen(const std::string& host, int port, int backlog);
    // Starts the accept thread.
    bool Accept(THooks hooks);
    // Wakes every wait, joins the accept thread and every connection's thread,
    // and closes the sockets. Safe to call more than once.
    void Stop();

    int Port() const { return FBoundPort; }
    int ListenFd() const { return FListenFd; }
    // Readable once the server stops: every wait of a connection polls it.
    int WakeFd() const { return FWakeRead; }
    const std::string& Error() const { return FError; }
    int AcceptedCount() const { return FAccepted.load(); }

    // Guards the list of connections, and each connection's Fd as it closes.
    std::mutex& ConnectionsMutex() { return FConnMutex; }
    // The connections not yet joined; hold ConnectionsMutex() while reading.
    const std::list<TConnectionPtr>& Connections() const { return FConnections; }

    // Records the error of a failed system call with errno's text.
    bool Fail(const std::string& what);

private:
    void AcceptLoop();
    void AcceptOne();
    void Reap(bool all);

    THooks FHooks;
    std::string FError;
    int FListenFd = -1;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    int FBoundPort = 0;
    std::thread FAcceptThread;
    std::mutex FConnMutex;
    std::list<TConnectionPtr> FConnections;
    std::atomic<int> FAccepted{0};
};

// Opens the file every request or query is logged to, for appending; null
// and error set when it cannot be opened.
std::FILE* OpenServerLog(const std::string& path, std::string& error);
