#pragma once

// The life of a fake server program: serve until SIGINT or SIGTERM, telling
// the address first, so scripts can start it on port 0 and read where it went.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <string_view>

// Starts server (constructed, not yet started), prints "listening on
// HOST:PORT" and serves until a stop signal; 1 when it cannot start.
template <class TServer> int ServeUntilStopSignal(TServer& server, std::string_view program) {
    // Blocked before the server starts its threads, so only sigwait below
    // receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!server.Start()) {
        std::cerr << program << ": " << server.Error() << "\n";
        return 1;
    }
    std::printf("listening on %s\n", server.Address().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
