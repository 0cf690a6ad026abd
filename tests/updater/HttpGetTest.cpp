// One download against a loopback server that ends its answer in each way a
// transfer can end: only a whole body replaces the target, and a refused one
// says why.

#include "updater/HttpGet.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestCertificate.h"
#include "tests/updater/UpdaterTestSupport.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace updatertest;
using ::testing::HasSubstr;

namespace {

constexpr int kSize = 200000;
const QByteArray kOldTarget = "the target as it was";

using TRespond = std::function<void(QTcpSocket&, int attempt)>;

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        ASSERT_TRUE(Http.Start());
        WriteFile(Target, kOldTarget);
    }

    THttpResult Get(const QByteArray& path, const TRespond& respond) {
        Http.SetBehaviour(path, {TLocalHttpServer::Mode::Answer, 200, 0, respond});
        THttpRequest request;
        request.Url = QUrl(Http.BaseUrl() + QString::fromLatin1(path));
        request.Bounds.IdleMs = 2000;
        request.Bounds.WholeMs = 5000;
        request.OnProgress = [this](std::int64_t received, std::int64_t) { Received = received; };
        return HttpGetToFile(request, Target);
    }

    // A refused download leaves the target and no temporary file beside it.
    void ExpectUntouched() {
        EXPECT_EQ(ReadFile(Target), kOldTarget);
        EXPECT_EQ(FolderEntries(Temp.path()), std::vector<std::string>{"target.bin"});
    }

    QTemporaryDir Temp;
    TLocalHttpServer Http{Temp.path()};
    QString Target = Temp.path() + "/target.bin";
    std::int64_t Received = -1;
};

struct TEndCase {
    const char* Label;
    TRespond Respond;
    const char* Error; // part of the error text; nullptr: the body is whole
};

class HttpGetEndTest : public HttpGetTest, public ::testing::WithParamInterface<TEndCase> {};

TEST_P(HttpGetEndTest, OnlyAWholeBodyReplacesTheTarget) {
    const TEndCase& c = GetParam();
    const THttpResult result = Get("/f", c.Respond);
    if (c.Error == nullptr) {
        ASSERT_TRUE(result.Ok) << result.ErrorText.toStdString();
        EXPECT_EQ(ReadFile(Target), Body(kSize));
        EXPECT_EQ(Received, kSize);
        return;
    }
    EXPECT_FALSE(result.Ok);
    EXPECT_THAT(result.ErrorText.toStdString(), HasSubstr(c.Error));
    ExpectUntouched();
}

QByteArray Chunked(const QByteArray& body) {
    return Chunk(body.left(5000)) + Chunk(body.mid(5000));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, HttpGetEndTest,
    ::testing::Values(
        TEndCase{"Whole", [](QTcpSocket& s, int) { Send(s, Head(kSize) + Body(kSize)); }, nullptr},
        TEndCase{
            "WholeChunked",
            [](QTcpSocket& s, int) { Send(s, kChunkedHead + Chunked(Body(kSize)) + "0\r\n\r\n"); },
            nullptr},
        TEndCase{"WholeChunkedWithATrailer",
                 [](QTcpSocket& s, int) {
                     Send(s, kChunkedHead + Chunked(Body(kSize)) + "0\r\nX-Sum: 1\r\n\r\n");
                 },
                 nullptr},
        TEndCase{"EndedByTheCloseAlone",
                 [](QTcpSocket& s, int) {
                     Send(s, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + Body(kSize));
                 },
                 nullptr},
        TEndCase{"ClosedShort", [](QTcpSocket& s, int) { Send(s, Head(kSize) + Body(kSize / 2)); },
                 "the connection closed after 100000 of 200000 bytes"},
        TEndCase{"ClosedShortOnAKeptConnection",
                 [](QTcpSocket& s, int) { Send(s, Head(kSize, false) + Body(kSize / 2)); },
                 "the connection closed after 100000 of 200000 bytes"},
        TEndCase{"LongerThanItsLength",
                 [](QTcpSocket& s, int) { Send(s, Head(kSize) + Body(kSize + 1000)); },
                 "more than the 200000 bytes its Content-Length announced"},
        TEndCase{"MoreBytesAfterAPause",
                 [](QTcpSocket& s, int) {
                     s.write(Head(kSize) + Body(kSize));
                     QTimer::singleShot(100, &s, [&s] { Send(s, "and more"); });
                 },
                 "more than the 200000 bytes its Content-Length announced"},
        TEndCase{"ChunkedWithoutItsLastChunk",
                 [](QTcpSocket& s, int) { Send(s, kChunkedHead + Chunked(Body(kSize))); },
                 "the chunked body ended without its last chunk, after 200000 bytes"},
        TEndCase{"ChunkedCutInItsLastChunk",
                 [](QTcpSocket& s, int) { Send(s, kChunkedHead + Chunked(Body(kSize)) + "0\r"); },
                 "the chunked body ended without its last chunk"},
        TEndCase{"ResetMidBody",
                 [](QTcpSocket& s, int) { Send(s, Head(kSize) + Body(kSize / 2), true); }, "reset"},
        TEndCase{
            "ResetMidChunked",
            [](QTcpSocket& s, int) { SendThenEnd(s, kChunkedHead + Chunk(Body(kSize / 2)), true); },
            "reset"},
        TEndCase{"ErrorStatus",
                 [](QTcpSocket& s, int) {
                     Send(s, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
                 },
                 "the server answered 404"},
        TEndCase{"ChunkedWithALengthToo",
                 [](QTcpSocket& s, int) {
                     Send(s, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: "
                             "200000\r\n\r\n" +
                                 Chunked(Body(kSize)) + "0\r\n\r\n");
                 },
                 "chunked and gives a Content-Length"},
        TEndCase{"TwoLengths",
                 [](QTcpSocket& s, int) {
                     Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 200000\r\nContent-Length: "
                             "100000\r\n\r\n" +
                                 Body(kSize));
                 },
                 "is not one number of bytes"},
        TEndCase{"LengthNotANumber",
                 [](QTcpSocket& s, int) {
                     Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 2e5\r\n\r\n" + Body(kSize));
                 },
                 "is not one number of bytes"}),
    [](const ::testing::TestParamInfo<TEndCase>& info) { return info.param.Label; });

