#include "app/CliCandidates.h"
#include "app/CliCommands.h"

#include "engine/UtcTimeText.h"
#include "engine/zone/ZoneIndex.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* Program = "tavirelbrisvane-cli zone";
constexpr const char* Usage =
    "usage: tavirelbrisvane-cli zone FILE...\n"
    "  FILE: a TLD zone file (one record a line as registries publish it, or an\n"
    "        RFC 1035 master file; plain or .gz). Its index is built into the cache\n"
    "        folder, or found there unchanged, and what it holds is printed: the\n"
    "        TLD, the delegated names, the zone's date and the time it took\n";

void PrintProblems(const std::string& file, const TZoneReading& reading) {
    for (const TZoneLineProblem& problem : reading.Problems)
        std::fprintf(stderr, "%s: %s:%zu: %s\n", Program, file.c_str(), problem.Line,
                     problem.Reason.c_str());
    if (reading.ProblemCount > reading.Problems.size())
        std::fprintf(stderr, "%s: %s: %zu more lines skipped\n", Program, file.c_str(),
                     reading.ProblemCount - reading.Problems.size());
}

} // namespace

int RunZoneCommand(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (args.empty())
        return FailCommand(Program, 2, std::string("a zone file is needed\n") + Usage);
    for (const std::string& arg : args) {
        if (arg.size() > 1 && arg[0] == '-')
            return FailCommand(Program, 2, "unknown option '" + arg + "'\n" + Usage);
    }
    const auto now = std::chrono::system_clock::now();
    for (const std::string& file : args) {
        std::string error;
        TZoneIndex::TOpening opening;
        const std::shared_ptr<const TZoneIndex> zone = TZoneIndex::Open(file, error, &opening);
        if (!zone)
            return FailCommand(Program, 2, error);
        if (opening.Built)
            PrintProblems(file, opening.Reading);
        std::printf("%s: .%s, %zu delegated names, of %s%s; index %s %s in %.2f s\n", file.c_str(),
                    zone->Tld().c_str(), zone->Size(),
                    UtcTimeText(zone->Date(), "%Y-%m-%d").c_str(),
                    zone->IsOld(now) ? " (more than 48 hours old)" : "",
                    opening.IndexFile.empty() ? "(in memory)" : opening.IndexFile.c_str(),
                    opening.Built ? "built" : "unchanged", opening.Seconds);
    }
    return 0;
}
