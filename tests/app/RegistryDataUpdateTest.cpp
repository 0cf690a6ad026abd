#include "engine/RegistryDataUpdate.h"
#include "tests/app/ThreadedHttpServer.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

// The bounds of the download, against the loopback server on its own thread
// (libcurl blocks the test's thread while it runs).

namespace {

using namespace std::chrono_literals;
using TMode = TLocalHttpServer::Mode;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct TDownloadCase {
    const char* Name;
    const char* Path;
    TLocalHttpServer::Behaviour Behaviour;
    bool AllowPlainHttp;
    const char* Error; // "" for a download that succeeds
    bool Requested;    // whether the server may see the request at all
};

TEST(DownloadBounded, EndsWithinItsBoundsAndSaysWhy) {
    QTemporaryDir root;
    std::ofstream(root.path().toStdString() + "/file.json") << "{\"services\": []}";
    TDownloadBounds bounds;
    bounds.Whole = 1500ms;
    bounds.MaxBytes = 1000;
    for (const TDownloadCase& c : {
             TDownloadCase{"Served", "/file.json", {}, true, "", true},
             TDownloadCase{"NotFound", "/absent.json", {}, true, "answered with status 404", true},
             TDownloadCase{
                 "ServerError", "/file.json", {TMode::Status, 500}, true, "status 500", true},
             TDownloadCase{"Silent", "/file.json", {TMode::Silent}, true, "timed out", true},
             // It announces 100,000 bytes: refused before they arrive.
             TDownloadCase{"AnnouncedTooLarge",
                           "/file.json",
                           {TMode::Drip, 200, 10},
                           true,
                           "sent more than 1000 bytes",
                           true},
             TDownloadCase{"Cut", "/file.json", {TMode::Cut}, true, "/file.json: ", true},
             TDownloadCase{
                 "PlainHttpNotAllowed", "/file.json", {}, false, "is not an https URL", false},
         }) {
        TThreadedHttpServer server(
            root.path(), [&](TLocalHttpServer& s) { s.SetBehaviour(c.Path, c.Behaviour); });
        ASSERT_TRUE(server.Listen());
        const std::string url = (server.BaseUrl() + c.Path).toStdString();
        std::string body, error;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = DownloadBounded(url, c.AllowPlainHttp, bounds, body, error);
        const auto took = std::chrono::steady_clock::now() - start;
        server.Stop();

        if (*c.Error == '\0') {
            EXPECT_TRUE(ok) << c.Name << ": " << error;
            EXPECT_EQ(body, "{\"services\": []}") << c.Name;
        } else {
            EXPECT_FALSE(ok) << c.Name;
            EXPECT_TRUE(Has(error, c.Error)) << c.Name << ": " << error;
            EXPECT_EQ(body, "") << c.Name;
        }
        EXPECT_LT(took, 5s) << c.Name;
        if (!c.Requested) {
            EXPECT_TRUE(server.Requests().empty()) << c.Name;
        }
    }
}

TEST(WriteFileAtomically, ReplacesWholeOrNotAtAll) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/file.json";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "old", error)) << error;
    ASSERT_TRUE(WriteFileAtomically(path, "new content", error)) << error;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new content");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"file.json"});

    EXPECT_FALSE(WriteFileAtomically(dir.path().toStdString() + "/no/such/folder/f", "x", error));
    EXPECT_TRUE(Has(error, "cannot create a file beside")) << error;
}

TEST(UpdateRdapBootstrap, WithoutAUserFolderNothingIsFetched) {
    const TBootstrapUpdate update = UpdateRdapBootstrap("https://127.0.0.1:1/", false, "");
    EXPECT_FALSE(update.Ok);
    EXPECT_TRUE(Has(update.Message, "no data folder")) << update.Message;
}

} // namespace
