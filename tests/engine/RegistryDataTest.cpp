#include "engine/RegistryData.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string ShippedFolder() {
    return testpaths::SourceDir() + "/data";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A literal with the zero bytes inside it.
template <std::size_t N> std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

const std::string Header = "tld\ttype\twhois_server\trdap_base\trdap_source\n";

TEST(RegistryData, ReadsTheShippedCopyWithItsDates) {
    TRegistryDataSources sources;
    sources.ShippedFolder = ShippedFolder();
    const TRegistryDataLoad load = LoadRegistryData(sources);
    EXPECT_TRUE(load.Problems.empty()) << load.Problems.front();
    const TRegistryData& data = *load.Data;

    EXPECT_EQ(data.Size(), 1438u);
    EXPECT_EQ(data.ServersDate(), "2026-08-08");
    EXPECT_EQ(data.RdapDate(), "2026-07-23");
    EXPECT_EQ(data.ServersFile(), ShippedFolder() + "/tld-servers.tsv");
    EXPECT_EQ(data.RdapFile(), ShippedFolder() + "/rdap-dns.json");

    struct TExpected {
        const char* Tld;
        const char* Whois;
        const char* Rdap;
    };
    for (const TExpected& e : {
             // a supplemental base, beside a port-43 host
             TExpected{"io", "whois.nic.io", "https://rdap.identitydigital.services/rdap/"},
             TExpected{"info", "", "https://rdap.identitydigital.services/rdap/"},
             // the bootstrap's form of a base the servers file writes without '/'
             TExpected{"aarp", "whois.nic.aarp", "https://rdap.nic.aarp/"},
             TExpected{"xn--fiqs8s", "whois.cnnic.cn", ""},
             TExpected{"kg", "whois.kg", "http://rdap.cctld.kg/"},
             TExpected{"al", "", ""},
         }) {
        const TTldServers* servers = data.Find(e.Tld);
        ASSERT_NE(servers, nullptr) << e.Tld;
        EXPECT_EQ(servers->WhoisServer, e.Whois) << e.Tld;
        EXPECT_EQ(servers->RdapBase, e.Rdap) << e.Tld;
    }
    EXPECT_EQ(data.Find("zzzz"), nullptr);
    EXPECT_EQ(data.Find("IO"), nullptr) << "keys are lower case; callers lower-case first";
    const std::vector<std::string> tlds = data.Tlds();
    ASSERT_EQ(tlds.size(), 1438u);
    EXPECT_TRUE(std::is_sorted(tlds.begin(), tlds.end()));
}

// --- Servers files ----------------------------------------------------------------

struct TServersCase {
    const char* Name;
    std::string Text;
    const char* Error; // "" for a file that reads
    std::size_t Rows = 0;
};

class ServersTableTest : public ::testing::TestWithParam<TServersCase> {};