// A chunked body cut anywhere before its last chunk is whole, from before
// its first byte to between the CR and LF of "0\r\n". The seed is shown so
// that a failure can be repeated.
TEST_F(HttpGetTest, ChunkedBodyCutAnywhereIsRefused) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 50; ++round) {
        QByteArray framed;
        for (int chunks = 1 + random() % 4; chunks > 0; --chunks)
            framed += Chunk(Body(1 + static_cast<int>(random() % 3000)));
        framed += "0\r\n\r\n";
        const int cut = std::uniform_int_distribution<int>(0, framed.size() - 3)(random);
        const THttpResult result =
            Get("/cut" + QByteArray::number(round),
                [&, cut](QTcpSocket& s, int) { Send(s, kChunkedHead + framed.left(cut)); });
        ASSERT_FALSE(result.Ok) << "round " << round << " cut at " << cut << " of "
                                << framed.size();
        ASSERT_THAT(result.ErrorText.toStdString(),
                    HasSubstr("the chunked body ended without its last chunk"))
            << "round " << round << " cut at " << cut;
        ExpectUntouched();
    }
}

TEST_F(HttpGetTest, AbortEndsTheDownloadAsAFailure) {
    Http.SetBehaviour("/drip", {TLocalHttpServer::Mode::Drip, 200, 20});
    THttpRequest request;
    request.Url = QUrl(Http.BaseUrl() + "/drip");
    request.OnStarted = [](std::function<void()> abort) {
        QTimer::singleShot(200, [abort = std::move(abort)] { abort(); });
    };
    QElapsedTimer clock;
    clock.start();

    const THttpResult result = HttpGetToFile(request, Target);

    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(result.Ok);
    EXPECT_THAT(result.ErrorText.toStdString(), HasSubstr("aborted"));
    ExpectUntouched();
}

TRespond RedirectTo(const QString& url) {
    return [url](QTcpSocket& s, int) {
        Send(s,
             "HTTP/1.1 302 Found\r\nLocation: " + url.toLatin1() + "\r\nContent-Length: 0\r\n\r\n");
    };
}

TEST_F(HttpGetTest, RedirectIsFollowedWithinHttp) {
    Http.SetBehaviour("/there", {TLocalHttpServer::Mode::Answer, 200, 0,
                                 [](QTcpSocket& s, int) { Send(s, Head(kSize) + Body(kSize)); }});
    const THttpResult result = Get("/here", RedirectTo(Http.BaseUrl() + "/there"));
    ASSERT_TRUE(result.Ok) << result.ErrorText.toStdString();
    EXPECT_EQ(ReadFile(Target), Body(kSize));
}

// Straight from https, or back to http after a hop through https.
TEST_F(HttpGetTest, NoRedirectLeadsFromHttpsToHttp) {
    TTestCertificate certificate;
    ASSERT_TRUE(certificate.Ok()) << certificate.Error();
    TLocalHttpServer https(Temp.path());
    ASSERT_TRUE(https.StartTls(QString::fromStdString(certificate.CertFile()),
                               QString::fromStdString(certificate.KeyFile())));
    TScopedEnv ca("TAVIREL_UPDATE_CA_FILE", certificate.CaFile());
    const QString plain = Http.BaseUrl() + "/plain";
    https.SetBehaviour("/here", {TLocalHttpServer::Mode::Answer, 200, 0, RedirectTo(plain)});
    Http.SetBehaviour(
        "/start", {TLocalHttpServer::Mode::Answer, 200, 0, RedirectTo(https.BaseUrl() + "/here")});

    for (const QString& start : {https.BaseUrl() + "/here", Http.BaseUrl() + "/start"}) {
        SCOPED_TRACE(start.toStdString());
        const size_t answered = https.Requests().size();
        THttpRequest request;
        request.Url = QUrl(start);
        const THttpResult result = HttpGetToFile(request, Target);
        EXPECT_EQ(https.Requests().size(), answered + 1);
        EXPECT_FALSE(result.Ok);
        EXPECT_EQ(result.ErrorText.toStdString(),
                  ("a redirect from https to " + plain + " was refused").toStdString());
    }
    EXPECT_FALSE(Http.WasRequested("/plain"));
    ExpectUntouched();
}

} // namespace
