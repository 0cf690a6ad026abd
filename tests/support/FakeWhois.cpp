#include "tests/support/FakeWhois.h"

#include <QCoreApplication>

TResponder Always(std::string reply) {
    return [reply = std::move(reply)](const std::string&) { return reply; };
}

std::unique_ptr<TFakeWhoisServer> StartServer(TResponder reply, int port, int latencyMs) {
    TFakeWhoisOptions options;
    options.Responder = std::move(reply);
    options.Port = port;
    options.LatencyMs = latencyMs;
    auto server = std::make_unique<TFakeWhoisServer>(options);
    if (!server->Start())
        return nullptr;
    return server;
}

std::unique_ptr<TFakeWhoisServer> StartOnFourDigitPort(TResponder reply) {
    // Test programs run side by side; the process id spreads their first tries.
    for (int port = 4000 + static_cast<int>(QCoreApplication::applicationPid() % 5000);
         port < 10000; port += 97) {
        if (auto server = StartServer(reply, port))
            return server;
    }
    return nullptr;
}