TEST_P(ServersTableTest, ReadsOrNamesTheBrokenLine) {
    std::vector<TServersRow> rows;
    std::string error;
    const bool ok = ReadServersTable(GetParam().Text, rows, error);
    if (*GetParam().Error == '\0') {
        EXPECT_TRUE(ok) << error;
        EXPECT_EQ(rows.size(), GetParam().Rows);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(Has(error, GetParam().Error)) << error;
        EXPECT_TRUE(rows.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServersTableTest,
    ::testing::Values(
        TServersCase{"Good", Header + "io\tcctld\twhois.nic.io\thttps://r.example/\tIANA\n", "", 1},
        TServersCase{"CrLfBlankAndCommentLines",
                     "tld\ttype\twhois_server\trdap_base\trdap_source\r\n# note\r\n\r\n"
                     "io\tcctld\twhois.nic.io\t\t\r\nIO2\tcctld\t\thttps://r.example\t\r\n",
                     "", 2},
        TServersCase{"OtherColumnOrderAndPort",
                     "rdap_base\ttld\twhois_server\n\tio\t127.0.0.1:4343\n", "", 1},
        TServersCase{"Empty", "", "line 1: the file is empty"},
        TServersCase{"HeaderOnly", Header, "line 2: no TLD rows"},
        TServersCase{"HeaderWithoutRdapColumn", "tld\twhois_server\nio\twhois.nic.io\n",
                     "line 1: the header"},
        TServersCase{"BinaryGarbage",
                     Bytes("\x7F"
                           "ELF\x01\x02\0\0"),
                     "line 1"},
        TServersCase{"TooFewFields", Header + "io\tcctld\twhois.nic.io\n",
                     "line 2: expected 5 tab-separated fields, found 3"},
        TServersCase{"TooManyFields", Header + "io\tcctld\twhois.nic.io\t\t\t\n",
                     "line 2: expected 5 tab-separated fields, found 6"},
        TServersCase{"BadTldOnLineThree", Header + "io\tcctld\twhois.nic.io\t\t\nx_y\tgtld\t\t\t\n",
                     "line 3: tld"},
        TServersCase{"TldWithLeadingHyphen", Header + "-io\tcctld\t\t\t\n", "line 2: tld"},
        TServersCase{"EmptyTld", Header + "\tcctld\twhois.nic.io\t\t\n", "line 2: tld"},
        TServersCase{"DuplicateTld", Header + "io\tcctld\t\t\t\nab\tcctld\t\t\t\nIO\tcctld\t\t\t\n",
                     "line 4: tld 'io' already stands on line 2"},
        TServersCase{"HostWithBlank", Header + "io\tcctld\twhois nic.io\t\t\n",
                     "line 2: whois_server"},
        TServersCase{"HostWithBadPort", Header + "io\tcctld\twhois.nic.io:99999\t\t\n",
                     "line 2: whois_server"},
        TServersCase{"RdapNotHttp", Header + "io\tcctld\t\tftp://r.example/\t\n",
                     "line 2: 'ftp://r.example/' is not an http(s) URL"},
        TServersCase{"RdapSchemeOnly", Header + "io\tcctld\t\thttps://\t\n", "line 2:"},
        TServersCase{"RdapWithBlank", Header + "io\tcctld\t\thttps://r.example/a b\t\n", "line 2:"},
        // A base from data leads to a registry's public service only.
        TServersCase{"RdapOnALoopbackAddress",
                     Header + "io\tcctld\t\t\t\nab\tcctld\t\thttps://127.0.0.1:18443/rdap/\t\n",
                     "line 3: 'https://127.0.0.1:18443/rdap/' names an address, not a host name"},
        TServersCase{"RdapOnAnotherPort", Header + "io\tcctld\t\thttps://r.example:8443/\t\n",
                     "line 2: 'https://r.example:8443/' names port 8443"},
        TServersCase{"RdapWithAUserName", Header + "io\tcctld\t\thttps://me@r.example/\t\n",
                     "line 2: 'https://me@r.example/' carries a user name"},
        TServersCase{"ZeroByte", Header + Bytes("io\tcctld\twhois\0.nic.io\t\t\n"),
                     "line 2: unexpected byte 0x00"},
        TServersCase{"NonAscii", Header + "io\tcctld\twhois.nic.io\t\t\xD6\xD0\n",
                     "line 2: unexpected byte 0xD6"}),
    [](const ::testing::TestParamInfo<TServersCase>& info) { return info.param.Name; });

// --- RDAP bootstrap files ----------------------------------------------------------

struct TBootstrapCase {
    const char* Name;
    std::string Json;
    const char* Error; // "" for a file that reads
};

class RdapBootstrapTest : public ::testing::TestWithParam<TBootstrapCase> {};

TEST_P(RdapBootstrapTest, ReadsOrSaysWhy) {
    TRdapBootstrap bootstrap;
    std::string error;
    const bool ok = ReadRdapBootstrap(GetParam().Json, bootstrap, error);
    if (*GetParam().Error == '\0') {
        EXPECT_TRUE(ok) << error;
    } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(Has(error, GetParam().Error)) << error;
        EXPECT_TRUE(bootstrap.Bases.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RdapBootstrapTest,
    ::testing::Values(
        TBootstrapCase{"Good", R"({"services": [[["io", "AC"], ["https://r.example/"]]]})", ""},
        TBootstrapCase{"ServiceWithoutUsableUrlIsSkipped",
                       R"({"services": [[["io"], ["https://r.example"]], [["ac"], ["ftp://x"]]]})",
                       ""},
        TBootstrapCase{"Empty", "", "line 1: not JSON"},
        TBootstrapCase{"CutOnLineThree", "{\n  \"services\": [\n    [[\"io\"", "line 3: not JSON"},
        TBootstrapCase{"TopLevelArray", "[1, 2]", "no \"services\" list"},
        TBootstrapCase{"ServicesNotAList", R"({"services": {"io": 1}})", "no \"services\" list"},
        TBootstrapCase{"NoServices", R"({"services": []})", "lists no TLD"},
        TBootstrapCase{"OnlyServicesWithoutUrls", R"({"services": [[["io"], []]]})",
                       "lists no TLD"},
        TBootstrapCase{"ServiceNotAPair", R"({"services": [[["io"]]]})", "services[0]"},
        TBootstrapCase{"TldNotAString", R"({"services": [[[7], ["https://r.example/"]]]})",
                       "services[0] lists '7'"},
        TBootstrapCase{
            "TldNotALabel",
            R"({"services": [[["ok"], ["https://a.example/"]], [["a b"], ["https://r.example/"]]]})",
            "services[1] lists"},
        TBootstrapCase{"UrlWithBlank", R"({"services": [[["io"], ["https://r.example/a b"]]]})",
                       "services[0]"},
        TBootstrapCase{"UrlOnAnAddress",
                       R"({"services": [[["io"], ["https://r.example/"]],
                                        [["ac"], ["https://[::1]:18443/rdap/"]]]})",
                       "services[1]: 'https://[::1]:18443/rdap/' names an address"},
        // Nesting a recursive reader would overflow its stack on.
        TBootstrapCase{"DeepNesting", std::string(100000, '[') + std::string(100000, ']'),
                       "no \"services\" list"}),
    [](const ::testing::TestParamInfo<TBootstrapCase>& info) { return info.param.Name; });

TEST(RdapBootstrap, PrefersHttpsAndEndsBasesWithASlash) {
    TRdapBootstrap bootstrap;
    std::string error;
    ASSERT_TRUE(ReadRdapBootstrap(R"({"publication": "2027-01-02T03:04:05Z", "services": [
        [["io", "AC"], ["http://plain.example/", "https://secure.example/rdap"]],
        [["kg"], ["http://only-plain.example/"]]]})",
                                  bootstrap, error))
        << error;
    EXPECT_EQ(bootstrap.Publication, "2027-01-02T03:04:05Z");
    EXPECT_EQ(bootstrap.Bases,
              (std::map<std::string, std::string>{{"ac", "https://secure.example/rdap/"},
                                                  {"io", "https://secure.example/rdap/"},
                                                  {"kg", "http://only-plain.example/"}}));
}

