#include "engine/RdapClient.h"
#include "engine/RdapReading.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestCertificate.h"
#include "tests/support/TestPaths.h"
#include "tools/FakeRdapServer.h"
#include "tools/FakeWhoisServer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The answers folder of the fake server: a real registry answer, and a body
// that is no JSON.
class TAnswersDir {
public:
    TAnswersDir() {
        std::filesystem::copy_file(testpaths::SourceDir() +
                                       "/data/rdap-samples/registered-com-verisign-google.com.json",
                                   Path() + "/google.com.json");
        std::ofstream(Path() + "/broken.com.json") << "{\"objectClassName\":\"domain\",";
    }
    std::string Path() const { return FDir.path().toStdString(); }

private:
    QTemporaryDir FDir;
};

// The fake server answering from such a folder, with whatever else a test sets.
class TServedAnswers {
public:
    explicit TServedAnswers(const std::function<void(TFakeRdapOptions&)>& setup = {}) {
        TFakeRdapOptions options;
        options.AnswersDir = FAnswers.Path();
        if (setup) {
            setup(options);
        }
        FServer = std::make_unique<TFakeRdapServer>(std::move(options));
        EXPECT_TRUE(FServer->Start()) << FServer->Error();
    }
    TFakeRdapServer* operator->() const { return FServer.get(); }

private:
    TAnswersDir FAnswers;
    std::unique_ptr<TFakeRdapServer> FServer;
};

// Small bounds keep the tests of the bounds fast; the rest stay generous.
TRdapBounds SmallBounds() {
    TRdapBounds bounds;
    bounds.Connect = 500ms;
    bounds.Whole = 1500ms;
    return bounds;
}

TRdapRequest Request(const std::string& name, TRdapHostGuard guard = {}) {
    TRdapRequest request;
    request.Base = "https://rdap.registry.example/"; // replaced by TAVIREL_RDAP_BASE
    request.Name = name;
    request.Guard = std::move(guard);
    request.Bounds = SmallBounds();
    return request;
}

TFakeRdapResponse Redirect(const std::string& location) {
    TFakeRdapResponse response;
    response.Status = 302;
    response.Headers.emplace_back("Location", location);
    return response;
}

// --- Verdicts through the network -------------------------------------------

struct TServerCase {
    const char* Name;
    std::function<void(TFakeRdapOptions&)> Setup;
    std::string Asked;
    int Queries; // the verdict is that of the last one
    TVerdictKind Kind;
    TVerdictReason Reason;
    std::optional<std::chrono::seconds> Wait = std::nullopt;
    std::string DetailHas = "";
};

class RdapOverNetworkTest : public ::testing::TestWithParam<TServerCase> {};

TEST_P(RdapOverNetworkTest, Verdict) {
    const TServerCase& c = GetParam();
    TServedAnswers server(c.Setup);
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl() + "own");
    TRdapConnections connections;
    TRdapAnswer answer;
    for (int i = 0; i < c.Queries; ++i) {
        answer = QueryRdap(Request(c.Asked, [](const std::string&) { return true; }), connections);
    }
    const TRdapReading reading = ReadRdapAnswer(answer, c.Asked, SmallBounds());
    EXPECT_EQ(VerdictWord(reading.Verdict.Kind), VerdictWord(c.Kind)) << reading.Verdict.Detail;
    EXPECT_EQ(ReasonWord(reading.Verdict.Reason), ReasonWord(c.Reason)) << reading.Verdict.Detail;
    EXPECT_EQ(reading.Verdict.Wait, c.Wait);
    EXPECT_NE(reading.Verdict.Detail.find(c.DetailHas), std::string::npos)
        << reading.Verdict.Detail;
    ASSERT_FALSE(server->Requests().empty());
    EXPECT_EQ(server->Requests().front().rfind("/own/domain/", 0), 0u);
}

using K = TVerdictKind;
using R = TVerdictReason;

