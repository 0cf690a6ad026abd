// The reading of registry data a user or a download may hand the program:
// the same bytes read as a servers file and as an RDAP bootstrap file.
//
// Input: the file's bytes.

#include "engine/DomainName.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"
#include "engine/WhoisExchange.h"
#include "fuzz/FuzzInput.h"

#include <string>
#include <vector>

namespace {

// An http(s) URL (the scheme in any case, as URLs allow) ending in '/'.
bool IsHttpBase(const std::string& base) {
    const std::string lower = LowerAscii(base);
    return (lower.starts_with("https://") || lower.starts_with("http://")) && base.back() == '/';
}

void CheckServersTable(std::string_view text) {
    std::vector<TServersRow> rows;
    std::string error;
    if (!ReadServersTable(text, rows, error)) {
        FUZZ_EXPECT(error.starts_with("line "));
        return;
    }
    FUZZ_EXPECT(error.empty());
    for (const TServersRow& row : rows) {
        FUZZ_EXPECT(LabelProblem(row.Tld).empty());
        std::string host;
        int port = 0;
        FUZZ_EXPECT(row.WhoisServer.empty() || SplitServerAddress(row.WhoisServer, host, port));
        FUZZ_EXPECT(row.RdapBase.empty() || IsHttpBase(row.RdapBase));
    }
}

void CheckBootstrap(std::string_view text) {
    TRdapBootstrap bootstrap;
    std::string error;
    if (!ReadRdapBootstrap(text, bootstrap, error)) {
        FUZZ_EXPECT(!error.empty());
        return;
    }
    FUZZ_EXPECT(!bootstrap.Bases.empty());
    for (const auto& [tld, base] : bootstrap.Bases) {
        FUZZ_EXPECT(LabelProblem(tld).empty());
        FUZZ_EXPECT(IsHttpBase(base));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzzinput::Text(data, size);
    CheckServersTable(text);
    CheckBootstrap(text);
    return 0;
}