// --- Loading, with files that replace the shipped ones -----------------------------

class RegistryDataLoading : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return (Dir.path() + "/" + name).toStdString(); }
    TRegistryDataSources Sources() const {
        TRegistryDataSources sources;
        sources.ShippedFolder = ShippedFolder();
        return sources;
    }
    QTemporaryDir Dir;
};

TEST_F(RegistryDataLoading, AServersFileThatCannotBeUsedIsReportedAndTheShippedOneUsed) {
    WriteFile(Path("broken.tsv"), Header + "io\tcctld\twhois.mine.example\t\t\nbad row\n");
    {
        std::ofstream big(Path("big.tsv"), std::ios::binary);
        big << Header;
        big.seekp(17 << 20);
        big << "\n";
    }
    struct TCase {
        const char* File;
        const char* Problem;
    };
    for (const TCase& c : {
             TCase{"broken.tsv", "broken.tsv:3: expected 5 tab-separated fields, found 1"},
             TCase{"absent.tsv", "absent.tsv: cannot be read"},
             TCase{"big.tsv", "more than a registry data file has"},
         }) {
        TRegistryDataSources sources = Sources();
        sources.ServersFile = Path(c.File);
        const TRegistryDataLoad load = LoadRegistryData(sources);
        ASSERT_EQ(load.Problems.size(), 1u) << c.File;
        EXPECT_TRUE(Has(load.Problems[0], c.Problem)) << load.Problems[0];
        EXPECT_TRUE(Has(load.Problems[0], "; the shipped servers file is used"));
        EXPECT_EQ(load.Data->Size(), 1438u) << c.File;
        EXPECT_EQ(load.Data->Find("io")->WhoisServer, "whois.nic.io") << c.File;
        EXPECT_EQ(load.Data->ServersDate(), "2026-08-08") << c.File;
    }
}

TEST_F(RegistryDataLoading, AGoodServersFileReplacesTheShippedOneAndKeepsTheBootstrap) {
    WriteFile(Path("mine.tsv"), Header + "io\tcctld\twhois.mine.example\t\t\n"
                                         "zzzz\tgtld\twhois.nic.zzzz\t\t\n");
    TRegistryDataSources sources = Sources();
    sources.ServersFile = Path("mine.tsv");
    const TRegistryDataLoad load = LoadRegistryData(sources);
    EXPECT_TRUE(load.Problems.empty()) << load.Problems.front();
    EXPECT_EQ(load.Data->Find("io")->WhoisServer, "whois.mine.example");
    EXPECT_EQ(load.Data->Find("zzzz")->WhoisServer, "whois.nic.zzzz");
    // The bootstrap still gives the TLDs it lists (1,200), with their bases.
    ASSERT_NE(load.Data->Find("app"), nullptr);
    EXPECT_EQ(load.Data->Find("app")->RdapBase, "https://pubapi.registry.google/rdap/");
    EXPECT_EQ(load.Data->Find("cn"), nullptr) << "neither the file nor the bootstrap lists .cn";
    EXPECT_EQ(load.Data->ServersFile(), Path("mine.tsv"));
    EXPECT_TRUE(Has(load.Data->ServersDate(), "(file date)")) << load.Data->ServersDate();
}

