// Time of one server choice, and of one name check, over every suffix of the
// registry data: 1,000 names for each of its TLDs. Printed, not judged here;
// the goal is that a choice costs nothing beside an exchange (milliseconds).
//
//   server-choice-bench DATA_FOLDER [NAMES_PER_SUFFIX]

#include "engine/DomainName.h"
#include "engine/RegistryData.h"
#include "engine/ServerChoice.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double NanosecondsPer(TClock::duration elapsed, std::size_t count) {
    return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(count);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: server-choice-bench DATA_FOLDER [NAMES_PER_SUFFIX]\n");
        return 2;
    }
    const int namesPerSuffix = argc > 2 ? std::atoi(argv[2]) : 1000;
    TRegistryDataSources sources;
    sources.ShippedFolder = argv[1];

    const auto loadStart = TClock::now();
    const TRegistryDataLoad load = LoadRegistryData(sources);
    const auto loadTime = TClock::now() - loadStart;
    for (const std::string& problem : load.Problems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    const TRegistryData& data = *load.Data;
    const std::vector<std::string> tlds = data.Tlds();

    std::vector<std::string> labels;
    for (int i = 0; i < namesPerSuffix; ++i)
        labels.push_back("name-" + std::to_string(i));

    // Names are built outside the timed loops; a checksum keeps the work.
    std::vector<std::string> names;
    names.reserve(tlds.size() * labels.size());
    for (const std::string& tld : tlds)
        for (const std::string& label : labels)
            names.push_back(label + "." + tld);

    std::size_t checksum = 0;
    const auto choiceStart = TClock::now();
    for (const std::string& name : names)
        checksum += static_cast<std::size_t>(ChooseServer(name, data).Route.Protocol);
    const auto choiceTime = TClock::now() - choiceStart;

    const auto checkStart = TClock::now();
    for (const std::string& name : names)
        checksum += CheckDomainName(name, data).IsValid() ? 1 : 0;
    const auto checkTime = TClock::now() - checkStart;

    std::printf("registry data: %zu TLDs, read in %.2f ms\n", data.Size(),
                std::chrono::duration<double, std::milli>(loadTime).count());
    std::printf("server choice: %zu names (%zu suffixes x %d), %.0f ns per choice\n", names.size(),
                tlds.size(), namesPerSuffix, NanosecondsPer(choiceTime, names.size()));
    std::printf("name check:    %zu names, %.0f ns per name\n", names.size(),
                NanosecondsPer(checkTime, names.size()));
    std::printf("(checksum %zu)\n", checksum);
    return 0;
}
