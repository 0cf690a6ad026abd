#include "engine/GbkCodec.h"
#include "engine/Unit_Functions.h"
#include "engine/Verdict.h"
#include "engine/WhoisEvidence.h"

#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// Replies captured from real registries, read the way the program holds a
// reply (UTF-8 converted to GBK) and judged by the engine's markers.

namespace {

enum TMarkers { Registered, Free };

// What the markers read in each captured reply: measured, and pinned here so
// that any change of the markers shows up file by file. One reply (a
// registrar's "not found" page without a marker of ours) is read as
// registered although the domain is free.
const std::map<std::string, TMarkers> ExpectedVerdicts = {
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
std::string HeldReplyIn(const std::string& dir, const std::string& file) {
    const std::string bytes = testpaths::ReadFileBytes(dir + "/" + file);
    return IsUtf8Text(bytes) ? Utf8ToGbk(bytes) : bytes;
}

std::string HeldReply(const std::string& file) {
    return HeldReplyIn(testpaths::WhoisRepliesDir(), file);
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

// ---- Both corpora: the markers and the verdict -------------------------------

// One captured reply of either corpus. The first corpus says only whether the
// name was available; the second names the kind of reply.
struct TCorpusReply {
    std::string Key; // "corpus folder/file": the corpora share file names
    std::string Dir;
    std::string File;
    std::string Host; // the server that answered, whose wording reads it
    std::string Kind; // free, registered, reserved, invalid, throttled, unavailable
};

std::vector<TCorpusReply> ReadCorpus(const std::string& dir) {
    std::vector<TCorpusReply> replies;
    std::istringstream in(testpaths::ReadFileBytes(dir + "/truth.tsv"));
    const std::string name = dir.substr(dir.find_last_of('/') + 1);
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> fields = SplitTabs(line);
        if (header.empty()) {
            header = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < fields.size() && i < header.size(); ++i)
            row[header[i]] = fields[i];
        if (row["file"].empty())
            continue;
        std::string kind = row["kind"];
        if (kind.empty())
            kind = row["available"] == "yes" ? "free" : "registered";
        replies.push_back({name + "/" + row["file"], dir, row["file"], row["whois_host"], kind});
    }
    return replies;
}

std::vector<TCorpusReply> ReadBothCorpora() {
    std::vector<TCorpusReply> replies = ReadCorpus(testpaths::WhoisRepliesDir());
    const std::vector<TCorpusReply> second = ReadCorpus(testpaths::WhoisReplies2Dir());
    replies.insert(replies.end(), second.begin(), second.end());
    return replies;
}

// Replies whose free-or-not the markers of IsDomainAvailable read against their
// kind: measured, and pinned so that any change of the markers shows up file
// by file. Every other reply reads free exactly when it is free.
const std::set<std::string> MarkersMisread = {
    // A one-byte reply: nothing to read.
    "whois-replies/net_available_2.txt",
    // Free, in words the markers lack.
    "whois-replies-2/ai_free_1.txt",
    "whois-replies-2/arpa_free_1.txt",
    "whois-replies-2/ax_free_1.txt",
    "whois-replies-2/bg_free_1.txt",
    "whois-replies-2/bj_free_1.txt",
    "whois-replies-2/by_free_1.txt",
    "whois-replies-2/ca_free_3.txt",
    "whois-replies-2/capetown_free_1.txt",
    "whois-replies-2/cf_free_1.txt",
    "whois-replies-2/com_free_9.txt",
    "whois-replies-2/coop_free_1.txt",
    "whois-replies-2/durban_free_1.txt",
    "whois-replies-2/es_free_1.txt",
    "whois-replies-2/hk_free_1.txt",
    "whois-replies-2/il_free_1.txt",
    "whois-replies-2/int_free_1.txt",
    "whois-replies-2/joburg_free_1.txt",
    "whois-replies-2/ma_free_1.txt",
    "whois-replies-2/my_free_1.txt",
    "whois-replies-2/nl_free_1.txt",
    "whois-replies-2/nz_free_1.txt",
    "whois-replies-2/pl_free_1.txt",
    "whois-replies-2/pl_free_2.txt",
    "whois-replies-2/tattoo_free_1.txt",
    "whois-replies-2/tk_free_1.txt",
    "whois-replies-2/tm_free_1.txt",
    "whois-replies-2/ua_free_1.txt",
    "whois-replies-2/za_free_1.txt",
    "whois-replies-2/za_free_2.txt",
    // AFNIC's refusal, followed by "No entries found".
    "whois-replies-2/fr_throttled_1.txt",
    "whois-replies-2/pm_throttled_1.txt",
    "whois-replies-2/re_throttled_1.txt",
    "whois-replies-2/tf_throttled_1.txt",
    "whois-replies-2/wf_throttled_1.txt",
    "whois-replies-2/yt_throttled_1.txt",
    // A premium name, "No match for domain" in its status line.
    "whois-replies-2/sx_reserved_1.txt",
};

struct TPinnedVerdict {
    TVerdictKind Kind;
    TVerdictReason Reason;
    bool operator==(const TPinnedVerdict&) const = default;
};

// What each kind of reply is meant to read.
const std::map<std::string, TPinnedVerdict> MeantByKind = {
    {"free", {TVerdictKind::Free, TVerdictReason::None}},
    {"registered", {TVerdictKind::Registered, TVerdictReason::Registered}},
    {"reserved", {TVerdictKind::Registered, TVerdictReason::Reserved}},
    {"invalid", {TVerdictKind::Unknown, TVerdictReason::InvalidName}},
    {"throttled", {TVerdictKind::Unknown, TVerdictReason::Throttled}},
    {"unavailable", {TVerdictKind::Unknown, TVerdictReason::Unavailable}},
};

// The replies that cannot be read as meant, with what they read and why. Every
// other reply reads exactly its kind's verdict.
const std::map<std::string, TPinnedVerdict> VerdictExceptions = {
    // The capture holds one line end and nothing else: with no answer to read,
    // the name stays unknown instead of free.
    {"whois-replies/net_available_2.txt", {TVerdictKind::Unknown, TVerdictReason::Failed}},
};

TVerdict ReadCaptured(const TCorpusReply& reply) {
    return ReadWhoisVerdict(
        TExchangeResult{HeldReplyIn(reply.Dir, reply.File), TExchangeEnd::Closed, 0}, reply.Host);
}

std::string Describe(const TVerdict& verdict) {
    std::string text(VerdictWord(verdict.Kind));
    if (!ReasonWord(verdict.Reason).empty())
        text += "/" + std::string(ReasonWord(verdict.Reason));
    return text + (verdict.Detail.empty() ? "" : " (" + verdict.Detail + ")");
}

struct TKindTally {
    int Replies = 0;
    int AsMeant = 0; // free read free, any other kind read not free
    int Exact = 0;   // read with its kind's own verdict and reason
    int ReadFree = 0;
    int ReadThrottled = 0;
};

struct TSuffixTally {
    int Replies = 0;
    int Markers = 0; // the markers read it free exactly when it is free
    int Verdict = 0; // the verdict reads it as meant
};

class BothCorpora : public ::testing::Test {
protected:
    void SetUp() override {
        Replies = ReadBothCorpora();
        ASSERT_EQ(Replies.size(), 659u) << "truth.tsv in " << testpaths::WhoisRepliesDir()
                                        << " and " << testpaths::WhoisReplies2Dir();
    }
    std::vector<TCorpusReply> Replies;
};

TEST_F(BothCorpora, MarkersReadEachReplyAsPinned) {
    std::set<std::string> misread;
    for (const TCorpusReply& reply : Replies) {
        const std::string bytes = HeldReplyIn(reply.Dir, reply.File);
        const bool free = IsDomainAvailable(bytes);
        if (free != (reply.Kind == "free"))
            misread.insert(reply.Key);
        EXPECT_EQ(free, (reply.Kind == "free") != MarkersMisread.contains(reply.Key))
            << reply.Key << " (" << reply.Kind << ")";
    }
    EXPECT_EQ(misread.size(), MarkersMisread.size());
}

TEST_F(BothCorpora, VerdictReadsEachReplyAsPinned) {
    for (const TCorpusReply& reply : Replies) {
        ASSERT_TRUE(MeantByKind.contains(reply.Kind)) << reply.Key << ": kind " << reply.Kind;
        const auto exception = VerdictExceptions.find(reply.Key);
        const TPinnedVerdict expected =
            exception != VerdictExceptions.end() ? exception->second : MeantByKind.at(reply.Kind);
        const TVerdict verdict = ReadCaptured(reply);
        EXPECT_EQ((TPinnedVerdict{verdict.Kind, verdict.Reason}), expected)
            << reply.Key << " (" << reply.Kind << ", " << reply.Host << ") reads "
            << Describe(verdict);
    }
}

// Every free reply read free, every throttled one throttled, and no reply of
// another kind free: the figures, with the tables for the test output.
TEST_F(BothCorpora, FreeOnlyWhenFreeAndEveryThrottleSeen) {
    std::map<std::string, TKindTally> byKind;
    std::map<std::string, TSuffixTally> bySuffix;
    for (const TCorpusReply& reply : Replies) {
        const TVerdict verdict = ReadCaptured(reply);
        const bool readFree = verdict.Kind == TVerdictKind::Free;
        const bool isFree = reply.Kind == "free";
        TKindTally& kind = byKind[reply.Kind];
        ++kind.Replies;
        kind.AsMeant += readFree == isFree;
        kind.Exact += TPinnedVerdict{verdict.Kind, verdict.Reason} == MeantByKind.at(reply.Kind);
        kind.ReadFree += readFree;
        kind.ReadThrottled += verdict.Reason == TVerdictReason::Throttled;
        TSuffixTally& suffix = bySuffix[SuffixOf(reply.File)];
        ++suffix.Replies;
        suffix.Markers += IsDomainAvailable(HeldReplyIn(reply.Dir, reply.File)) == isFree;
        suffix.Verdict += readFree == isFree;
        EXPECT_TRUE(isFree || !readFree) << reply.Key << " is " << reply.Kind << " but reads free";
    }
    std::printf("Both corpora, by suffix (as meant: free read free, any other kind not):\n"
                "  %-18s %7s %7s %7s\n",
                "suffix", "replies", "markers", "verdict");
    TSuffixTally all;
    for (const auto& [suffix, tally] : bySuffix) {
        std::printf("  %-18s %7d %7d %7d\n", suffix.c_str(), tally.Replies, tally.Markers,
                    tally.Verdict);
        all.Replies += tally.Replies;
        all.Markers += tally.Markers;
        all.Verdict += tally.Verdict;
    }
    std::printf("  %-18s %7d %7d %7d\n", "all", all.Replies, all.Markers, all.Verdict);
    std::printf("Both corpora, by kind (exact: the kind's own verdict and reason):\n"
                "  %-12s %7s %8s %6s %9s %14s\n",
                "kind", "replies", "as meant", "exact", "read free", "read throttled");
    for (const auto& [kind, tally] : byKind) {
        std::printf("  %-12s %7d %8d %6d %9d %14d\n", kind.c_str(), tally.Replies, tally.AsMeant,
                    tally.Exact, tally.ReadFree, tally.ReadThrottled);
    }
    // The one free reply not read free is the empty capture (see VerdictExceptions).
    EXPECT_EQ(byKind["free"].ReadFree, byKind["free"].Replies - 1);
    EXPECT_EQ(byKind["throttled"].ReadThrottled, byKind["throttled"].Replies);
    EXPECT_EQ(all.Verdict, all.Replies - 1);
    EXPECT_EQ(all.Markers, all.Replies - static_cast<int>(MarkersMisread.size()));
}

// Every registered reply is read registered by the host's own words or by a
// fact of its record; the tally by the first fact found, for the test output.
// A free reply's facts are counted too: they would read it registered if its
// not-found words were unknown, so fewer is better.
TEST_F(BothCorpora, RegisteredRepliesShowTheirEvidence) {
    std::map<std::string, int> byEvidence;
    int registered = 0;
    int freeWithAFact = 0;
    for (const TCorpusReply& reply : Replies) {
        const std::string bytes = HeldReplyIn(reply.Dir, reply.File);
        const std::optional<TEvidence> evidence = FindRegistrationEvidence(bytes);
        if (reply.Kind == "free") {
            freeWithAFact += evidence.has_value();
            continue;
        }
        if (reply.Kind != "registered")
            continue;
        ++registered;
        const TVerdict verdict = ReadCaptured(reply);
        ASSERT_EQ(verdict.Kind, TVerdictKind::Registered) << reply.Key << ": " << Describe(verdict);
        ++byEvidence[evidence ? std::string(EvidenceWord(evidence->Kind)) : "host wording"];
    }
    std::printf("Registered replies by the evidence that reads them registered:\n");
    for (const auto& [kind, count] : byEvidence)
        std::printf("  %-14s %4d\n", kind.c_str(), count);
    std::printf("  %-14s %4d\nFree replies that show a fact: %d\n", "all", registered,
                freeWithAFact);
    // Three captures show no fact of their own: .cn's "prohibited", .info's
    // "reserved by afilias" and .to's bare list of name servers.
    EXPECT_EQ(byEvidence["host wording"], 3);
    // .lv's free reply ends with the update time of its database under "[Whois]".
    EXPECT_EQ(freeWithAFact, 1);
}

// The captured refusals that name a wait carry it, a silly one cut to a day.
TEST_F(BothCorpora, ThrottledRepliesCarryTheWaitTheyName) {
    const std::map<std::string, std::optional<std::chrono::seconds>> waits = {
        {"whois-replies-2/za_throttled_1.txt", std::chrono::seconds(13)},
        {"whois-replies-2/be_throttled_3.txt", std::chrono::seconds(2)},
        {"whois-replies-2/eu_throttled_1.txt", std::chrono::hours(24)},
        {"whois-replies-2/uk_throttled_1.txt", std::chrono::seconds(50)},
    };
    for (const TCorpusReply& reply : Replies) {
        if (reply.Kind != "throttled")
            continue;
        const auto wait = waits.find(reply.Key);
        const std::optional<std::chrono::seconds> expected =
            wait == waits.end() ? std::nullopt : wait->second;
        EXPECT_EQ(ReadCaptured(reply).Wait, expected) << reply.Key;
    }
}

} // namespace
