// fake-whois-server: the in-process fake WHOIS server as a program, for
// benchmarks, end-to-end runs and offline trials. The first line it prints
// tells the port, so scripts can start it on port 0 and read where it went.

#include "tools/FakeWhoisServer.h"
#include "tools/ProgramOptions.h"
#include "tools/ServeUntilSignal.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr int KExitBadArguments = 2;

const char* const KUsage =
    "usage: fake-whois-server [--host H] [--port N] [--replies DIR]\n"
    "         [--mode normal|silent|drip|reset|huge|noaccept] [--latency MS]\n"
    "         [--chunk BYTES] [--chunk-pause MS] [--drip-pause MS]\n"
    "         [--reset-after BYTES] [--huge-bytes N] [--log FILE] [--reply TEXT]\n"
    "         [--limit N/s] [--limit-burst B] [--throttle-text TEXT] [--flaky K]\n";

constexpr TNamedValue<TFakeWhoisMode> KModes[] = {
    {"normal", TFakeWhoisMode::Normal}, {"silent", TFakeWhoisMode::Silent},
    {"drip", TFakeWhoisMode::Drip},     {"reset", TFakeWhoisMode::Reset},
    {"huge", TFakeWhoisMode::Huge},     {"noaccept", TFakeWhoisMode::NoAccept},
};

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

bool ParseArguments(int argc, char** argv, TFakeWhoisOptions& o) {
    const TOptionReader reader("fake-whois-server", KUsage);
    return reader.Read(argc, argv, [&](const std::string& opt, const std::string& value) {
        if (opt == "--host") {
            o.Host = value;
        } else if (opt == "--port") {
            return reader.Number(opt, value, o.Port, 65535);
        } else if (opt == "--replies") {
            o.RepliesDir = value;
        } else if (opt == "--mode") {
            const auto mode = ValueByName(KModes, value);
            return mode ? (o.Mode = *mode, true) : reader.Bad("unknown mode " + value);
        } else if (opt == "--latency") {
            return reader.Number(opt, value, o.LatencyMs);
        } else if (opt == "--chunk") {
            return reader.Number(opt, value, o.ChunkBytes);
        } else if (opt == "--chunk-pause") {
            return reader.Number(opt, value, o.ChunkPauseMs);
        } else if (opt == "--drip-pause") {
            return reader.Number(opt, value, o.DripPauseMs);
        } else if (opt == "--reset-after") {
            return reader.Number(opt, value, o.ResetAfterBytes);
        } else if (opt == "--huge-bytes") {
            return reader.Number(opt, value, o.HugeBytes);
        } else if (opt == "--log") {
            o.LogFile = value;
        } else if (opt == "--reply") {
            o.FallbackReply = Unescape(value);
        } else if (opt == "--limit") {
            const auto rate = ParseRate(value);
            return rate ? (o.LimitPerSecond = *rate, true)
                        : reader.Bad(opt + ": not a rate such as 50/s: " + value);
        } else if (opt == "--limit-burst") {
            return reader.Number(opt, value, o.LimitBurst) &&
                   (o.LimitBurst > 0 || reader.Bad(opt + ": at least 1"));
        } else if (opt == "--throttle-text") {
            o.ThrottleText = Unescape(value);
        } else if (opt == "--flaky") {
            return reader.Number(opt, value, o.FlakyEvery);
        } else {
            return reader.Unknown(opt);
        }
        return true;
    });
}

} // namespace

int main(int argc, char** argv) {
    TFakeWhoisOptions options;
    // A server running for hours would otherwise keep every query in memory.
    options.KeepQueries = false;
    if (!ParseArguments(argc, argv, options)) {
        return KExitBadArguments;
    }

    TFakeWhoisServer server(options);
    return ServeUntilStopSignal(server, "fake-whois-server");
}