TEST_F(RegistryDataLoading, TheEnvironmentNamesTheServersFileUnlessTheOptionDoes) {
    TScopedEnv variable("TAVIREL_REGISTRY_DATA", "/from/the/variable.tsv");
    EXPECT_EQ(RegistryDataSourcesFor("/shipped").ServersFile, "/from/the/variable.tsv");
    EXPECT_EQ(RegistryDataSourcesFor("/shipped", "/from/the/option.tsv").ServersFile,
              "/from/the/option.tsv");
    EXPECT_EQ(RegistryDataSourcesFor("/shipped").ShippedFolder, "/shipped");
}

TEST_F(RegistryDataLoading, ADownloadedBootstrapReplacesTheShippedOne) {
    WriteFile(Path("rdap-dns.json"), R"({"publication": "2027-03-04T00:00:00Z", "services": [
        [["io"], ["https://rdap.newer.example/"]]]})");
    TRegistryDataSources sources = Sources();
    sources.UserFolder = Dir.path().toStdString();
    const TRegistryDataLoad load = LoadRegistryData(sources);
    EXPECT_TRUE(load.Problems.empty()) << load.Problems.front();
    EXPECT_EQ(load.Data->RdapFile(), Path("rdap-dns.json"));
    EXPECT_EQ(load.Data->RdapDate(), "2027-03-04");
    EXPECT_EQ(load.Data->Find("io")->RdapBase, "https://rdap.newer.example/");
    // What the new bootstrap does not list keeps what the servers file says.
    EXPECT_EQ(load.Data->Find("de")->RdapBase, "https://rdap.denic.de/");
    EXPECT_EQ(load.Data->Find("aarp")->RdapBase, "https://rdap.nic.aarp/");
}

TEST_F(RegistryDataLoading, ABrokenDownloadedBootstrapIsReportedAndTheShippedOneUsed) {
    WriteFile(Path("rdap-dns.json"), "{\"services\": [\n  [[\"io\"], [\"https://x/\"]],\n  oops");
    TRegistryDataSources sources = Sources();
    sources.UserFolder = Dir.path().toStdString();
    const TRegistryDataLoad load = LoadRegistryData(sources);
    ASSERT_EQ(load.Problems.size(), 1u);
    EXPECT_TRUE(Has(load.Problems[0], Path("rdap-dns.json") + ": line 3: not JSON"))
        << load.Problems[0];
    EXPECT_TRUE(Has(load.Problems[0], "the shipped RDAP bootstrap is used"));
    EXPECT_EQ(load.Data->RdapFile(), ShippedFolder() + "/rdap-dns.json");
    EXPECT_EQ(load.Data->Find("io")->RdapBase, "https://rdap.identitydigital.services/rdap/");
}

TEST_F(RegistryDataLoading, NoDataFolderLeavesEmptyDataAndSaysSo) {
    TRegistryDataSources sources;
    sources.ShippedFolder = Path("nowhere");
    const TRegistryDataLoad load = LoadRegistryData(sources);
    ASSERT_NE(load.Data, nullptr);
    EXPECT_EQ(load.Data->Size(), 0u);
    ASSERT_EQ(load.Problems.size(), 2u);
    EXPECT_TRUE(Has(load.Problems[0], "only the built-in server table is known"));
    EXPECT_EQ(load.Data->ServersDate(), "unknown");
}

TEST(UserDataFolder, FollowsXdgThenHome) {
    TScopedEnv home("HOME", "/home/someone");
    {
        TScopedEnv xdg("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(UserDataFolder(), "/data/home/tavirelbrisvane");
        xdg.Set("relative/ignored");
        EXPECT_EQ(UserDataFolder(), "/home/someone/.local/share/tavirelbrisvane");
    }
    TScopedEnv noXdg("XDG_DATA_HOME");
    EXPECT_EQ(UserDataFolder(), "/home/someone/.local/share/tavirelbrisvane");
    home.Set("");
    EXPECT_EQ(UserDataFolder(), "");
}

} // namespace
