#pragma once

// A small HTTP CONNECT proxy on a loopback port, for the tests of HTTP
// proxies: it tunnels to loopback addresses only (names other than
// "localhost" are refused, so no name service is ever asked), checks Basic
// credentials when given some, and can refuse every request with a status.

#include <memory>
#include <string>

struct TConnectProxyOptions {
    std::string User; // with Password: other or no credentials get 407
    std::string Password;
    std::string BindAddress; // the source address of its connections, or ""
    int RefuseStatus = 0;    // when not 0, every CONNECT is answered with it
};

class TConnectProxy {
public:
    explicit TConnectProxy(TConnectProxyOptions options = {});
    ~TConnectProxy(); // stops it

    TConnectProxy(const TConnectProxy&) = delete;
    TConnectProxy& operator=(const TConnectProxy&) = delete;

    // Listens on a free loopback port; false with Error() set when it cannot.
    bool Start();
    void Stop();

    int Port() const;
    const std::string& Error() const;
    // CONNECT requests answered with 200 so far.
    int TunnelCount() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
