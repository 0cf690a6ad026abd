#include "engine/RegistryData.h"

#include "engine/DataFolder.h"
#include "engine/DomainName.h"
#include "engine/RdapUrl.h"
#include "engine/Unit_Functions.h"
#include "engine/UtcTimeText.h"
#include "engine/WhoisExchange.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

// The builder is the only code that fills a TRegistryData; once built, the
// object is handed out as const and never changes.
class TRegistryDataBuilder {
public:
    static void SetServers(TRegistryData& data, const std::vector<TServersRow>& rows,
                           std::string file, std::string date) {
        for (const TServersRow& row : rows)
            data.FServers[row.Tld] = TTldServers{row.WhoisServer, row.RdapBase};
        data.FServersFile = std::move(file);
        data.FServersDate = std::move(date);
    }
    static void SetRdap(TRegistryData& data, const TRdapBootstrap& bootstrap, std::string file,
                        std::string date) {
        for (const auto& [tld, base] : bootstrap.Bases)
            data.FServers[tld].RdapBase = base;
        data.FRdapFile = std::move(file);
        data.FRdapDate = std::move(date);
    }
};

const TTldServers* TRegistryData::Find(std::string_view tld) const {
    const auto found = FServers.find(tld);
    return found == FServers.end() ? nullptr : &found->second;
}

std::vector<std::string> TRegistryData::Tlds() const {
    std::vector<std::string> tlds;
    tlds.reserve(FServers.size());
    for (const auto& entry : FServers)
        tlds.push_back(entry.first);
    std::sort(tlds.begin(), tlds.end());
    return tlds;
}

namespace {

namespace fs = std::filesystem;

// The real files are below 100 KB; a file many times that size is not one.
constexpr std::uintmax_t MaxDataFileBytes = 16u << 20;
constexpr std::size_t MaxUrlBytes = 2000;

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code code;
    const std::uintmax_t size = fs::file_size(path, code);
    if (code) {
        error = path + ": cannot be read (" + code.message() + ")";
        return false;
    }
    if (size > MaxDataFileBytes) {
        error = path + ": " + std::to_string(size) + " bytes, more than a registry data file has";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = path + ": cannot be read";
        return false;
    }
    bytes = out.str();
    return true;
}

// --- Servers file ---------------------------------------------------------------

// "" when every byte is printable ASCII, else a description of the first
// byte that is not.
std::string ByteProblem(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F)
            return "unexpected " + DescribeByte(c);
    }
    return "";
}

bool IsIPv4Literal(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// "" for an empty value or "host" / "host:port" with a host name or an IPv4
// address; else why not.
std::string WhoisServerProblem(std::string_view value) {
    if (value.empty())
        return "";
    std::string host;
    int port = 0;
    if (!SplitServerAddress(value, host, port) || !(IsHostName(host) || IsIPv4Literal(host)))
        return "whois_server '" + std::string(value) + "' is not a host or host:port";
    return "";
}

// The base with the '/' that RFC 9224 bases end with; "" (and why in error)
// when it is not an http(s) URL or not one data may name (RdapBaseFormProblem).
std::string NormalisedRdapBase(std::string_view value, std::string& error) {
    const std::string lower = LowerAscii(value);
    const bool https = lower.starts_with("https://");
    if (!(https || lower.starts_with("http://")) || value.size() > MaxUrlBytes ||
        value.find_first_of(" \"<>\\^`{|}") != std::string_view::npos ||
        value.size() <= (https ? 8u : 7u) || !ByteProblem(value).empty()) {
        error = "'" + std::string(value.substr(0, 100)) + "' is not an http(s) URL";
        return "";
    }
    // A base from data leads only to a public registry's service.
    if (error = RdapBaseFormProblem(value); !error.empty())
        return "";
    std::string base(value);
    if (base.back() != '/')
        base += '/';
    return base;
}

struct TServersColumns {
    std::size_t Count = 0;
    std::size_t Tld = 0, Whois = 0, Rdap = 0;
};

bool ReadServersHeader(std::string_view line, TServersColumns& columns, std::string& error) {
    const std::vector<std::string_view> names = SplitText(line, '\t');
    columns.Count = names.size();
    bool haveTld = false, haveWhois = false, haveRdap = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "tld")
            columns.Tld = i, haveTld = true;
        else if (names[i] == "whois_server")
            columns.Whois = i, haveWhois = true;
        else if (names[i] == "rdap_base")
            columns.Rdap = i, haveRdap = true;
    }
    if (!(haveTld && haveWhois && haveRdap)) {
        error = "line 1: the header must name the columns tld, whois_server and rdap_base";
        return false;
    }
    return true;
}