INSTANTIATE_TEST_SUITE_P(
    Cases, RdapOverNetworkTest,
    ::testing::Values(
        TServerCase{"Registered", [](TFakeRdapOptions&) {}, "google.com", 1, K::Registered,
                    R::Registered},
        TServerCase{"AskedInCapitals", [](TFakeRdapOptions&) {}, "Google.COM", 1, K::Registered,
                    R::Registered},
        TServerCase{"NotFound", [](TFakeRdapOptions&) {}, "nothing.com", 1, K::Free, R::None},
        TServerCase{"Throttled",
                    [](TFakeRdapOptions& o) {
                        o.LimitRequests = 1;
                        o.LimitWindowMs = 60'000;
                        o.RetryAfter = "7";
                    },
                    "google.com", 2, K::Unknown, R::Throttled, 7s, "HTTP 429"},
        TServerCase{"ThrottledWindowLeft",
                    [](TFakeRdapOptions& o) {
                        o.LimitRequests = 2;
                        o.LimitWindowMs = 60'000;
                    },
                    "google.com", 3, K::Unknown, R::Throttled, 60s},
        TServerCase{"ServerError", [](TFakeRdapOptions& o) { o.Mode = TFakeRdapMode::Error; },
                    "google.com", 1, K::Unknown, R::Unavailable, std::nullopt, "HTTP 500"},
        TServerCase{"SilentStrikesTheBound",
                    [](TFakeRdapOptions& o) { o.Mode = TFakeRdapMode::Silent; }, "google.com", 1,
                    K::Unknown, R::Failed, std::nullopt, "no whole answer"},
        TServerCase{"BadJson", [](TFakeRdapOptions&) {}, "broken.com", 1, K::Unknown, R::Failed,
                    std::nullopt, "not RDAP JSON"},
        TServerCase{"ForeignNotFound",
                    [](TFakeRdapOptions& o) {
                        o.Responder = [](const TFakeRdapRequest& request)
                            -> std::optional<TFakeRdapResponse> {
                            if (request.Path.rfind("/own/", 0) == 0) {
                                return Redirect("/other/domain/nothing.com");
                            }
                            return std::nullopt;
                        };
                    },
                    "nothing.com", 1, K::Unknown, R::Failed, std::nullopt, "proves nothing"},
        TServerCase{"OverTheSizeBound",
                    [](TFakeRdapOptions& o) {
                        o.Responder = [](const TFakeRdapRequest&) {
                            return std::optional<TFakeRdapResponse>(
                                TFakeRdapResponse{200, {}, std::string((1 << 20) + 1, ' ')});
                        };
                    },
                    "google.com", 1, K::Unknown, R::Cut, std::nullopt, "beyond 1048576 bytes"}),
    [](const auto& info) { return info.param.Name; });

// --- Redirects ------------------------------------------------------------------

// Every redirect is judged before it is made: its scheme, its port and the
// guard's word on its host.
struct TRedirectCase {
    const char* Name;
    std::string Location; // "{other}" stands for the second server's port
    bool GuardAdmits;
    bool WithGuard;
    TRdapEnd End;
    int Redirects;
    bool OtherReached;
};

class RdapRedirectTest : public ::testing::TestWithParam<TRedirectCase> {};

