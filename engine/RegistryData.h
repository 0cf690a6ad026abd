#pragma once

// The registry data: for every top-level domain its port-43 server and its
// RDAP base, and from when the copy is. Read once at start from the data
// folder (or from a file the user names), then immutable and shared
// read-only by every thread. No Qt here; no routine throws to its caller.
//
// The data has two parts:
// - the servers file (tld-servers.tsv layout: a header row naming at least
//   the columns tld, whois_server and rdap_base, then one row per TLD), and
// - the RDAP bootstrap file (IANA's dns.json, RFC 9224). The bootstrap in
//   force gives the RDAP base of every TLD it lists; the servers file gives
//   the rest (the bases registries publish outside IANA's file).

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TTldServers {
    std::string WhoisServer; // port-43 host ("host" or "host:port"); "" where none is listed
    std::string RdapBase;    // RDAP base URL ending in '/'; "" where none is known
};

class TRegistryData {
public:
    // The servers of tld (lower-case ASCII without the dot: "io",
    // "xn--fiqs8s"), or nullptr when the data does not hold it.
    const TTldServers* Find(std::string_view tld) const;
    std::size_t Size() const { return FServers.size(); }
    // Every TLD of the data, in alphabetical order.
    std::vector<std::string> Tlds() const;

    // Where each part was read from and of when it is ("2026-08-08";
    // "unknown" when nothing says).
    const std::string& ServersFile() const { return FServersFile; }
    const std::string& ServersDate() const { return FServersDate; }
    const std::string& RdapFile() const { return FRdapFile; }
    const std::string& RdapDate() const { return FRdapDate; }

private:
    friend class TRegistryDataBuilder;

    struct THash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, TTldServers, THash, std::equal_to<>> FServers;
    std::string FServersFile, FServersDate = "unknown";
    std::string FRdapFile, FRdapDate = "unknown";
};

// --- The two files, read from text --------------------------------------------

// One row of a servers file.
struct TServersRow {
    std::string Tld;
    std::string WhoisServer;
    std::string RdapBase;
};

// Reads a servers file. False on the first broken line, with error saying
// which line and why ("line 12: expected 5 tab-separated fields, found 3").
bool ReadServersTable(std::string_view text, std::vector<TServersRow>& rows, std::string& error);

// An RDAP bootstrap file: the base of each TLD it lists, and its date.
struct TRdapBootstrap {
    std::string Publication;                  // its "publication" member as written, "" when absent
    std::map<std::string, std::string> Bases; // tld -> base URL ending in '/'
};

// Reads an RDAP bootstrap file (RFC 9224 layout). False with the reason (and
// the line, for text that is not JSON) when it does not have that layout or
// lists no TLD at all.
bool ReadRdapBootstrap(std::string_view json, TRdapBootstrap& bootstrap, std::string& error);

// --- Loading at start ---------------------------------------------------------

inline constexpr const char* ServersFileName = "tld-servers.tsv";
inline constexpr const char* ServersDateFileName = "tld-servers.date";
inline constexpr const char* RdapBootstrapFileName = "rdap-dns.json";

// Where the data comes from.
struct TRegistryDataSources {
    std::string ShippedFolder; // the program's data folder: tld-servers.tsv, rdap-dns.json
    std::string ServersFile;   // replaces the shipped servers file when not empty
    std::string UserFolder;    // a downloaded rdap-dns.json here replaces the shipped one
};

struct TRegistryDataLoad {
    std::shared_ptr<const TRegistryData> Data; // never null
    // For people, one line each: a file that could not be used, why, and what
    // was used instead.
    std::vector<std::string> Problems;
};

// Reads the data. A given file that is missing or broken is reported and the
// shipped one is used; when the shipped one fails too, that part is empty.
TRegistryDataLoad LoadRegistryData(const TRegistryDataSources& sources);

// The sources for a program whose data folder is shippedFolder: optionFile
// (--registry-data) or else TAVIREL_REGISTRY_DATA replaces the servers file,
// and the user's data folder is looked in for a downloaded bootstrap.
TRegistryDataSources RegistryDataSourcesFor(std::string shippedFolder, std::string optionFile = {});

// The program's own data (ProgramDataFolder, TAVIREL_REGISTRY_DATA, the
// user's folder), read the first time it is asked for, then shared read-only:
// for a query whose creator named no data.
const TRegistryDataLoad& ProgramRegistryData();

// The user's data folder of the program: $XDG_DATA_HOME/tavirelbrisvane, or
// ~/.local/share/tavirelbrisvane; "" when neither variable names a folder.
std::string UserDataFolder();
