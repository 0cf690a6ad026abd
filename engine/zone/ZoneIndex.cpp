#include "engine/zone/ZoneIndex.h"

#include "engine/DataFolder.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr char Magic[8] = {'T', 'B', 'Z', 'O', 'N', 'E', '1', '\0'};

// The index file: this header, then Count keys (sorted), then Count checks.
struct THeader {
    char Magic[8];
    std::uint64_t ZoneBytes;  // of the zone file it was built from
    std::int64_t ZoneMtimeNs; // and its modification time
    std::uint64_t Count;
    std::int64_t DateSeconds; // Date(), seconds since the epoch
    char Tld[64];
};

struct TEntry {
    std::uint64_t Key;
    std::uint32_t Check;
    bool operator<(const TEntry& other) const {
        return Key != other.Key ? Key < other.Key : Check < other.Check;
    }
    bool operator==(const TEntry&) const = default;
};

// FNV-1a: stable from run to run and machine to machine, unlike std::hash.
std::uint64_t KeyOf(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : name) {
        hash ^= c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint32_t CheckOf(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(lower.data()), static_cast<uInt>(lower.size())));
}

std::string Canonical(std::string_view name) {
    while (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    return std::string(name);
}

// A serial in the common YYYYMMDDnn form, as a date; nothing for any other.
std::optional<std::chrono::system_clock::time_point>
SerialDate(std::optional<std::uint32_t> serial) {
    if (!serial || *serial < 1990000000u)
        return std::nullopt;
    const unsigned year = *serial / 1000000, month = *serial / 10000 % 100,
                   day = *serial / 100 % 100;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                           std::chrono::month(month), std::chrono::day(day)};
    if (!date.ok() || year > 2200)
        return std::nullopt;
    return std::chrono::sys_days(date);
}

std::int64_t MtimeNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string IndexNameOf(const std::string& zoneFile) {
    std::error_code ignored;
    const std::string absolute = fs::absolute(zoneFile, ignored).string();
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.idx",
                  static_cast<unsigned long long>(KeyOf(absolute)));
    return name;
}

bool WriteIndex(const std::string& path, const THeader& header,
                const std::vector<TEntry>& entries) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        for (const TEntry& entry : entries)
            out.write(reinterpret_cast<const char*>(&entry.Key), sizeof entry.Key);
        for (const TEntry& entry : entries)
            out.write(reinterpret_cast<const char*>(&entry.Check), sizeof entry.Check);
        if (!out.flush())
            return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error)
        fs::remove(temporary, error);
    return !error;
}

} // namespace

std::string ZoneCacheFolder() {
    const std::string folder = UserFolderOfKind("XDG_CACHE_HOME", ".cache");
    return folder.empty() ? "" : folder + "/zones";
}

TZoneIndex::~TZoneIndex() {
    if (FMapping != nullptr)
        ::munmap(FMapping, FMappingBytes);
}

std::shared_ptr<TZoneIndex> TZoneIndex::Map(const std::string& indexFile) {
    const int fd = ::open(indexFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    void* mapping = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= sizeof(THeader))
        mapping =
            ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED)
        return nullptr;
    std::shared_ptr<TZoneIndex> index(new TZoneIndex);
    index->FMapping = mapping;
    index->FMappingBytes = static_cast<std::size_t>(st.st_size);
    const auto* header = static_cast<const THeader*>(mapping);
    const std::uint64_t count = header->Count;
    const std::size_t needed =
        sizeof(THeader) + count * (sizeof(std::uint64_t) + sizeof(std::uint32_t));
    if (std::memcmp(header->Magic, Magic, sizeof Magic) != 0 || count > index->FMappingBytes ||
        needed != index->FMappingBytes || header->Tld[sizeof header->Tld - 1] != '\0')
        return nullptr;
    index->FCount = static_cast<std::size_t>(count);
    index->FTld = header->Tld;
    index->FDate = std::chrono::system_clock::time_point(std::chrono::seconds(header->DateSeconds));
    const auto* bytes = static_cast<const unsigned char*>(mapping);
    index->FKeys = reinterpret_cast<const std::uint64_t*>(bytes + sizeof(THeader));
    index->FChecks = reinterpret_cast<const std::uint32_t*>(bytes + sizeof(THeader) +
                                                            count * sizeof(std::uint64_t));
    return index;
}

