// fake-rdap-server: the in-process fake RDAP server as a program, for
// benchmarks, end-to-end runs and offline trials. The first line it prints
// tells the port, so scripts can start it on port 0 and read where it went.

#include "tools/FakeRdapServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <pthread.h>
#include <string>

namespace {

constexpr int KExitBadArguments = 2;

const char* const KUsage = "usage: fake-rdap-server [--host H] [--port N] [--answers DIR]\n"
                           "         [--mode normal|silent|error] [--latency MS]\n"
                           "         [--limit N] [--limit-window MS] [--retry-after VALUE]\n"
                           "         [--cert FILE --key FILE] [--log FILE]\n";

struct TModeName {
    const char* Name;
    TFakeRdapMode Mode;
};

constexpr TModeName KModes[] = {
    {"normal", TFakeRdapMode::Normal},
    {"silent", TFakeRdapMode::Silent},
    {"error", TFakeRdapMode::Error},
};

std::optional<TFakeRdapMode> ModeByName(const std::string& name) {
    for (const auto& m : KModes) {
        if (name == m.Name) {
            return m.Mode;
        }
    }
    return std::nullopt;
}

// A whole decimal number from 0 to max, nothing before or after it.
std::optional<int> ParseNumber(const std::string& text, int max) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long long value = std::stoll(text);
    if (value > max) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

bool BadArgument(const std::string& message) {
    std::cerr << "fake-rdap-server: " << message << "\n" << KUsage;
    return false;
}

bool ParseArguments(int argc, char** argv, TFakeRdapOptions& o) {
    constexpr int KIntMax = std::numeric_limits<int>::max();
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::cout << KUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            return BadArgument(opt.rfind("--", 0) == 0 ? opt + " needs a value"
                                                       : "unknown argument " + opt);
        }
        const std::string value = argv[++i];
        auto number = [&](int& field, int max) {
            const auto v = ParseNumber(value, max);
            if (!v) {
                return BadArgument(opt + ": not a number in range: " + value);
            }
            field = *v;
            return true;
        };
        bool ok = true;
        if (opt == "--host") {
            o.Host = value;
        } else if (opt == "--port") {
            ok = number(o.Port, 65535);
        } else if (opt == "--answers") {
            o.AnswersDir = value;
        } else if (opt == "--mode") {
            const auto mode = ModeByName(value);
            ok = mode ? (o.Mode = *mode, true) : BadArgument("unknown mode " + value);
        } else if (opt == "--latency") {
            ok = number(o.LatencyMs, KIntMax);
        } else if (opt == "--limit") {
            ok = number(o.LimitRequests, KIntMax);
        } else if (opt == "--limit-window") {
            ok = number(o.LimitWindowMs, KIntMax);
        } else if (opt == "--retry-after") {
            o.RetryAfter = value;
        } else if (opt == "--cert") {
            o.CertFile = value;
        } else if (opt == "--key") {
            o.KeyFile = value;
        } else if (opt == "--log") {
            o.LogFile = value;
        } else {
            ok = BadArgument("unknown argument " + opt);
        }
        if (!ok) {
            return false;
        }
    }
    if (o.CertFile.empty() != o.KeyFile.empty()) {
        return BadArgument("--cert and --key go together");
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TFakeRdapOptions options;
    // A server running for hours would otherwise keep every request in memory.
    options.KeepRequests = false;
    if (!ParseArguments(argc, argv, options)) {
        return KExitBadArguments;
    }

    // Blocked before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TFakeRdapServer server(options);
    if (!server.Start()) {
        std::cerr << "fake-rdap-server: " << server.Error() << "\n";
        return 1;
    }
    std::printf("listening on %s\n", server.Address().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