TEST_P(RdapRedirectTest, EachHopChecked) {
    const TRedirectCase& c = GetParam();
    TServedAnswers other;
    std::string location = c.Location;
    if (const auto at = location.find("{other}"); at != std::string::npos) {
        location.replace(at, 7, std::to_string(other->Port()));
    }
    TServedAnswers server([&](TFakeRdapOptions& o) {
        o.Responder =
            [location](const TFakeRdapRequest& request) -> std::optional<TFakeRdapResponse> {
            if (request.Path.rfind("/own/", 0) == 0 || request.Path.rfind("/loop/", 0) == 0) {
                return Redirect(location);
            }
            return std::nullopt;
        };
    });
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl() + "own/");

    std::vector<std::string> asked;
    TRdapHostGuard guard;
    if (c.WithGuard) {
        guard = [&](const std::string& host) {
            asked.push_back(host);
            return c.GuardAdmits;
        };
    }
    const TRdapAnswer answer = QueryRdap(Request("google.com", guard));
    EXPECT_EQ(static_cast<int>(answer.End), static_cast<int>(c.End)) << DescribeRdapEnd(answer);
    EXPECT_EQ(answer.Redirects, c.Redirects);
    EXPECT_EQ(other->AcceptedCount() > 0, c.OtherReached);
    if (c.WithGuard && c.Redirects > 0) {
        EXPECT_EQ(asked.front(), "127.0.0.1");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RdapRedirectTest,
    ::testing::Values(TRedirectCase{"SameServerAdmitted", "/v2/domain/google.com", true, true,
                                    TRdapEnd::Answered, 1, false},
                      TRedirectCase{"GuardRefuses", "/v2/domain/google.com", false, true,
                                    TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"NoGuardRefusesAll", "/v2/domain/google.com", true, false,
                                    TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"PlainHttpElsewhere",
                                    "http://127.0.0.1:{other}/domain/google.com", true, true,
                                    TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"HttpsOnAnotherPort",
                                    "https://127.0.0.1:{other}/domain/google.com", true, true,
                                    TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"UserInfo", "https://user@127.0.0.1/domain/google.com", true,
                                    true, TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"NotAUrl", "gopher://127.0.0.1/", true, true,
                                    TRdapEnd::RedirectRefused, 0, false},
                      TRedirectCase{"EndlessLoop", "/loop/domain/google.com", true, true,
                                    TRdapEnd::TooManyRedirects, 3, false}),
    [](const auto& info) { return info.param.Name; });

// --- Bounds and failures before an answer ---------------------------------------------

TEST(RdapClient, ConnectThatHangsStrikesTheConnectBound) {
    TFakeWhoisOptions options;
    options.Mode = TFakeWhoisMode::NoAccept; // the backlog is full: connects hang
    TFakeWhoisServer hanging(options);
    ASSERT_TRUE(hanging.Start()) << hanging.Error();
    TScopedEnv base("TAVIREL_RDAP_BASE", "http://" + hanging.Address() + "/");
    const TRdapAnswer answer = QueryRdap(Request("google.com"));
    EXPECT_EQ(answer.End, TRdapEnd::ConnectBound) << DescribeRdapEnd(answer, SmallBounds());
    EXPECT_EQ(DescribeRdapEnd(answer, SmallBounds()), "no connection to 127.0.0.1 within 500 ms");
}

TEST(RdapClient, ClosedPortIsRefused) {
    int port = 0;
    {
        TFakeRdapServer server(TFakeRdapOptions{});
        ASSERT_TRUE(server.Start());
        port = server.Port();
    }
    TScopedEnv base("TAVIREL_RDAP_BASE", "http://127.0.0.1:" + std::to_string(port) + "/");
    const TRdapAnswer answer = QueryRdap(Request("google.com"));
    EXPECT_EQ(answer.End, TRdapEnd::Refused);
    EXPECT_EQ(ReadRdapAnswer(answer, "google.com").Verdict.Reason, TVerdictReason::Failed);
}

