// The stages before the query slots: a zone file, then the TLD's name
// servers (a fake one here). A name either decides is registered without a
// registry query; every other name goes to the slots as before.

#include "batch/BatchController.h"

#include "tests/support/FakeWhois.h"
#include "tools/FakeDnsServer.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>

namespace {

using TLines = std::vector<std::string>;

// "  已注册（DNS）" and "  已注册（区域文件）"
const std::string ByDns = "  \xD2\xD1\xD7\xA2\xB2\xE1\xA3\xA8"
                          "DNS\xA3\xA9";
const std::string ByZone =
    "  \xD2\xD1\xD7\xA2\xB2\xE1\xA3\xA8\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE\xA3\xA9";

std::string Reply(const std::string& query) {
    if (query.starts_with("free"))
        return "No match for \"" + query + "\".\r\n";
    return "Domain Name: " + query + "\r\nDomain Status: serverHold\r\n";
}

// Delegates the names starting with "dns"; NXDOMAIN for every other name,
// the 30-letter probe among them.
TFakeDnsAnswer DnsReply(const TFakeDnsQuestion& question) {
    TFakeDnsAnswer answer;
    if (question.Name.starts_with("dns") && question.Name.size() < 20)
        answer.Authority = {question.Name + ". 60 IN NS ns1.host.example."};
    else
        answer.Rcode = 3;
    return answer;
}

struct TEnded {
    std::string Line;
    std::string Method;
    TVerdictKind Kind;
};

class EarlyStagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        FWhois = StartServer(Reply);
        ASSERT_TRUE(FWhois);
        FWhoisOverride = std::make_unique<TWhoisServerOverride>(FWhois->Address());
        FDns = std::make_unique<TFakeDnsServer>(DnsReply);
        ASSERT_TRUE(FDns->Start()) << FDns->Error();
        FDnsOverride = std::make_unique<TScopedEnv>("TAVIREL_DNS_SERVER", FDns->Address());
        FBatch = std::make_unique<TBatchController>(FDomains, FQueryState, FNoReg, FDomainInfo,
                                                    [] { return TDisplayFlags{}; });
        QObject::connect(
            FBatch.get(), &TBatchController::QueryEnded, [this](const TQueryDomain* job) {
                FEnded[job->Domain] = {job->ResultLine, std::string(MethodWord(job->Method())),
                                       job->Verdict.Kind};
            });
    }

    void Run(const TLines& names, const std::string& threads = "2") {
        FDomains.SetLines(names);
        // The result list keeps every batch's lines, as the window's does.
        FDomainInfo.Clear();
        FEnded.clear();
        ASSERT_EQ(FBatch->Start(threads, "0"), "");
        if (FBatch->IsActive()) {
            QEventLoop loop;
            QObject::connect(FBatch.get(), &TBatchController::BatchEnded, &loop, &QEventLoop::quit);
            QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        ASSERT_FALSE(FBatch->IsActive()) << "the batch did not end";
        ASSERT_EQ(FEnded.size(), names.size());
        EXPECT_EQ(FDomainInfo.Count(), static_cast<int>(names.size()));
    }

    std::string ZoneFile(const std::string& text) {
        const std::string path = FDir.filePath("com.zone").toStdString();
        std::ofstream(path) << text;
        return path;
    }

    TGbkListModel FDomains, FQueryState, FNoReg, FDomainInfo;
    std::unique_ptr<TFakeWhoisServer> FWhois;
    std::unique_ptr<TWhoisServerOverride> FWhoisOverride;
    std::unique_ptr<TFakeDnsServer> FDns;
    std::unique_ptr<TScopedEnv> FDnsOverride;
    std::unique_ptr<TBatchController> FBatch;
    std::map<std::string, TEnded> FEnded;
    QTemporaryDir FDir;
};

