#include "tests/support/FakeWhois.h"

#include <algorithm>
#include <atomic>

#include <QCoreApplication>

TResponder Always(std::string reply) {
    return [reply = std::move(reply)](const std::string&) { return reply; };
}

TResponder InTurn(std::vector<std::string> replies) {
    auto next = std::make_shared<std::atomic<std::size_t>>(0);
    return [replies = std::move(replies), next](const std::string&) {
        const std::size_t turn = (*next)++;
        return replies.empty() ? std::string() : replies[std::min(turn, replies.size() - 1)];
    };
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