std::shared_ptr<const TZoneIndex> TZoneIndex::Open(const std::string& zoneFile, std::string& error,
                                                   TOpening* opening,
                                                   const std::string& cacheFolder,
                                                   const TZoneProgress& progress) {
    const auto started = std::chrono::steady_clock::now();
    TOpening facts;
    struct stat zone {};
    if (::stat(zoneFile.c_str(), &zone) != 0) {
        error = "zone file " + zoneFile + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(zone.st_mode)) {
        error = "zone file " + zoneFile + ": not a file";
        return nullptr;
    }
    const std::string folder = cacheFolder.empty() ? ZoneCacheFolder() : cacheFolder;
    facts.IndexFile = folder.empty() ? "" : folder + "/" + IndexNameOf(zoneFile);
    const auto finish = [&](std::shared_ptr<TZoneIndex> index) {
        index->FFile = zoneFile;
        facts.Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (opening != nullptr)
            *opening = std::move(facts);
        return std::shared_ptr<const TZoneIndex>(std::move(index));
    };
    if (!facts.IndexFile.empty()) {
        if (std::shared_ptr<TZoneIndex> kept = Map(facts.IndexFile)) {
            const auto* header = static_cast<const THeader*>(kept->FMapping);
            if (header->ZoneBytes == static_cast<std::uint64_t>(zone.st_size) &&
                header->ZoneMtimeNs == MtimeNs(zone))
                return finish(std::move(kept));
        }
    }

    std::vector<TEntry> entries;
    facts.Built = true;
    facts.Reading = ReadZoneFile(
        zoneFile,
        [&entries](std::string_view owner) {
            entries.push_back({KeyOf(owner), CheckOf(owner)});
        },
        progress);
    if (!facts.Reading.Error.empty()) {
        error = facts.Reading.Error;
        return nullptr;
    }
    if (entries.empty()) {
        error = "zone file " + zoneFile + " delegates no name";
        return nullptr;
    }
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());

    THeader header{};
    std::memcpy(header.Magic, Magic, sizeof Magic);
    header.ZoneBytes = static_cast<std::uint64_t>(zone.st_size);
    header.ZoneMtimeNs = MtimeNs(zone);
    header.Count = entries.size();
    const auto date = SerialDate(facts.Reading.Serial)
                          .value_or(std::chrono::system_clock::time_point(
                              std::chrono::seconds(zone.st_mtim.tv_sec)));
    header.DateSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
    std::strncpy(header.Tld, Canonical(facts.Reading.Origin).c_str(), sizeof header.Tld - 1);

    std::error_code ignored;
    if (!facts.IndexFile.empty())
        fs::create_directories(folder, ignored);
    if (!facts.IndexFile.empty() && WriteIndex(facts.IndexFile, header, entries)) {
        if (std::shared_ptr<TZoneIndex> written = Map(facts.IndexFile))
            return finish(std::move(written));
    }
    // No cache to keep it in: the index lives in memory for this run.
    facts.IndexFile.clear();
    std::shared_ptr<TZoneIndex> index(new TZoneIndex);
    index->FTld = header.Tld;
    index->FCount = entries.size();
    index->FDate = date;
    index->FOwnKeys.reserve(entries.size());
    index->FOwnChecks.reserve(entries.size());
    for (const TEntry& entry : entries) {
        index->FOwnKeys.push_back(entry.Key);
        index->FOwnChecks.push_back(entry.Check);
    }
    index->FKeys = index->FOwnKeys.data();
    index->FChecks = index->FOwnChecks.data();
    return finish(std::move(index));
}

namespace {

// The first of the sorted keys not below key. The keys are hashes, spread
// evenly over their range, so a key's place is close to where its value
// says: the search starts there and widens until it brackets the key, a few
// reads of memory where a plain binary search of a large index misses the
// cache at every step.
const std::uint64_t* FirstKeyNotBelow(const std::uint64_t* keys, std::size_t count,
                                      std::uint64_t key) {
    if (count == 0)
        return keys;
    const double share = static_cast<double>(key) / 18446744073709551616.0; // 2^64
    std::size_t low =
        std::min(count - 1, static_cast<std::size_t>(share * static_cast<double>(count)));
    std::size_t high = low + 1;
    for (std::size_t step = 16; low > 0 && keys[low - 1] >= key; step *= 2)
        low = low > step ? low - step : 0;
    for (std::size_t step = 16; high < count && keys[high] < key; step *= 2)
        high = std::min(count, high + step);
    return std::lower_bound(keys + low, keys + high, key);
}

} // namespace

bool TZoneIndex::Holds(std::string_view queryName) const {
    const std::string name = Canonical(queryName);
    const std::uint64_t key = KeyOf(name);
    const std::uint32_t check = CheckOf(name);
    const std::uint64_t* first = FirstKeyNotBelow(FKeys, FCount, key);
    for (const std::uint64_t* at = first; at != FKeys + FCount && *at == key; ++at) {
        if (FChecks[at - FKeys] == check)
            return true;
    }
    return false;
}

const TZoneIndex* ZoneHolding(const TZoneIndexes& zones, std::string_view queryName) {
    const std::size_t dot = queryName.rfind('.');
    const std::string_view tld =
        dot == std::string_view::npos ? std::string_view() : queryName.substr(dot + 1);
    for (const std::shared_ptr<const TZoneIndex>& zone : zones) {
        if (zone && (zone->Tld().empty() || zone->Tld() == tld) && zone->Holds(queryName))
            return zone.get();
    }
    return nullptr;
}
