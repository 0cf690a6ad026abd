#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"

#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// Replies captured from real registries, read the way the program holds a
// reply (UTF-8 converted to GBK) and judged by the engine's markers.

namespace {

enum TVerdict { Registered, Free };

// What the markers read in each captured reply: measured, and pinned here so
// that any change of the markers shows up file by file. One reply (a
// registrar's "not found" page without a marker of ours) is read as
// registered although the domain is free.
const std::map<std::string, TVerdict> ExpectedVerdicts = {
    {"la_available.txt", Free},
    {"la_registered.txt", Registered},
    {"vc_available.txt", Free},
    {"vc_registered.txt", Registered},
    {"sc_available.txt", Free},
    {"sc_registered.txt", Registered},
    {"org_available.txt", Free},
    {"org_registered.txt", Registered},
    {"cn_available.txt", Free},
    {"cn_registered.txt", Registered},
    {"cn_registered_2.txt", Registered},
    {"cn_registered_3.txt", Registered},
    {"kr_available.txt", Free},
    {"kr_registered.txt", Registered},
    {"edu_available.txt", Free},
    {"edu_registered.txt", Registered},
    {"info_available.txt", Free},
    {"info_registered.txt", Registered},
    {"info_registered_2.txt", Registered},
    {"bz_available.txt", Free},
    {"bz_registered.txt", Registered},
    {"jp_available.txt", Free},
    {"jp_registered.txt", Registered},
    {"jp_registered_2.txt", Registered},
    {"jp_available_2.txt", Free},
    {"jp_registered_3.txt", Registered},
    {"sg_available.txt", Free},
    {"sg_registered.txt", Registered},
    {"tw_available.txt", Free},
    {"tw_registered.txt", Registered},
    {"biz_available.txt", Free},
    {"biz_registered.txt", Registered},
    {"tc_available.txt", Free},
    {"tc_registered.txt", Registered},
    {"be_available.txt", Free},
    {"be_registered.txt", Registered},
    {"be_available_2.txt", Free},
    {"be_registered_2.txt", Registered},
    {"gov_available.txt", Free},
    {"gov_registered.txt", Registered},
    {"de_available.txt", Free},
    {"de_registered.txt", Registered},
    {"de_registered_2.txt", Registered},
    {"at_available.txt", Free},
    {"at_registered.txt", Registered},
    {"at_available_2.txt", Free},
    {"at_registered_2.txt", Registered},
    {"it_available.txt", Free},
    {"it_registered.txt", Registered},
    {"it_registered_2.txt", Registered},
    {"it_registered_3.txt", Registered},
    {"it_registered_4.txt", Registered},
    {"it_registered_5.txt", Registered},
    {"cc_available.txt", Free},
    {"cc_registered.txt", Registered},
    {"cc_registered_2.txt", Registered},
    {"ch_available.txt", Free},
    {"ch_registered.txt", Registered},
    {"au_available.txt", Free},
    {"au_registered.txt", Registered},
    {"ac_available.txt", Free},
    {"ac_registered.txt", Registered},
    {"am_available.txt", Free},
    {"am_registered.txt", Registered},
    {"cl_available.txt", Free},
    {"cl_registered.txt", Registered},
    {"mx_available.txt", Free},
    {"mx_registered.txt", Registered},
    {"li_available.txt", Free},
    {"li_registered.txt", Registered},
    {"lk_available.txt", Free},
    {"lk_registered.txt", Registered},
    {"uk_available.txt", Free},
    {"uk_registered.txt", Registered},
    {"uk_registered_2.txt", Registered},
    {"uk_registered_3.txt", Registered},
    {"uk_available_2.txt", Free},
    {"uk_registered_4.txt", Registered},
    {"uk_available_3.txt", Free},
    {"uk_registered_5.txt", Registered},
    {"as_available.txt", Free},
    {"as_registered.txt", Registered},
    {"nu_available.txt", Free},
    {"nu_registered.txt", Registered},
    {"st_available.txt", Free},
    {"st_registered.txt", Registered},
    {"sh_available.txt", Free},
    {"sh_registered.txt", Registered},
    {"com_available.txt", Free},
    {"com_registered.txt", Registered},
    {"com_registered_2.txt", Registered},
    {"com_registered_3.txt", Registered},
    {"com_registered_4.txt", Registered},
    {"com_registered_5.txt", Registered},
    {"com_available_2.txt", Free},
    {"com_registered_6.txt", Registered},
    {"com_available_3.txt", Free},
    {"com_registered_7.txt", Registered},
    {"com_available_4.txt", Free},
    {"com_registered_8.txt", Registered},
    {"com_available_5.txt", Free},
    {"com_registered_9.txt", Registered},
    {"net_available.txt", Free},
    {"net_registered.txt", Registered},
    {"net_registered_2.txt", Registered},
    {"net_available_2.txt", Registered},
    {"net_registered_3.txt", Registered},
    {"net_registered_4.txt", Registered},
    {"net_registered_5.txt", Registered},
};

struct TTruthRow {
    std::string File;
    bool Available = false;
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    return fields;
}

std::vector<TTruthRow> ReadTruth() {
    std::vector<TTruthRow> rows;
    std::istringstream in(testpaths::ReadFileBytes(testpaths::WhoisRepliesDir() + "/truth.tsv"));
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (header || line.empty()) {
            header = false;
            continue;
        }
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() < 4)
            continue;
        rows.push_back({fields[0], fields[3] == "yes"});
    }
    return rows;
}

