#pragma once

// The registry data the program ships, read once for a whole test program
// (it is immutable once read, as in the program).

#include "engine/RegistryData.h"
#include "tests/support/TestPaths.h"

inline const TRegistryData& ShippedRegistryData() {
    static const TRegistryDataLoad load = [] {
        TRegistryDataSources sources;
        sources.ShippedFolder = testpaths::SourceDir() + "/data";
        return LoadRegistryData(sources);
    }();
    return *load.Data;
}
