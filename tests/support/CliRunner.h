#pragma once

// Runs the command-line program the build made, as the command-line tests
// start it.

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace testcli {

// What the test hands the program besides its arguments.
struct TCliInput {
    std::string Stdin{}; // written to standard input, which is then closed
    // What TAVIREL_WHOIS_SERVER names for the program; unset: the test's own
    // environment stands.
    std::optional<std::string> WhoisServer{};
    // The program to start; empty: the command-line program the build made.
    std::string Program{};
};

struct TCliRun {
    int ExitCode = -1; // -1: did not start, crashed, or ran past a minute
    std::string Out;
    std::string Err;
};

// Starts the program with args and waits for its end; one that runs past a
// minute is killed.
TCliRun RunCli(const QStringList& args, const TCliInput& input = {});

// The LF-ended lines of a program's output, without their ends.
std::vector<std::string> LinesOf(const std::string& text);

} // namespace testcli
