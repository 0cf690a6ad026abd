#pragma once

// Reads a TLD zone file a record at a time, never the whole text in memory:
// the files registries publish for download (one record a line,
// tab-separated, lower-case fully qualified names: "name. 172800 in ns
// host."), and RFC 1035 master files with $ORIGIN, $TTL, relative names,
// "@", owners carried over from the line before and records spread over
// lines in parentheses. Plain or gzip (zlib reads both). What matters here:
// the owners of NS records below the zone's apex (the delegated names) and
// the SOA serial. No Qt here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TZoneLineProblem {
    std::size_t Line = 0; // 1 for the first line of the file
    std::string Reason;
};

struct TZoneReading {
    std::string Origin;                  // the apex, lower case, no final dot ("com")
    std::optional<std::uint32_t> Serial; // of the apex's SOA record
    std::size_t Lines = 0;
    std::size_t Records = 0;
    std::size_t Delegations = 0;            // NS records below the apex
    std::vector<TZoneLineProblem> Problems; // the first MaxProblems broken lines
    std::size_t ProblemCount = 0;
    std::string Error; // the file could not be read at all
};

inline constexpr std::size_t MaxZoneProblems = 20;

// How far the reading of a file has come: the bytes of the file read so far
// (of the compressed file, for gzip). False stops the reading.
using TZoneProgress = std::function<bool(std::uint64_t bytesRead)>;

// Streams path; delegated is called with each delegated owner (lower case,
// no final dot, as often as it has NS records). The origin is the first
// $ORIGIN or SOA owner, else the common suffix every owner ends in ("" when
// none). progress, when set, hears every ZoneProgressLines lines; when it
// says stop, the reading ends with Error "reading of PATH cancelled".
TZoneReading ReadZoneFile(const std::string& path,
                          const std::function<void(std::string_view owner)>& delegated,
                          const TZoneProgress& progress = {});
inline constexpr std::size_t ZoneProgressLines = 16384;

// The same from text in memory, for tests and small zones.
TZoneReading ReadZoneText(std::string_view text,
                          const std::function<void(std::string_view owner)>& delegated);
