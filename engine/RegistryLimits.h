#pragma once

// The query rates and daily budgets registries publish for their WHOIS and
// RDAP hosts (the data folder's registry-limits.tsv): the batch's default
// pace for a host, and how many queries it may spend on it in a rolling 24
// hours. No Qt here.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct TRegistryLimit {
    std::optional<double> PerSecond; // the published rate, when there is one
    std::optional<int> PerDay;       // queries in a rolling 24 hours
    std::string Source;              // where the figures are published
};

struct TRegistryLimits {
    // By host, lower case.
    std::map<std::string, TRegistryLimit> ByHost;
    // Lines that could not be read, each "line N: why"; the others stand.
    std::vector<std::string> Problems;

    // The limit of server ("host" or "host:port"), or null.
    const TRegistryLimit* Find(const std::string& server) const;
};

// Reads file (tab-separated: host, per_second, per_day, source, seen, with a
// header line). A missing file is no limits and one problem.
TRegistryLimits LoadRegistryLimits(const std::filesystem::path& file);

// The program's own: registry-limits.tsv of the data folder, read once.
const TRegistryLimits& ProgramRegistryLimits();
