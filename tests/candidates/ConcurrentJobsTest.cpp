#include "candidates/Unit_CreateDomains.h"
#include "candidates/Unit_ImportDomains.h"
#include "tests/candidates/FakeDomainList.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

// Jobs read the list at their start and write once at their end; whatever
// happened to the list in between must survive the write-back.
namespace {

using TLines = std::vector<std::string>;

const std::string Digit = "{\xCA\xFD\xD7\xD6}"; // {数字}

class ConcurrentJobsTest : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& bytes) {
        const std::string path = FDir.filePath("list.txt").toStdString();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Starts job and lets it run until it has read the list; it is then held
    // before its write-back until Release.
    void StartHeld(TCandidateJob* job) {
        FList.OnItems = [this, job] {
            FList.OnItems = nullptr;
            job->Suspend();
            FHeld = job;
        };
        job->Start([this](TJob*) { FHeldEnded = true; });
        WaitFor([this] { return FHeld != nullptr; });
    }

    void Release() {
        FHeld->Resume();
        WaitFor([this] { return FHeldEnded; });
    }

    static void WaitFor(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(done());
    }

    QTemporaryDir FDir;
    TFakeDomainList FList{{"start.com"}};
    TCandidateJob* FHeld = nullptr;
    bool FHeldEnded = false;
};

TEST_F(ConcurrentJobsTest, ImportEndingDuringAGenerationKeepsBothAdditions) {
    StartHeld(new TCreateDomains("g" + Digit + ".com", FList, 3));
    RunJob(new TImportDomains(WriteFile("i1.com\nstart.com\ni2.com\n"), FList));
    EXPECT_EQ(FList.Lines, (TLines{"start.com", "i1.com", "i2.com"}));
    Release();
    ASSERT_EQ(FList.Lines.size(), 6u);
    EXPECT_EQ(TLines(FList.Lines.begin(), FList.Lines.begin() + 3),
              (TLines{"start.com", "i1.com", "i2.com"}));
    for (std::size_t i = 3; i < 6; ++i)
        EXPECT_TRUE(FList.Lines[i].starts_with("g")) << FList.Lines[i];
}

TEST_F(ConcurrentJobsTest, GenerationEndingDuringAnImportKeepsBothAdditions) {
    StartHeld(new TImportDomains(WriteFile("i1.com\nstart.com\ni2.com\n"), FList));
    RunJob(new TCreateDomains("gen.com", FList, 1));
    EXPECT_EQ(FList.Lines, (TLines{"start.com", "gen.com"}));
    Release();
    EXPECT_EQ(FList.Lines, (TLines{"start.com", "gen.com", "i1.com", "i2.com"}));
}

TEST_F(ConcurrentJobsTest, ListClearedDuringAnImportHoldsOnlyTheImportedNames) {
    StartHeld(new TImportDomains(WriteFile("start.com\nnew.com\n"), FList));
    FList.Lines.clear();
    Release();
    EXPECT_EQ(FList.Lines, TLines{"new.com"});
}

TEST_F(ConcurrentJobsTest, ListClearedDuringAGenerationHoldsOnlyTheGeneratedNames) {
    StartHeld(new TCreateDomains("start.com", FList, 1));
    FList.Lines.clear();
    Release();
    // start.com was in the list when the job began, so it is no new name.
    EXPECT_EQ(FList.Lines, TLines{});

    FHeld = nullptr;
    FHeldEnded = false;
    FList.Lines = {"start.com"};
    StartHeld(new TCreateDomains("n" + Digit + ".com", FList, 2));
    FList.Lines.clear();
    Release();
    ASSERT_EQ(FList.Lines.size(), 2u);
    EXPECT_TRUE(FList.Lines[0].starts_with("n"));
}

} // namespace