// Plain http only through the override; names that are no A-label and a
// missing authority file make no request at all.
TEST(RdapClient, RefusesToAskWhatItMustNot) {
    TServedAnswers server;
    TScopedEnv noOverride("TAVIREL_RDAP_BASE");
    struct TCase {
        std::string Base;
        std::string Name;
        std::string CaFile;
    };
    const std::vector<TCase> cases = {
        {server->BaseUrl(), "google.com", ""},
        {"https://" + server->Address() + "/", "google.com/../x", ""},
        {"https://" + server->Address() + "/", "例子.com", ""},
        {"https://" + server->Address() + "/", "a..com", ""},
        {"https://" + server->Address() + "/", "", ""},
        {"https://" + server->Address() + "/", std::string(64, 'a') + ".com", ""},
        {"https://" + server->Address() + "/", "google.com", "/nonexistent/ca.pem"},
        {"ftp://" + server->Address() + "/", "google.com", ""},
    };
    for (const TCase& c : cases) {
        TScopedEnv ca("TAVIREL_RDAP_CA_FILE", c.CaFile);
        TRdapRequest request = Request(c.Name);
        request.Base = c.Base;
        const TRdapAnswer answer = QueryRdap(request);
        EXPECT_EQ(answer.End, TRdapEnd::NotAsked) << c.Base << " " << c.Name;
        EXPECT_FALSE(DescribeRdapEnd(answer).empty());
    }
    EXPECT_EQ(server->AcceptedCount(), 0);
}

struct TDataBaseCase {
    std::string Base;    // from registry data; {server} stands for the test server
    bool GuardAdmits;    // what the guard says of its host
    const char* Refusal; // part of the reason
    const char* Judged;  // the host the guard was asked of, or "" for none
};

// Without TAVIREL_RDAP_BASE the base from the data is judged as a redirect
// is, before any connection: https on port 443 only, no user name, and a
// host the guard admits (NameQuery's guard resolves it and wants public
// addresses only). The refused query is never made.
TEST(RdapClient, ABaseFromDataIsJudgedBeforeItIsAsked) {
    TServedAnswers server;
    TScopedEnv noOverride("TAVIREL_RDAP_BASE");
    const std::vector<TDataBaseCase> cases = {
        {"https://{server}/rdap/", true, "refused: not the https port", ""},
        {"http://rdap.example/", true, "is not an https URL", ""},
        {"https://me@rdap.example/", true, "refused: it carries a user name", ""},
        {"https://rdap.example/rdap/", false,
         "RDAP base https://rdap.example/rdap/ refused: host not allowed", "rdap.example"},
    };
    for (const TDataBaseCase& c : cases) {
        std::string base = c.Base;
        if (const auto at = base.find("{server}"); at != std::string::npos)
            base.replace(at, 8, server->Address());
        std::vector<std::string> judged;
        TRdapRequest request = Request("google.com", [&](const std::string& host) {
            judged.push_back(host);
            return c.GuardAdmits;
        });
        request.Base = base;
        const TRdapAnswer answer = QueryRdap(request);
        EXPECT_EQ(answer.End, TRdapEnd::NotAsked) << base;
        EXPECT_NE(DescribeRdapEnd(answer).find(c.Refusal), std::string::npos)
            << base << ": " << DescribeRdapEnd(answer);
        EXPECT_EQ(judged,
                  *c.Judged ? std::vector<std::string>{c.Judged} : std::vector<std::string>{})
            << base;
    }
    EXPECT_EQ(server->AcceptedCount(), 0);
}

TEST(RdapClient, AsksWithTheRdapMediaTypeAndTheLowerCaseName) {
    std::mutex mutex;
    std::vector<TFakeRdapRequest> seen;
    TServedAnswers server([&](TFakeRdapOptions& o) {
        o.Responder = [&](const TFakeRdapRequest& request) -> std::optional<TFakeRdapResponse> {
            std::lock_guard lock(mutex);
            seen.push_back(request);
            return std::nullopt;
        };
    });
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl() + "rdap");
    const TRdapAnswer answer = QueryRdap(Request("XN--FIQS8S.Example"));
    EXPECT_EQ(answer.Base, server->BaseUrl() + "rdap/");
    EXPECT_EQ(answer.Url, server->BaseUrl() + "rdap/domain/xn--fiqs8s.example");
    EXPECT_EQ(answer.Status, 404);
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Method, "GET");
    EXPECT_EQ(seen[0].Path, "/rdap/domain/xn--fiqs8s.example");
    EXPECT_EQ(seen[0].Accept, "application/rdap+json");
}

// --- HTTPS ------------------------------------------------------------------------

