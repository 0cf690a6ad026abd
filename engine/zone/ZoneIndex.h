#pragma once

// The compact index of a zone file's delegated names: each name as a sorted
// 64-bit hash with a 32-bit check of the name beside it, twelve bytes a
// name, kept in the user's cache folder and mapped into memory to look up.
// The zone file is streamed once to build it (ZoneReader) and the index is
// used again for as long as the file keeps its size and time. A name the
// index holds is registered (method zone); a name it does not hold says
// nothing, and is asked as usual. No Qt here.

#include "engine/zone/ZoneReader.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// $XDG_CACHE_HOME/tavirelbrisvane/zones, or ~/.cache/tavirelbrisvane/zones;
// "" when neither variable names a folder.
std::string ZoneCacheFolder();

// A zone is old after this long: its names may have changed since.
inline constexpr std::chrono::hours ZoneAgeLimit{48};

class TZoneIndex {
public:
    // What opening took.
    struct TOpening {
        bool Built = false;    // the index was (re)built from the zone file
        double Seconds = 0;    // the time opening took
        TZoneReading Reading;  // of the zone file, when built
        std::string IndexFile; // where the index is kept
    };

    // The index of zoneFile from cacheFolder ("": ZoneCacheFolder()), built
    // when it is missing or the file changed. Null with error when the zone
    // file cannot be read or holds no delegation, or when progress (told
    // while the file is read to build the index) said stop; an index that
    // cannot be kept is built in memory.
    static std::shared_ptr<const TZoneIndex> Open(const std::string& zoneFile, std::string& error,
                                                  TOpening* opening = nullptr,
                                                  const std::string& cacheFolder = "",
                                                  const TZoneProgress& progress = {});
    ~TZoneIndex();
    TZoneIndex(const TZoneIndex&) = delete;
    TZoneIndex& operator=(const TZoneIndex&) = delete;

    // Whether queryName (A-labels, any case) has NS records in the zone.
    bool Holds(std::string_view queryName) const;
    // The zone's apex ("com") and how many names it delegates.
    const std::string& Tld() const { return FTld; }
    std::size_t Size() const { return FCount; }
    const std::string& File() const { return FFile; }
    // Of when the zone is: its SOA serial's date (YYYYMMDDnn), else the
    // file's time.
    std::chrono::system_clock::time_point Date() const { return FDate; }
    bool IsOld(std::chrono::system_clock::time_point now) const {
        return now - FDate > ZoneAgeLimit;
    }

private:
    TZoneIndex() = default;
    static std::shared_ptr<TZoneIndex> Map(const std::string& indexFile);

    std::string FFile;
    std::string FTld;
    std::size_t FCount = 0;
    std::chrono::system_clock::time_point FDate{};
    const std::uint64_t* FKeys = nullptr;
    const std::uint32_t* FChecks = nullptr;
    // The mapping of the index file, or the index built in memory.
    void* FMapping = nullptr;
    std::size_t FMappingBytes = 0;
    std::vector<std::uint64_t> FOwnKeys;
    std::vector<std::uint32_t> FOwnChecks;
};

using TZoneIndexes = std::vector<std::shared_ptr<const TZoneIndex>>;

// The index of zones that holds queryName; null when none does.
const TZoneIndex* ZoneHolding(const TZoneIndexes& zones, std::string_view queryName);
