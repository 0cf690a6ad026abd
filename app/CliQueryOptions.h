#pragma once

// The options every command that asks servers takes: which protocols it may
// use, and a registry data file in place of the shipped servers file.

#include "engine/ServerChoice.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TRegistryData;

struct TQueryOptions {
    TProtocolPreference Preference = TProtocolPreference::Auto;
    std::string RegistryDataFile;
};

// "  --protocol P ..." lines for a command's --help.
extern const char* const QueryOptionsUsage;

// Takes args[i] (and its value, advancing i) when it is --protocol or
// --registry-data. Nothing when it is neither; the error text when its value
// is missing or wrong; "" when taken.
std::optional<std::string> TakeQueryOption(const std::vector<std::string>& args, std::size_t& i,
                                           TQueryOptions& options);

// The registry data the options name; a file that cannot be used is reported
// on standard error as "program: registry data: ..." and the shipped data is
// used. Never null.
std::shared_ptr<const TRegistryData> LoadQueryRegistryData(const char* program,
                                                           const TQueryOptions& options);