TEST(RdapClient, HttpsTrustsTheAddedAuthorityOnlyAndReusesItsConnection) {
    TTestCertificate certificate;
    ASSERT_TRUE(certificate.Ok()) << certificate.Error();
    TServedAnswers server([&](TFakeRdapOptions& o) {
        o.CertFile = certificate.CertFile();
        o.KeyFile = certificate.KeyFile();
    });
    ASSERT_EQ(server->BaseUrl().rfind("https://", 0), 0u);
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl());

    {
        TScopedEnv noCa("TAVIREL_RDAP_CA_FILE");
        const TRdapAnswer answer = QueryRdap(Request("google.com"));
        EXPECT_EQ(answer.End, TRdapEnd::Certificate) << answer.Error;
        const TVerdict verdict = ReadRdapAnswer(answer, "google.com").Verdict;
        EXPECT_EQ(verdict.Kind, TVerdictKind::Unknown);
        EXPECT_EQ(verdict.Reason, TVerdictReason::Failed);
        EXPECT_NE(verdict.Detail.find("certificate of 127.0.0.1 not trusted"), std::string::npos)
            << verdict.Detail;
    }
    const int refusedConnections = server->AcceptedCount();

    TScopedEnv ca("TAVIREL_RDAP_CA_FILE", certificate.CaFile());
    TRdapConnections connections;
    for (int i = 0; i < 5; ++i) {
        const TRdapAnswer answer = QueryRdap(Request("google.com"), connections);
        const TRdapReading reading = ReadRdapAnswer(answer, "google.com");
        EXPECT_EQ(reading.Verdict.Kind, TVerdictKind::Registered) << reading.Verdict.Detail;
        EXPECT_EQ(reading.RegTime, "1997-09-15T07 00 00Z");
    }
    EXPECT_EQ(server->AcceptedCount() - refusedConnections, 1);
}

// --- Connections of a batch -----------------------------------------------------------

// Each query runs on a thread of its own, as the batch's jobs do.
void QueryOnOwnThread(TRdapConnections& connections, const std::string& name,
                      std::atomic<int>& registered) {
    std::thread([&] {
        const TRdapAnswer answer = QueryRdap(Request(name), connections);
        if (ReadRdapAnswer(answer, name).Verdict.Kind == TVerdictKind::Registered) {
            ++registered;
        }
    }).join();
}

TEST(RdapConnections, QueriesOneAfterAnotherShareOneConnection) {
    TServedAnswers server;
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl());
    TRdapConnections connections;
    std::atomic<int> registered{0};
    for (int i = 0; i < 20; ++i) {
        QueryOnOwnThread(connections, "google.com", registered);
    }
    EXPECT_EQ(registered.load(), 20);
    EXPECT_EQ(server->RequestCount(), 20);
    EXPECT_EQ(server->AcceptedCount(), 1);
}

TEST(RdapConnections, ConcurrentQueriesUseAboutOneConnectionEach) {
    TServedAnswers server([](TFakeRdapOptions& o) { o.LatencyMs = 20; }); // so the workers overlap
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl());
    TRdapConnections connections;
    constexpr int KWorkers = 4;
    constexpr int KPerWorker = 10;
    std::atomic<int> registered{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < KWorkers; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < KPerWorker; ++i) {
                QueryOnOwnThread(connections, "google.com", registered);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(registered.load(), KWorkers * KPerWorker);
    EXPECT_EQ(server->RequestCount(), KWorkers * KPerWorker);
    EXPECT_GE(server->AcceptedCount(), 1);
    EXPECT_LE(server->AcceptedCount(), KWorkers);
}

TEST(RdapConnections, OneOffQueriesCloseTheirConnection) {
    TServedAnswers server;
    TScopedEnv base("TAVIREL_RDAP_BASE", server->BaseUrl());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(QueryRdap(Request("google.com")).Status, 200);
    }
    EXPECT_EQ(server->AcceptedCount(), 3);
}

} // namespace
