// fake-whois-server: the in-process fake WHOIS server as a program, for
// benchmarks, end-to-end runs and offline trials. The first line it prints
// tells the port, so scripts can start it on port 0 and read where it went.

#include "tools/FakeWhoisServer.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <optional>
#include <pthread.h>
#include <string>

namespace {

constexpr int KExitBadArguments = 2;

const char* const KUsage =
    "usage: fake-whois-server [--host H] [--port N] [--replies DIR]\n"
    "         [--mode normal|silent|drip|reset|huge|noaccept] [--latency MS]\n"
    "         [--chunk BYTES] [--chunk-pause MS] [--drip-pause MS]\n"
    "         [--reset-after BYTES] [--huge-bytes N] [--log FILE] [--reply TEXT]\n"
    "         [--limit N/s] [--limit-burst B] [--throttle-text TEXT] [--flaky K]\n";

struct TModeName {
    const char* Name;
    TFakeWhoisMode Mode;
};

constexpr TModeName KModes[] = {
    {"normal", TFakeWhoisMode::Normal}, {"silent", TFakeWhoisMode::Silent},
    {"drip", TFakeWhoisMode::Drip},     {"reset", TFakeWhoisMode::Reset},
    {"huge", TFakeWhoisMode::Huge},     {"noaccept", TFakeWhoisMode::NoAccept},
};

std::optional<TFakeWhoisMode> ModeByName(const std::string& name) {
    for (const auto& m : KModes) {
        if (name == m.Name) {
            return m.Mode;
        }
    }
    return std::nullopt;
}

std::optional<unsigned long long> ParseCount(const std::string& text, unsigned long long max) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > max) {
        return std::nullopt;
    }
    return value;
}

// "50/s" or "50" (queries a second, fractions allowed): above 0 and finite.
std::optional<double> ParseRate(const std::string& text) {
    std::string number = text;
    if (number.size() > 2 && number.compare(number.size() - 2, 2, "/s") == 0) {
        number.resize(number.size() - 2);
    }
    if (number.empty() || ((number[0] < '0' || number[0] > '9') && number[0] != '.')) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0) {
        return std::nullopt;
    }
    return value;
}

// --reply takes \n, \r, \t and \\ so a multi-line reply fits on a command line.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

bool BadArgument(const std::string& message) {
    std::cerr << "fake-whois-server: " << message << "\n" << KUsage;
    return false;
}

bool ParseArguments(int argc, char** argv, TFakeWhoisOptions& o) {
    constexpr auto KIntMax = static_cast<unsigned long long>(std::numeric_limits<int>::max());
    constexpr auto KSizeMax =
        static_cast<unsigned long long>(std::numeric_limits<std::size_t>::max());
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::cout << KUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            return BadArgument(opt.rfind("--", 0) == 0 ? opt + " needs a value"
                                                       : "unknown argument " + opt);
        }
        std::string value = argv[++i];
        auto intValue = [&](int& field, unsigned long long max) {
            auto v = ParseCount(value, max);
            if (!v) {
                return BadArgument(opt + ": not a number in range: " + value);
            }
            field = static_cast<int>(*v);
            return true;
        };
        auto sizeValue = [&](std::size_t& field) {
            auto v = ParseCount(value, KSizeMax);
            if (!v) {
                return BadArgument(opt + ": not a number in range: " + value);
            }
            field = static_cast<std::size_t>(*v);
            return true;
        };
        bool ok = true;
        if (opt == "--host") {
            o.Host = value;
        } else if (opt == "--port") {
            ok = intValue(o.Port, 65535);
        } else if (opt == "--replies") {
            o.RepliesDir = value;
        } else if (opt == "--mode") {
            auto mode = ModeByName(value);
            ok = mode ? (o.Mode = *mode, true) : BadArgument("unknown mode " + value);
        } else if (opt == "--latency") {
            ok = intValue(o.LatencyMs, KIntMax);
        } else if (opt == "--chunk") {
            ok = sizeValue(o.ChunkBytes);
        } else if (opt == "--chunk-pause") {
            ok = intValue(o.ChunkPauseMs, KIntMax);
        } else if (opt == "--drip-pause") {
            ok = intValue(o.DripPauseMs, KIntMax);
        } else if (opt == "--reset-after") {
            ok = sizeValue(o.ResetAfterBytes);
        } else if (opt == "--huge-bytes") {
            ok = sizeValue(o.HugeBytes);
        } else if (opt == "--log") {
            o.LogFile = value;
        } else if (opt == "--reply") {
            o.FallbackReply = Unescape(value);
        } else if (opt == "--limit") {
            auto rate = ParseRate(value);
            ok = rate ? (o.LimitPerSecond = *rate, true)
                      : BadArgument(opt + ": not a rate such as 50/s: " + value);
        } else if (opt == "--limit-burst") {
            ok = intValue(o.LimitBurst, KIntMax) &&
                 (o.LimitBurst > 0 || BadArgument(opt + ": at least 1"));
        } else if (opt == "--throttle-text") {
            o.ThrottleText = Unescape(value);
        } else if (opt == "--flaky") {
            ok = intValue(o.FlakyEvery, KIntMax);
        } else {
            ok = BadArgument("unknown argument " + opt);
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TFakeWhoisOptions options;
    // A server running for hours would otherwise keep every query in memory.
    options.KeepQueries = false;
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

    TFakeWhoisServer server(options);
    if (!server.Start()) {
        std::cerr << "fake-whois-server: " << server.Error() << "\n";
        return 1;
    }
    std::printf("listening on %s\n", server.Address().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
