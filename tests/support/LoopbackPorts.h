#pragma once

// Loopback ports for tests that need one nobody answers on, or one to start
// a program on.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback port that is bound but not listening: connects to it are refused,
// and nobody else can take it while the socket is held.
class TRefusingPort {
public:
    TRefusingPort() : FFd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            FPort = ntohs(address.sin_port);
    }
    ~TRefusingPort() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TRefusingPort(const TRefusingPort&) = delete;
    TRefusingPort& operator=(const TRefusingPort&) = delete;
    int Port() const { return FPort; }

private:
    int FFd;
    int FPort = 0;
};

// A loopback port free a moment ago, for a program that takes its port on
// the command line; 0 when none could be had. Another may take it first, so
// a caller retries with a new one when its program cannot bind.
inline int FreeLoopbackPort() {
    const TRefusingPort port;
    return port.Port();
}
