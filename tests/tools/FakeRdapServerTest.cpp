#include "tools/FakeRdapServer.h"
#include "tests/support/TestPaths.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// A raw HTTP client on one connection, so the tests see exactly what the
// server sends and when it closes.
class TRawClient {
public:
    explicit TRawClient(int port) {
        FFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(FFd);
            FFd = -1;
        }
    }
    ~TRawClient() {
        if (FFd >= 0) {
            close(FFd);
        }
    }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    bool Send(const std::string& text) {
        return send(FFd, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }

    // One whole answer (head and Content-Length bytes of body), or what came
    // before the close or the time-out.
    std::string ReadAnswer(int timeoutMs = 5000) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t headEnd = FPending.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const std::size_t length = ContentLength(FPending.substr(0, headEnd));
                if (FPending.size() >= headEnd + 4 + length) {
                    std::string answer = FPending.substr(0, headEnd + 4 + length);
                    FPending.erase(0, answer.size());
                    return answer;
                }
            }
            if (!ReadMore(deadline)) {
                return std::exchange(FPending, {});
            }
        }
    }

    // Whether the server closed the connection within timeoutMs.
    bool ClosedWithin(int timeoutMs) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
        while (ReadMore(deadline)) {
        }
        return FClosed;
    }

    bool Connected() const { return FFd >= 0; }

private:
    static std::size_t ContentLength(const std::string& head) {
        const std::size_t at = head.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
    }

    bool ReadMore(TClock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        pollfd p{FFd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[65536];
        const ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            FClosed = true;
            return false;
        }
        FPending.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int FFd = -1;
    std::string FPending;
    bool FClosed = false;
};

std::string Get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

std::string StatusLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}

std::string Body(const std::string& answer) {
    const std::size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? "" : answer.substr(at + 4);
}

class TAnswers {
public:
    TAnswers() {
        std::ofstream(Path() + "/a.com.json") << R"({"ldhName":"a.com"})";
        std::ofstream(Path() + "/plain.net") << "plain";
        std::filesystem::create_directory(Path() + "/dir.com.json");
    }
    std::string Path() const { return FDir.path().toStdString(); }

private:
    QTemporaryDir FDir;
};

std::unique_ptr<TFakeRdapServer> Start(TFakeRdapOptions options) {
    auto server = std::make_unique<TFakeRdapServer>(std::move(options));
    EXPECT_TRUE(server->Start()) << server->Error();
    return server;
}

std::unique_ptr<TFakeRdapServer> StartWith(const TAnswers& answers) {
    TFakeRdapOptions options;
    options.AnswersDir = answers.Path();
    return Start(std::move(options));
}

struct TPathCase {
    const char* Name;
    std::string Request;
    std::string Status;
    std::string Body = ""; // "": not checked
};

class FakeRdapPathTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(FakeRdapPathTest, AnswersFromTheFolder) {
    TAnswers answers;
    auto server = StartWith(answers);
    TRawClient client(server->Port());
    ASSERT_TRUE(client.Send(GetParam().Request));
    const std::string answer = client.ReadAnswer();
    EXPECT_EQ(StatusLine(answer), GetParam().Status);
    if (!GetParam().Body.empty()) {
        EXPECT_EQ(Body(answer), GetParam().Body);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FakeRdapPathTest,
    ::testing::Values(
        TPathCase{"JsonFile", Get("/domain/a.com"), "HTTP/1.1 200 OK", R"({"ldhName":"a.com"})"},
        TPathCase{"AnyBaseAndCase", Get("/rdap/v1/domain/A.COM?x=1"), "HTTP/1.1 200 OK",
                  R"({"ldhName":"a.com"})"},
        TPathCase{"FileWithoutSuffix", Get("/domain/plain.net"), "HTTP/1.1 200 OK", "plain"},
        TPathCase{"Missing", Get("/domain/b.com"), "HTTP/1.1 404 Not Found",
                  R"({"errorCode":404,"title":"Not Found"})"},
        TPathCase{"FolderIsNoAnswer", Get("/domain/dir.com"), "HTTP/1.1 404 Not Found"},
        TPathCase{"NoEscapeUpwards", Get("/domain/.."), "HTTP/1.1 404 Not Found"},
        TPathCase{"NotADomainQuery", Get("/entity/X"), "HTTP/1.1 400 Bad Request"},
        TPathCase{"NotAPath", "GET a.com HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        TPathCase{"NotGet", "DELETE /domain/a.com HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 405 Method Not Allowed"},
        TPathCase{"HeadTooLong", "GET /" + std::string(20000, 'a'),
                  "HTTP/1.1 431 Request Header Fields Too Large"}),
    [](const auto& info) { return info.param.Name; });

TEST(FakeRdapServer, KeepsTheConnectionUntilAskedToClose) {
    TAnswers answers;
    auto server = StartWith(answers);
    TRawClient client(server->Port());
    // Two requests in one write, one with a body to skip, then a close.
    ASSERT_TRUE(client.Send(Get("/domain/a.com") +
                            "POST /domain/a.com HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"));
    EXPECT_EQ(StatusLine(client.ReadAnswer()), "HTTP/1.1 200 OK");
    EXPECT_EQ(StatusLine(client.ReadAnswer()), "HTTP/1.1 405 Method Not Allowed");
    EXPECT_FALSE(client.ClosedWithin(200));
    ASSERT_TRUE(client.Send(Get("/domain/b.com", "Connection: close\r\n")));
    const std::string last = client.ReadAnswer();
    EXPECT_EQ(StatusLine(last), "HTTP/1.1 404 Not Found");
    EXPECT_NE(last.find("Connection: close\r\n"), std::string::npos);
    EXPECT_TRUE(client.ClosedWithin(2000));
    EXPECT_EQ(server->AcceptedCount(), 1);
    EXPECT_EQ(server->RequestCount(), 3);
    EXPECT_EQ(server->Requests(),
              (std::vector<std::string>{"/domain/a.com", "/domain/a.com", "/domain/b.com"}));

    TRawClient old(server->Port());
    ASSERT_TRUE(old.Send("GET /domain/a.com HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(StatusLine(old.ReadAnswer()), "HTTP/1.1 200 OK");
    EXPECT_TRUE(old.ClosedWithin(2000));
}

TEST(FakeRdapServer, LimitsEachClientPerWindowWithRetryAfter) {
    TFakeRdapOptions options;
    options.LimitRequests = 2;
    options.LimitWindowMs = 300;
    auto server = Start(std::move(options));
    TRawClient client(server->Port());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.Send(Get("/domain/x.com")));
        EXPECT_EQ(StatusLine(client.ReadAnswer()), "HTTP/1.1 404 Not Found");
    }
    ASSERT_TRUE(client.Send(Get("/domain/x.com")));
    const std::string limited = client.ReadAnswer();
    EXPECT_EQ(StatusLine(limited), "HTTP/1.1 429 Too Many Requests");
    EXPECT_NE(limited.find("Retry-After: 1\r\n"), std::string::npos) << limited;
    // A new connection is the same client: still limited.
    TRawClient second(server->Port());
    ASSERT_TRUE(second.Send(Get("/domain/x.com")));
    EXPECT_EQ(StatusLine(second.ReadAnswer()), "HTTP/1.1 429 Too Many Requests");
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    ASSERT_TRUE(client.Send(Get("/domain/x.com")));
    EXPECT_EQ(StatusLine(client.ReadAnswer()), "HTTP/1.1 404 Not Found");
}

TEST(FakeRdapServer, ErrorSilenceLatencyAndResponder) {
    TFakeRdapOptions failing;
    failing.Mode = TFakeRdapMode::Error;
    auto error = Start(std::move(failing));
    TRawClient a(error->Port());
    ASSERT_TRUE(a.Send(Get("/domain/x.com")));
    EXPECT_EQ(StatusLine(a.ReadAnswer()), "HTTP/1.1 500 Internal Server Error");

    TFakeRdapOptions quiet;
    quiet.Mode = TFakeRdapMode::Silent;
    auto silent = Start(std::move(quiet));
    TRawClient b(silent->Port());
    ASSERT_TRUE(b.Send(Get("/domain/x.com")));
    EXPECT_EQ(b.ReadAnswer(300), "");
    EXPECT_FALSE(b.ClosedWithin(100));
    EXPECT_EQ(silent->RequestCount(), 1);

    TFakeRdapOptions slow;
    slow.LatencyMs = 150;
    slow.Responder = [](const TFakeRdapRequest& request) -> std::optional<TFakeRdapResponse> {
        if (request.Path == "/domain/moved.com") {
            return TFakeRdapResponse{301, {{"Location", "https://elsewhere/"}}, ""};
        }
        return std::nullopt;
    };
    auto delayed = Start(std::move(slow));
    TRawClient c(delayed->Port());
    const auto start = TClock::now();
    ASSERT_TRUE(c.Send(Get("/domain/moved.com")));
    const std::string moved = c.ReadAnswer();
    EXPECT_GE(TClock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(StatusLine(moved), "HTTP/1.1 301 Moved Permanently");
    EXPECT_NE(moved.find("Location: https://elsewhere/\r\n"), std::string::npos);
}

TEST(FakeRdapServer, StartFailsOnBadCertificateHostOrBusyPort) {
    TFakeRdapOptions tls;
    tls.CertFile = "/nonexistent/cert.pem";
    tls.KeyFile = "/nonexistent/key.pem";
    TFakeRdapServer badCert(tls);
    EXPECT_FALSE(badCert.Start());
    EXPECT_NE(badCert.Error().find("certificate"), std::string::npos) << badCert.Error();

    TFakeRdapOptions host;
    host.Host = "localhost.example";
    TFakeRdapServer badHost(host);
    EXPECT_FALSE(badHost.Start());

    auto first = Start(TFakeRdapOptions{});
    TFakeRdapOptions same;
    same.Port = first->Port();
    TFakeRdapServer busy(same);
    EXPECT_FALSE(busy.Start());
    EXPECT_NE(busy.Error().find("bind"), std::string::npos);
}

// --- The program ------------------------------------------------------------------

std::string ProgramPath() {
    return testpaths::BuildDir() + "/tools/fake-rdap-server";
}

TEST(FakeRdapServerProgram, PrintsItsPortServesAndStopsOnSigterm) {
    TAnswers answers;
    QProcess program;
    program.start(QString::fromStdString(ProgramPath()),
                  {"--port", "0", "--answers", QString::fromStdString(answers.Path())});
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(program.waitForReadyRead(5000));
    const std::string line = program.readLine().toStdString();
    const std::string prefix = "listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    TRawClient client(std::stoi(line.substr(prefix.size())));
    ASSERT_TRUE(client.Send(Get("/domain/a.com")));
    EXPECT_EQ(Body(client.ReadAnswer()), R"({"ldhName":"a.com"})");
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

class RdapProgramArguments : public ::testing::TestWithParam<QStringList> {};

TEST_P(RdapProgramArguments, BadOnesExitWithTwo) {
    QProcess program;
    program.start(QString::fromStdString(ProgramPath()), GetParam());
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Bad, RdapProgramArguments,
                         ::testing::Values(QStringList{"--mode", "loud"},
                                           QStringList{"--port", "65536"},
                                           QStringList{"--latency", "-1"},
                                           QStringList{"--limit", "12x"},
                                           QStringList{"--cert", "c.pem"},
                                           QStringList{"--limit-window"}, QStringList{"stray"}));

} // namespace