bool ReadServersRow(std::string_view line, const TServersColumns& columns, TServersRow& row,
                    std::string& problem) {
    const std::vector<std::string_view> fields = SplitText(line, '\t');
    if (fields.size() != columns.Count) {
        problem = "expected " + std::to_string(columns.Count) + " tab-separated fields, found " +
                  std::to_string(fields.size());
        return false;
    }
    for (std::string_view field : fields)
        if (problem = ByteProblem(field); !problem.empty())
            return false;
    row.Tld = LowerAscii(fields[columns.Tld]);
    if (const std::string why = LabelProblem(row.Tld); !why.empty()) {
        problem = "tld '" + row.Tld + "': " + why;
        return false;
    }
    row.WhoisServer = LowerAscii(fields[columns.Whois]);
    if (problem = WhoisServerProblem(row.WhoisServer); !problem.empty())
        return false;
    row.RdapBase.clear();
    if (!fields[columns.Rdap].empty()) {
        row.RdapBase = NormalisedRdapBase(fields[columns.Rdap], problem);
        if (row.RdapBase.empty())
            return false;
    }
    return true;
}

// --- RDAP bootstrap -------------------------------------------------------------

std::size_t LineOfOffset(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<std::size_t>(
                   std::count(text.begin(), text.begin() + static_cast<long>(offset), '\n'));
}

// The https URL of a service, else its http one; "" when it has neither.
std::string PreferredServiceUrl(const nlohmann::json& urls) {
    std::string http;
    for (const nlohmann::json& url : urls) {
        if (!url.is_string())
            continue;
        const std::string lower = LowerAscii(url.get<std::string>());
        if (lower.starts_with("https://"))
            return url.get<std::string>();
        if (http.empty() && lower.starts_with("http://"))
            http = url.get<std::string>();
    }
    return http;
}

bool ReadBootstrapService(const nlohmann::json& service, std::size_t index,
                          TRdapBootstrap& bootstrap, std::string& error) {
    const std::string where = "services[" + std::to_string(index) + "]";
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() ||
        !service[1].is_array()) {
        error = where + " is not a pair of lists (TLDs, URLs)";
        return false;
    }
    const std::string url = PreferredServiceUrl(service[1]);
    std::string base;
    if (!url.empty() && (base = NormalisedRdapBase(url, error)).empty()) {
        error = where + ": " + error;
        return false;
    }
    for (const nlohmann::json& entry : service[0]) {
        const std::string tld = entry.is_string() ? LowerAscii(entry.get<std::string>()) : "";
        if (!entry.is_string() || !LabelProblem(tld).empty()) {
            error = where + " lists '" + entry.dump().substr(0, 80) + "', which is not a TLD";
            return false;
        }
        if (!base.empty())
            bootstrap.Bases[tld] = base;
    }
    return true;
}

std::string DateOfFile(const std::string& path) {
    std::error_code code;
    const fs::file_time_type written = fs::last_write_time(path, code);
    if (code)
        return "unknown";
    const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        std::chrono::file_clock::to_sys(written));
    return UtcTimeText(system, "%Y-%m-%d") + " (file date)";
}

bool IsIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// The date the shipped folder records for its servers file.
std::string ShippedServersDate(const std::string& folder) {
    std::string text, error;
    if (!ReadWholeFile(folder + "/" + ServersDateFileName, text, error))
        return "unknown";
    text = text.substr(0, text.find_first_of("\r\n"));
    return IsIsoDate(text) ? text : "unknown";
}

std::string BootstrapDate(const TRdapBootstrap& bootstrap, const std::string& path) {
    const std::string_view day = std::string_view(bootstrap.Publication).substr(0, 10);
    return IsIsoDate(day) ? std::string(day) : DateOfFile(path);
}

bool LoadServersFile(const std::string& path, std::vector<TServersRow>& rows, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error))
        return false;
    if (!ReadServersTable(text, rows, error)) {
        error = path + ":" + error.substr(std::string_view("line ").size());
        return false;
    }
    return true;
}

