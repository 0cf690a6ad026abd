// Zone files read into the index: the registries' one-record-a-line files,
// master files with $ORIGIN, gzip, and broken lines named by number.

#include "engine/zone/ZoneIndex.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

#include <fstream>

namespace {

const std::string TabZone =
    "com.\t900\tin\tsoa\ta.gtld-servers.net. nstld.verisign-grs.com. 2024010101 1800 900 "
    "604800 86400\n"
    "com.\t172800\tin\tns\ta.gtld-servers.net.\n"
    "example.com.\t172800\tin\tns\tns1.example.net.\n"
    "example.com.\t172800\tin\tns\tns2.example.net.\n"
    "other.com.\t172800\tin\tns\tns1.x.\n"
    "ns1.other.com.\t172800\tin\ta\t192.0.2.1\n";

const std::string MasterZone = "; a master file\n"
                               "$ORIGIN Test.\n"
                               "$TTL 1h\n"
                               "@ IN SOA ns.nic.test. hostmaster.nic.test. (\n"
                               "      1        ; serial\n"
                               "      3600 600 86400 300 )\n"
                               "@ IN NS ns.nic.test.\n"
                               "Example 3600 IN NS ns1.host.example.\n"
                               "        IN NS ns2.host.example. ; the same owner\n"
                               "abs.test. NS ns1.host.example.\n"
                               "addr IN A 192.0.2.1\n";

struct TZoneCase {
    const char* Name;
    std::string Text;
    bool Gzip;
    std::string Tld;
    std::vector<std::string> Held;
    std::vector<std::string> NotHeld;
    std::vector<std::string> Problems; // "line N: reason"
    bool Old;                          // by its SOA serial date
};

void WriteZone(const std::string& path, const std::string& text, bool gzip) {
    if (!gzip) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    gzFile file = gzopen(path.c_str(), "wb");
    gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
    gzclose(file);
}

TEST(ZoneIndex, ReadsEachFormAndNamesBrokenLines) {
    const std::vector<TZoneCase> cases = {
        {"RegistryLines",
         TabZone,
         false,
         "com",
         {"example.com", "EXAMPLE.com", "other.com."},
         {"com", "ns1.other.com", "free.com", "example.net"},
         {},
         true},
        {"RegistryLinesGzip",
         TabZone,
         true,
         "com",
         {"example.com", "other.com"},
         {"free.com"},
         {},
         true},
        {"MasterFile",
         MasterZone,
         false,
         "test",
         {"example.test", "abs.test"},
         {"test", "addr.test", "ns.nic.test"},
         {},
         false},
        {"MasterFileGzip", MasterZone, true, "test", {"example.test"}, {"addr.test"}, {}, false},
        {"BrokenLines",
         "$ORIGIN test.\n"
         "@ IN SOA ns.nic.test. h.nic.test. 1 3600 600 86400\n"
         "good IN NS ns1.host.example.\n"
         "notype 3600 IN\n"
         "bad!name IN NS ns1.host.example.\n"
         "nonserver IN NS\n"
         "$INCLUDE other.zone\n"
         "$TTL soon\n"
         "late IN NS ns1.host.example.\n"
         "open IN SOA ( ns.nic.test.\n",
         false,
         "test",
         {"good.test", "late.test"},
         {"notype.test", "nonserver.test", "open.test"},
         {"line 2: an SOA record needs 7 fields, this one has 6", "line 4: no record type",
          "line 5: 'bad!name' is not a name", "line 6: an NS record without a name server",
          "line 7: the directive $INCLUDE is not read here", "line 8: $TTL 'soon' is not a time",
          "line 10: a parenthesis that is never closed"},
         false},
        // Without SOA or $ORIGIN the apex is what every delegated name ends in.
        {"RegistryLinesWithoutSoa",
         "a.com.\t172800\tin\tns\tns1.x.\nb.c.com.\t172800\tin\tns\tns1.x.\n",
         false,
         "com",
         {"a.com", "b.c.com"},
         {"c.com"},
         {},
         false},
        {"RelativeNameWithoutOrigin",
         "x IN NS ns1.host.example.\nok.test. IN NS ns1.h.\n",
         false,
         "test",
         {"ok.test"},
         {"x"},
         {"line 1: the relative name 'x' without $ORIGIN"},
         false},
    };
    for (const TZoneCase& row : cases) {
        SCOPED_TRACE(row.Name);
        QTemporaryDir dir;
        const std::string file = dir.filePath(row.Gzip ? "zone.gz" : "zone.txt").toStdString();
        WriteZone(file, row.Text, row.Gzip);
        std::string error;
        TZoneIndex::TOpening opening;
        const auto index =
            TZoneIndex::Open(file, error, &opening, dir.filePath("cache").toStdString());
        ASSERT_TRUE(index) << error;
        EXPECT_TRUE(opening.Built);
        EXPECT_EQ(index->Tld(), row.Tld);
        for (const std::string& name : row.Held)
            EXPECT_TRUE(index->Holds(name)) << name;
        for (const std::string& name : row.NotHeld)
            EXPECT_FALSE(index->Holds(name)) << name;
        std::vector<std::string> problems;
        for (const TZoneLineProblem& problem : opening.Reading.Problems)
            problems.push_back("line " + std::to_string(problem.Line) + ": " + problem.Reason);
        EXPECT_EQ(problems, row.Problems);
        EXPECT_EQ(index->IsOld(std::chrono::system_clock::now()), row.Old);
    }
}

// Every name of a large zone is found and no other, the first and last of
// the index as well as those in between.
TEST(ZoneIndex, FindsEachNameOfALargeZone) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("com.zone").toStdString();
    constexpr int Names = 30000;
    std::string text;
    for (int i = 0; i < Names; ++i)
        text += "n" + std::to_string(i) + ".com.\t172800\tin\tns\tns1.x.\n";
    WriteZone(file, text, false);
    std::string error;
    const auto index = TZoneIndex::Open(file, error, nullptr, dir.filePath("cache").toStdString());
    ASSERT_TRUE(index) << error;
    int held = 0, others = 0;
    for (int i = 0; i < Names; ++i) {
        held += index->Holds("n" + std::to_string(i) + ".com") ? 1 : 0;
        others += index->Holds("m" + std::to_string(i) + ".com") ? 1 : 0;
    }
    EXPECT_EQ(held, Names);
    EXPECT_EQ(others, 0);