TEST_F(EarlyStagesTest, ZoneThenDnsThenTheRegistry) {
    std::string error;
    const auto zone = TZoneIndex::Open(ZoneFile("zone1.com.\t172800\tin\tns\tns1.x.\n"
                                                "dns2.com.\t172800\tin\tns\tns1.x.\n"),
                                       error, nullptr, FDir.filePath("cache").toStdString());
    ASSERT_TRUE(zone) << error;
    FBatch->SetZones({zone});
    FBatch->SetDnsFirst(true);
    Run({"zone1.com", "dns1.com", "free1.com", "held.com", "dns2.com", "bad_name.com"});

    const std::map<std::string, std::pair<std::string, TVerdictKind>> expected = {
        {"zone1.com", {"zone", TVerdictKind::Registered}},
        {"dns2.com", {"zone", TVerdictKind::Registered}}, // the zone comes first
        {"dns1.com", {"dns", TVerdictKind::Registered}},
        {"free1.com", {"whois", TVerdictKind::Free}},
        {"held.com", {"whois", TVerdictKind::Registered}},
        {"bad_name.com", {"", TVerdictKind::Unknown}},
    };
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FEnded[name].Method, want.first);
        EXPECT_EQ(FEnded[name].Kind, want.second);
    }
    EXPECT_EQ(FEnded["zone1.com"].Line, "zone1.com" + ByZone);
    EXPECT_EQ(FEnded["dns1.com"].Line, "dns1.com" + ByDns);
    TLines asked = FWhois->Queries();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (TLines{"free1.com", "held.com"}));
    // Neither the zone's names nor the invalid one went to the name server.
    std::vector<std::string> dnsAsked;
    for (const TFakeDnsQuestion& question : FDns->Questions())
        dnsAsked.push_back(question.Name);
    EXPECT_EQ(std::count(dnsAsked.begin(), dnsAsked.end(), "zone1.com"), 0);
    EXPECT_EQ(std::count(dnsAsked.begin(), dnsAsked.end(), "dns1.com"), 1);
    EXPECT_EQ(FBatch->Counts().Registered, 4);
    EXPECT_EQ(FBatch->Counts().Free, 1);
}

// A batch every name of which the zone decides ends without a query slot
// ever being used; one the name servers decide ends once they answered.
TEST_F(EarlyStagesTest, BatchDecidedBeforeAnySlotStillEnds) {
    std::string error;
    const auto zone = TZoneIndex::Open(ZoneFile("a.com. 60 IN NS ns1.x.\nb.com. 60 IN NS ns1.x.\n"),
                                       error, nullptr, FDir.filePath("cache").toStdString());
    ASSERT_TRUE(zone) << error;
    FBatch->SetZones({zone});
    Run({"a.com", "b.com"});
    EXPECT_EQ(FEnded["b.com"].Method, "zone");

    FBatch->SetZones({});
    FBatch->SetDnsFirst(true);
    TLines names;
    for (int i = 0; i < 300; ++i)
        names.push_back("dns" + std::to_string(i) + ".com");
    Run(names, "1");
    for (const std::string& name : names)
        EXPECT_EQ(FEnded[name].Method, "dns") << name;
    EXPECT_TRUE(FWhois->Queries().empty());
}

// A zone that holds a long list decides it a piece at a time, with the
// window's events in between, and the batch still ends with every name.
TEST_F(EarlyStagesTest, ALongListDecidedByAZoneGoesAPieceAtATime) {
    TLines names;
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        names.push_back("z" + std::to_string(i) + ".com");
        text += names.back() + ". 60 IN NS ns1.x.\n";
    }
    std::string error;
    const auto zone =
        TZoneIndex::Open(ZoneFile(text), error, nullptr, FDir.filePath("cache").toStdString());
    ASSERT_TRUE(zone) << error;
    FBatch->SetZones({zone});
    int shownBetweenPieces = -1;
    QTimer::singleShot(0, [&] { shownBetweenPieces = FDomainInfo.Count(); });
    Run(names);
    EXPECT_GT(shownBetweenPieces, 0);
    EXPECT_LT(shownBetweenPieces, static_cast<int>(names.size()));
    EXPECT_EQ(FEnded[names.back()].Method, "zone");
    EXPECT_TRUE(FWhois->Queries().empty());
}

} // namespace