bool LoadBootstrapFile(const std::string& path, TRdapBootstrap& bootstrap, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error))
        return false;
    if (!ReadRdapBootstrap(text, bootstrap, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void LoadServersPart(const TRegistryDataSources& sources, TRegistryData& data,
                     std::vector<std::string>& problems) {
    std::vector<TServersRow> rows;
    std::string error;
    if (!sources.ServersFile.empty()) {
        if (LoadServersFile(sources.ServersFile, rows, error)) {
            TRegistryDataBuilder::SetServers(data, rows, sources.ServersFile,
                                             DateOfFile(sources.ServersFile));
            return;
        }
        problems.push_back(error + "; the shipped servers file is used");
        rows.clear();
    }
    const std::string shipped = sources.ShippedFolder + "/" + ServersFileName;
    if (LoadServersFile(shipped, rows, error))
        TRegistryDataBuilder::SetServers(data, rows, shipped,
                                         ShippedServersDate(sources.ShippedFolder));
    else
        problems.push_back(error + "; only the built-in server table is known");
}

void LoadRdapPart(const TRegistryDataSources& sources, TRegistryData& data,
                  std::vector<std::string>& problems) {
    TRdapBootstrap bootstrap;
    std::string error;
    if (!sources.UserFolder.empty()) {
        const std::string downloaded = sources.UserFolder + "/" + RdapBootstrapFileName;
        std::error_code code;
        if (fs::exists(downloaded, code)) {
            if (LoadBootstrapFile(downloaded, bootstrap, error)) {
                TRegistryDataBuilder::SetRdap(data, bootstrap, downloaded,
                                              BootstrapDate(bootstrap, downloaded));
                return;
            }
            problems.push_back(error + "; the shipped RDAP bootstrap is used");
            bootstrap = {};
        }
    }
    const std::string shipped = sources.ShippedFolder + "/" + RdapBootstrapFileName;
    if (LoadBootstrapFile(shipped, bootstrap, error))
        TRegistryDataBuilder::SetRdap(data, bootstrap, shipped, BootstrapDate(bootstrap, shipped));
    else
        problems.push_back(error + "; RDAP bases come from the servers file alone");
}

} // namespace

namespace {

bool ReadServersLines(std::string_view text, std::vector<TServersRow>& rows, std::string& error) {
    if (text.empty()) {
        error = "line 1: the file is empty";
        return false;
    }
    TServersColumns columns;
    std::map<std::string, std::size_t, std::less<>> firstLine;
    std::size_t lineNumber = 0;
    bool haveHeader = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!haveHeader) {
            if (!ReadServersHeader(line, columns, error))
                return false;
            haveHeader = true;
            continue;
        }
        if (line.empty() || line.front() == '#')
            continue;
        TServersRow row;
        std::string problem;
        if (!ReadServersRow(line, columns, row, problem)) {
            error = "line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
        if (const auto [at, added] = firstLine.emplace(row.Tld, lineNumber); !added) {
            error = "line " + std::to_string(lineNumber) + ": tld '" + row.Tld +
                    "' already stands on line " + std::to_string(at->second);
            return false;
        }
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        error = "line " + std::to_string(lineNumber + 1) + ": no TLD rows";
        return false;
    }
    return true;
}

} // namespace

bool ReadServersTable(std::string_view text, std::vector<TServersRow>& rows, std::string& error) {
    std::vector<TServersRow> read;
    const bool ok = ReadServersLines(text, read, error);
    rows = ok ? std::move(read) : std::vector<TServersRow>{};
    return ok;
}

bool ReadRdapBootstrap(std::string_view json, TRdapBootstrap& bootstrap, std::string& error) {
    bootstrap = {};
    try {
        const nlohmann::json document = nlohmann::json::parse(json.begin(), json.end());
        if (!document.is_object() || !document.contains("services") ||
            !document["services"].is_array()) {
            error = "not an RDAP bootstrap file (no \"services\" list)";
            return false;
        }
        if (document.contains("publication") && document["publication"].is_string())
            bootstrap.Publication = document["publication"].get<std::string>();
        const nlohmann::json& services = document["services"];
        for (std::size_t i = 0; i < services.size(); ++i) {
            if (!ReadBootstrapService(services[i], i, bootstrap, error)) {
                bootstrap = {};
                return false;
            }
        }
        if (bootstrap.Bases.empty()) {
            error = "the RDAP bootstrap file lists no TLD";
            return false;
        }
        return true;
    } catch (const nlohmann::json::parse_error& e) {
        error = "line " + std::to_string(LineOfOffset(json, e.byte == 0 ? 0 : e.byte - 1)) +
                ": not JSON (" + e.what() + ")";
    } catch (const std::exception& e) {
        error = std::string("not an RDAP bootstrap file (") + e.what() + ")";
    }
    bootstrap = {};
    return false;
}

TRegistryDataLoad LoadRegistryData(const TRegistryDataSources& sources) {
    TRegistryDataLoad load;
    auto data = std::make_shared<TRegistryData>();
    try {
        LoadServersPart(sources, *data, load.Problems);
        LoadRdapPart(sources, *data, load.Problems);
    } catch (const std::exception& e) {
        load.Problems.push_back(std::string("registry data could not be read: ") + e.what());
        data = std::make_shared<TRegistryData>();
    }
    load.Data = std::move(data);
    return load;
}

const TRegistryDataLoad& ProgramRegistryData() {
    // Read once (a function-local static starts safely on any thread), then
    // never changed.
    static const TRegistryDataLoad load =
        LoadRegistryData(RegistryDataSourcesFor(ProgramDataFolder().string()));
    return load;
}

TRegistryDataSources RegistryDataSourcesFor(std::string shippedFolder, std::string optionFile) {
    TRegistryDataSources sources;
    sources.ShippedFolder = std::move(shippedFolder);
    sources.ServersFile = std::move(optionFile);
    if (sources.ServersFile.empty())
        if (const char* file = std::getenv("TAVIREL_REGISTRY_DATA"))
            sources.ServersFile = file;
    sources.UserFolder = UserDataFolder();
    return sources;
}

std::string UserDataFolder() {
    return UserFolderOfKind("XDG_DATA_HOME", ".local/share");
}
