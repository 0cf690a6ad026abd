// fake-rdap-server: the in-process fake RDAP server as a program, for
// benchmarks, end-to-end runs and offline trials. The first line it prints
// tells the port, so scripts can start it on port 0 and read where it went.

#include "tools/FakeRdapServer.h"
#include "tools/ProgramOptions.h"
#include "tools/ServeUntilSignal.h"

#include <cstdio>

#include <string>

namespace {

constexpr int KExitBadArguments = 2;

const char* const KUsage = "usage: fake-rdap-server [--host H] [--port N] [--answers DIR]\n"
                           "         [--mode normal|silent|error] [--latency MS]\n"
                           "         [--limit N] [--limit-window MS] [--retry-after VALUE]\n"
                           "         [--cert FILE --key FILE] [--log FILE]\n";

constexpr TNamedValue<TFakeRdapMode> KModes[] = {
    {"normal", TFakeRdapMode::Normal},
    {"silent", TFakeRdapMode::Silent},
    {"error", TFakeRdapMode::Error},
};

bool ParseArguments(int argc, char** argv, TFakeRdapOptions& o) {
    const TOptionReader reader("fake-rdap-server", KUsage);
    const bool read =
        reader.Read(argc, argv, [&](const std::string& opt, const std::string& value) {
            if (opt == "--host") {
                o.Host = value;
            } else if (opt == "--port") {
                return reader.Number(opt, value, o.Port, 65535);
            } else if (opt == "--answers") {
                o.AnswersDir = value;
            } else if (opt == "--mode") {
                const auto mode = ValueByName(KModes, value);
                return mode ? (o.Mode = *mode, true) : reader.Bad("unknown mode " + value);
            } else if (opt == "--latency") {
                return reader.Number(opt, value, o.LatencyMs);
            } else if (opt == "--limit") {
                return reader.Number(opt, value, o.LimitRequests);
            } else if (opt == "--limit-window") {
                return reader.Number(opt, value, o.LimitWindowMs);
            } else if (opt == "--retry-after") {
                o.RetryAfter = value;
            } else if (opt == "--cert") {
                o.CertFile = value;
            } else if (opt == "--key") {
                o.KeyFile = value;
            } else if (opt == "--log") {
                o.LogFile = value;
            } else {
                return reader.Unknown(opt);
            }
            return true;
        });
    if (read && o.CertFile.empty() != o.KeyFile.empty()) {
        return reader.Bad("--cert and --key go together");
    }
    return read;
}

} // namespace

int main(int argc, char** argv) {
    TFakeRdapOptions options;
    // A server running for hours would otherwise keep every request in memory.
    options.KeepRequests = false;
    if (!ParseArguments(argc, argv, options)) {
        return KExitBadArguments;
    }

    TFakeRdapServer server(options);
    const int status = ServeUntilStopSignal(server, "fake-rdap-server");
    // What a benchmark weighs keep-alive by.
    if (status == 0) {
        std::printf("accepted %d connections, %d requests\n", server.AcceptedCount(),
                    server.RequestCount());
    }
    return status;
}
