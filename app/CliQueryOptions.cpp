#include "app/CliQueryOptions.h"

#include "engine/DataFolder.h"
#include "engine/RegistryData.h"

#include <cstdio>

const char* const QueryOptionsUsage =
    "  --protocol P       auto (port 43 where the suffix has it, RDAP otherwise; the\n"
    "                     default), whois or rdap: ask only over that protocol\n"
    "  --registry-data FILE  servers per suffix (tld-servers.tsv layout) in place of\n"
    "                     the shipped ones\n";

std::optional<std::string> TakeQueryOption(const std::vector<std::string>& args, std::size_t& i,
                                           TQueryOptions& options) {
    const std::string& arg = args[i];
    if (arg != "--protocol" && arg != "--registry-data")
        return std::nullopt;
    if (i + 1 >= args.size())
        return arg + " needs a value";
    const std::string& value = args[++i];
    if (arg == "--registry-data")
        options.RegistryDataFile = value;
    else if (!ParseProtocolPreference(value, options.Preference))
        return "--protocol is auto, whois or rdap, not '" + value + "'";
    return "";
}

std::shared_ptr<const TRegistryData> LoadQueryRegistryData(const char* program,
                                                           const TQueryOptions& options) {
    const TRegistryDataLoad load = LoadRegistryData(
        RegistryDataSourcesFor(ProgramDataFolder().string(), options.RegistryDataFile));
    for (const std::string& problem : load.Problems)
        std::fprintf(stderr, "%s: registry data: %s\n", program, problem.c_str());
    return load.Data;
}
