#pragma once

// Fetching a newer RDAP bootstrap file (IANA's dns.json) into the user's data
// folder, where the registry data looks for it at start. The file is taken
// only when it arrived whole, within its bounds, and reads as an RDAP
// bootstrap file; it then replaces the old copy in one rename, so a failed or
// broken download never leaves less than was there. No Qt here.

#include <chrono>
#include <cstddef>
#include <string>

inline constexpr const char* IanaRdapBootstrapUrl = "https://data.iana.org/rdap/dns.json";

struct TDownloadBounds {
    std::chrono::milliseconds Connect{10'000};
    std::chrono::milliseconds Whole{60'000};
    std::size_t MaxBytes = 4u << 20; // IANA's file is about 70 KB
};

struct TBootstrapUpdate {
    bool Ok = false;
    std::string Message;  // for people: what was saved, or why nothing was
    std::string File;     // where the file is (or would have been) saved
    std::size_t Tlds = 0; // TLDs with an RDAP base in the new file
    std::string Publication;
};

// Downloads url and saves it as userFolder/rdap-dns.json. Plain http only
// when allowPlainHttp (a URL the user typed); https certificates are checked.
TBootstrapUpdate UpdateRdapBootstrap(const std::string& url, bool allowPlainHttp,
                                     const std::string& userFolder,
                                     const TDownloadBounds& bounds = TDownloadBounds{});

// The body of a GET of url within bounds, following at most three redirects
// of the same schemes; false with the reason on any failure or status but 200.
bool DownloadBounded(const std::string& url, bool allowPlainHttp, const TDownloadBounds& bounds,
                     std::string& body, std::string& error);

// Writes bytes to path through a temporary file in the same folder and one
// rename, so path holds either its old content or all of the new.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
