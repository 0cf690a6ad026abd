#include "engine/RegistryLimits.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path WriteLimits(const std::string& text) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tavirel-limits-" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".tsv");
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

// Every line is read or named with its number; the good ones stand.
TEST(RegistryLimitsTest, LinesReadOrNamedWithTheirNumber) {
    const std::string header = "host\tper_second\tper_day\tsource\tseen\n";
    const auto file = WriteLimits(header + "Whois.Nic.UK\t5\t1000\tpage\t2026-12-09\n"
                                           "whois.nic.fr\t\t7200\tpage\t2026-12-09\r\n"
                                           "whois.slow\t0.0277\t\tfixture\t2026-12-09\n"
                                           "\n"
                                           "# a comment\n"
                                           "whois.bad-rate\tfast\t\tx\n"
                                           "whois.bad-day\t1\t-3\tx\n"
                                           "whois.nothing\t\t\tx\n"
                                           "whois.short\t1\n"
                                           "\t1\t1\tx\n");
    const TRegistryLimits limits = LoadRegistryLimits(file);
    std::filesystem::remove(file);
    ASSERT_EQ(limits.ByHost.size(), 3u);
    const TRegistryLimit* uk = limits.Find("whois.nic.uk:43");
    ASSERT_NE(uk, nullptr);
    EXPECT_EQ(uk->PerSecond, 5.0);
    EXPECT_EQ(uk->PerDay, 1000);
    ASSERT_NE(limits.Find("WHOIS.NIC.FR"), nullptr);
    EXPECT_FALSE(limits.Find("whois.nic.fr")->PerSecond);
    EXPECT_FALSE(limits.Find("whois.slow")->PerDay);
    EXPECT_EQ(limits.Find("whois.bad-rate"), nullptr);
    const std::vector<std::string> problems = {
        "line 7: per_second 'fast' is not a rate above 0",
        "line 8: per_day '-3' is not a whole number above 0",
        "line 9: neither a rate nor a daily budget",
        "line 10: expected host, per_second, per_day and source, tab-separated",
        "line 11: no host"};
    EXPECT_EQ(limits.Problems, problems);
    EXPECT_EQ(LoadRegistryLimits(file).Problems.size(), 1u) << "a missing file is one problem";
}

// The shipped table reads without a problem, and names the registries whose
// budgets the batch keeps.
TEST(RegistryLimitsTest, ShippedTableReads) {
    const TRegistryLimits limits =
        LoadRegistryLimits(testpaths::SourceDir() + "/data/registry-limits.tsv");
    EXPECT_TRUE(limits.Problems.empty()) << limits.Problems.front();
    for (const char* host : {"whois.nic.uk", "whois.centralnic.com", "whois.nic.fr", "whois.fi"}) {
        const TRegistryLimit* limit = limits.Find(host);
        ASSERT_NE(limit, nullptr) << host;
        EXPECT_FALSE(limit->Source.empty()) << host;
    }
    EXPECT_EQ(limits.Find("whois.nic.fr")->PerDay, 7200);
}

} // namespace