    // Built again, the reading tells how far it has come, and stops when
    // told to.
    std::vector<std::uint64_t> told;
    const auto progress = [&told](std::uint64_t bytes) {
        told.push_back(bytes);
        return false;
    };
    EXPECT_FALSE(
        TZoneIndex::Open(file, error, nullptr, dir.filePath("other").toStdString(), progress));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
    ASSERT_EQ(told.size(), 1u);
    EXPECT_GT(told[0], 0u);
    EXPECT_LE(told[0], text.size());
}

// Built once, then found up to date until the zone file changes.
TEST(ZoneIndex, KeptIndexIsUsedWhileTheFileIsUnchanged) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("com.zone").toStdString();
    const std::string cache = dir.filePath("cache").toStdString();
    WriteZone(file, TabZone, false);
    std::string error;
    TZoneIndex::TOpening first, second, third;
    ASSERT_TRUE(TZoneIndex::Open(file, error, &first, cache)) << error;
    const auto kept = TZoneIndex::Open(file, error, &second, cache);
    ASSERT_TRUE(kept) << error;
    EXPECT_TRUE(first.Built);
    EXPECT_FALSE(second.Built);
    EXPECT_EQ(kept->Size(), 2u);
    EXPECT_TRUE(kept->Holds("other.com"));

    WriteZone(file, TabZone + "new.com.\t172800\tin\tns\tns1.x.\n", false);
    const auto rebuilt = TZoneIndex::Open(file, error, &third, cache);
    ASSERT_TRUE(rebuilt) << error;
    EXPECT_TRUE(third.Built);
    EXPECT_TRUE(rebuilt->Holds("new.com"));
    EXPECT_EQ(ZoneHolding({kept, rebuilt}, "new.com"), rebuilt.get());
    EXPECT_EQ(ZoneHolding({kept}, "new.org"), nullptr);

    for (const std::string& bad :
         {dir.filePath("missing.zone").toStdString(), dir.path().toStdString()}) {
        EXPECT_FALSE(TZoneIndex::Open(bad, error, nullptr, cache)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    WriteZone(file, "com. IN SOA a. b. 1 2 3 4 5\n", false);
    EXPECT_FALSE(TZoneIndex::Open(file, error, nullptr, cache));
    EXPECT_NE(error.find("delegates no name"), std::string::npos) << error;
}

} // namespace