// The reply as GetWhoisReply would hand it on.
std::string HeldReply(const std::string& file) {
    const std::string bytes = testpaths::ReadFileBytes(testpaths::WhoisRepliesDir() + "/" + file);
    return IsUtf8Text(bytes) ? Utf8ToGbk(bytes) : bytes;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The markers the engine started with, before the phrases of further
// registries and the tab-tolerant "status:available" were added; kept only to
// show what the additions changed.
bool FirstMarkersReadFree(const std::string& reply) {
    const std::string lower = Lower(reply);
    bool free = false;
    for (const char* marker : {"not registered", "no match", "not found", "nomatch", "no found",
                               "nothing found", "no entries found", "do not have an entry"}) {
        if (lower.find(marker) != std::string::npos)
            free = true;
    }
    if (ReplaceAllText(lower, " ", "").find("status:free") != std::string::npos)
        free = true;
    if (lower.find("name server:") != std::string::npos)
        free = false;
    return free;
}

struct TTally {
    int Right = 0;
    int Wrong = 0;
};

std::string SuffixOf(const std::string& file) {
    return file.substr(0, file.find('_'));
}

void PrintTally(const char* title, const std::map<std::string, TTally>& bySuffix) {
    TTally total;
    std::printf("%s\n  %-6s %5s %5s\n", title, "suffix", "right", "wrong");
    for (const auto& [suffix, tally] : bySuffix) {
        std::printf("  %-6s %5d %5d\n", suffix.c_str(), tally.Right, tally.Wrong);
        total.Right += tally.Right;
        total.Wrong += tally.Wrong;
    }
    std::printf("  %-6s %5d %5d\n", "all", total.Right, total.Wrong);
}

class WhoisCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        Rows = ReadTruth();
        ASSERT_EQ(Rows.size(), 109u) << "truth.tsv in " << testpaths::WhoisRepliesDir();
    }
    std::vector<TTruthRow> Rows;
};

TEST_F(WhoisCorpus, EveryReplyReadsAsPinned) {
    std::set<std::string> files;
    for (const TTruthRow& row : Rows) {
        files.insert(row.File);
        const auto expected = ExpectedVerdicts.find(row.File);
        ASSERT_NE(expected, ExpectedVerdicts.end()) << row.File << " has no pinned verdict";
        const std::string reply = HeldReply(row.File);
        ASSERT_FALSE(reply.empty()) << row.File;
        EXPECT_EQ(IsDomainAvailable(reply), expected->second == Free) << row.File;
    }
    EXPECT_EQ(files.size(), ExpectedVerdicts.size()) << "a pinned file is not in truth.tsv";
}

TEST_F(WhoisCorpus, AllButOneReadAsMeantAndNoRegisteredReadsFree) {
    std::map<std::string, TTally> rules;
    std::map<std::string, TTally> firstMarkers;
    int right = 0;
    int firstRight = 0;
    for (const TTruthRow& row : Rows) {
        const std::string reply = HeldReply(row.File);
        const bool free = IsDomainAvailable(reply);
        const bool firstFree = FirstMarkersReadFree(reply);
        EXPECT_TRUE(row.Available || !free) << row.File << " is registered but reads free";
        TTally& tally = rules[SuffixOf(row.File)];
        (free == row.Available ? tally.Right : tally.Wrong) += 1;
        TTally& firstTally = firstMarkers[SuffixOf(row.File)];
        (firstFree == row.Available ? firstTally.Right : firstTally.Wrong) += 1;
        right += free == row.Available;
        firstRight += firstFree == row.Available;
    }
    EXPECT_EQ(right, 108);
    EXPECT_EQ(firstRight, 97);
    PrintTally("Replies read as meant, by suffix (markers of the engine):", rules);
    PrintTally("The same with the first markers only:", firstMarkers);
}

} // namespace
