#pragma once

// Fake WHOIS servers the way the query tests use them: started on a loopback
// port, with GetWhoisServer pointed at one for a test's life.

#include "tests/support/ScopedEnv.h"
#include "tools/FakeWhoisServer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Points GetWhoisServer at a test server for the object's life.
class TWhoisServerOverride : public TScopedEnv {
public:
    explicit TWhoisServerOverride(const std::string& address)
        : TScopedEnv("TAVIREL_WHOIS_SERVER", address) {}
};

using TResponder = std::function<std::string(const std::string& query)>;

// A responder that gives every query the same reply.
TResponder Always(std::string reply);

// A responder that gives the replies in turn, one per query, the last one to
// every query after it: one server standing in for a registry and the
// registrar its reply refers to.
TResponder InTurn(std::vector<std::string> replies);

// A started server answering through reply on port (0: any free one), waiting
// latencyMs before each answer; null when the port cannot be bound.
std::unique_ptr<TFakeWhoisServer> StartServer(TResponder reply, int port = 0, int latencyMs = 0);

// A server on a port of four digits, so that "0:PPPP" (0.0.0.0 reaches the
// loopback listener) names it in exactly 6 bytes; null when none is free.
std::unique_ptr<TFakeWhoisServer> StartOnFourDigitPort(TResponder reply);
