#pragma once

// Registry data that routes one TLD to servers a test runs on loopback, read
// as the program reads a --registry-data file.

#include "engine/RegistryData.h"
#include "tests/support/TestPaths.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

// Data holding only tld, with whoisServer ("host:port", "" for none) and
// rdapBase ("" for none) as its servers file gives them.
inline std::shared_ptr<const TRegistryData> RegistryDataRoutingTo(const std::string& tld,
                                                                  const std::string& whoisServer,
                                                                  const std::string& rdapBase) {
    static std::atomic<int> files{0};
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("tavirel-servers-" + std::to_string(::getpid()) + "-" + std::to_string(files++) + ".tsv");
    std::ofstream(file) << "tld\twhois_server\trdap_base\n"
                        << tld << "\t" << whoisServer << "\t" << rdapBase << "\n";
    TRegistryDataSources sources;
    sources.ShippedFolder = testpaths::SourceDir() + "/data";
    sources.ServersFile = file.string();
    TRegistryDataLoad load = LoadRegistryData(sources);
    std::filesystem::remove(file);
    return load.Data;
}
