#pragma once

// microsocks (a SOCKS5 server, Debian package microsocks) started on a free
// loopback port for a test's life, and stopped with it.

#include <string>
#include <sys/types.h>

struct TMicrosocksOptions {
    std::string User; // with Password: only that user and password get in
    std::string Password;
    std::string BindAddress; // the source address of its connections (-b), or ""
};

class TMicrosocks {
public:
    explicit TMicrosocks(TMicrosocksOptions options = {});
    ~TMicrosocks(); // kills it and waits for it

    TMicrosocks(const TMicrosocks&) = delete;
    TMicrosocks& operator=(const TMicrosocks&) = delete;

    // True once it accepts connections; else Error() says why.
    bool Started() const { return FPid > 0; }
    const std::string& Error() const { return FError; }
    int Port() const { return FPort; }
    // "127.0.0.1:PORT"
    std::string Address() const;

private:
    bool StartOn(int port, const TMicrosocksOptions& options);
    void Stop();

    pid_t FPid = -1;
    int FPort = 0;
    std::string FError;
};
