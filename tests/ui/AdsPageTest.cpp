// The advertising page against an HTTP server on loopback: what the page names
// is fetched from its own host only, bounded, and nothing else it names is
// read, asked for or opened.

#include "ui/AdsPage.h"

#include "tests/support/LocalHttpServer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <vector>

namespace {

// Records every request; one for any host but 127.0.0.1 goes to a closed
// loopback port instead, so that a wrong decision shows as a recorded address
// and never as a packet to another machine.
class TRecordingNetwork : public QNetworkAccessManager {
public:
    std::vector<QUrl> Requested;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* body) override {
        Requested.push_back(request.url());
        if (request.url().host() == QLatin1String("127.0.0.1"))
            return QNetworkAccessManager::createRequest(op, request, body);
        return QNetworkAccessManager::createRequest(
            op, QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:1/"))), body);
    }
};

// A PNG of the given size, padded after its end to totalBytes when given.
QByteArray Png(QSize size, std::optional<qsizetype> totalBytes = std::nullopt) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    if (totalBytes)
        bytes.append(*totalBytes - bytes.size(), '\0');
    return bytes;
}

const QSize StandInSize(1, 1);

class AdsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Root.isValid() && Local.isValid());
        Write(Root, "img/ad.png", Png({7, 5}));
        Write(Root, "img/exact.png", Png({3, 2}, TAdsPage::MaxBodyBytes));
        Write(Root, "img/over.png", Png({3, 2}, TAdsPage::MaxBodyBytes + 1));
        Write(Local, "local.png", Png({4, 4}));
        LocalPath = Local.filePath(QStringLiteral("local.png"));
        QByteArray html = "<html><body>";
        for (const QString& src : Sources())
            html += "<img src=\"" + src.toUtf8() + "\">";
        html += "<a href=\"/Adv/go\">go</a></body></html>";
        Write(Root, "Adv/Main/ad.html", html);

        ASSERT_TRUE(Server.Start());
        View.resize(400, 300);
        View.show();
        Page.SetLinkOpener([this](const QUrl& link) { Opened.push_back(link); });
        QSignalSpy finished(&Page, &TAdsPage::Finished);
        Page.LoadFromHost(QStringLiteral("127.0.0.1:%1").arg(Server.Port()));
        ASSERT_TRUE(finished.wait(10'000));
        ASSERT_TRUE(finished.first().first().toBool());
    }

    static void Write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // What the page's images name, in page order.
    std::vector<QString> Sources() const {
        return {"/etc/hostname",
                "file:///dev/zero",
                "http://ads.elsewhere.invalid/banner.png",
                "qrc:/qt-project.org/styles/commonstyle/images/file-16.png",
                "data:image/png;base64," + QString::fromLatin1(Png({2, 2}).toBase64()),
                "file://" + LocalPath,
                LocalPath,
                "/img/ad.png",
                "/img/exact.png",
                "/img/over.png"};
    }

    QString Host() const { return QStringLiteral("http://127.0.0.1:%1").arg(Server.Port()); }

    // The image the page's document draws for src, as it stands now.
    QImage Shown(const QString& src) {
        return qvariant_cast<QImage>(
            View.document()->resource(QTextDocument::ImageResource, QUrl(src)));
    }

    QTemporaryDir Root, Local;
    QString LocalPath;
    TLocalHttpServer Server{Root.path()};
    TAdsBrowser View;
    TRecordingNetwork Network;
    TAdsPage Page{&View, nullptr, &Network};
    QSignalSpy ResourcesEnded{&Page, &TAdsPage::ResourceFinished};
    std::vector<QUrl> Opened;
};

TEST_F(AdsPageTest, ResourcesComeFromTheAdHostOnlyAndWithinTheBound) {
    // Each of Sources(), in order.
    const std::vector<QSize> sizes = {
        StandInSize, // asked of the ad host, which has no such file
        StandInSize, StandInSize, StandInSize, StandInSize, StandInSize,
        StandInSize, // a path on the ad host, not this machine's file
        QSize(7, 5), // the ad host's image
        QSize(3, 2), // exactly the bound
        StandInSize, // one byte more
    };
    ASSERT_EQ(QImage::fromData(Png({3, 2}, TAdsPage::MaxBodyBytes + 1)).size(), QSize(3, 2));

    // Five requests leave the page: the ad host's four paths and the bare path.
    ASSERT_TRUE(QTest::qWaitFor([this] { return ResourcesEnded.size() == 5; }, 10'000))
        << ResourcesEnded.size();
    QTest::qWait(50); // the page is shown again after the last arrival
    const std::vector<QString> sources = Sources();
    ASSERT_EQ(sources.size(), sizes.size());
    for (std::size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(Shown(sources[i]).size(), sizes[i]) << sources[i].left(60).toStdString();

    const std::set<QByteArray> expected = {"/Adv/Main/ad.html", "/etc/hostname",
                                           "/img/ad.png",       "/img/exact.png",
                                           "/img/over.png",     LocalPath.toUtf8()};
    std::set<QByteArray> served;
    for (const TRecordedRequest& request : Server.Requests())
        served.insert(request.Path);
    EXPECT_EQ(served, expected);
    for (const QUrl& url : Network.Requested)
        EXPECT_EQ(url.authority(), QUrl(Host()).authority()) << url.toString().toStdString();
    EXPECT_EQ(Network.Requested.size(), expected.size());
}

TEST_F(AdsPageTest, OnlyHttpLinksGoToTheDesktop) {
    struct TCase {
        QString Link;
        QString Opened; // "": not handed on
    };
    const std::vector<TCase> cases = {
        {"http://shop.example/x", "http://shop.example/x"},
        {"https://shop.example/", "https://shop.example/"},
        {"/Adv/go", Host() + "/Adv/go"},
        {"file:///etc/passwd", ""},
        {"mailto:someone@example.com", ""},
        {"javascript:alert(1)", ""},
        {"qrc:/x.html", ""},
        {"ftp://shop.example/", ""},
        {"data:text/html,hi", ""},
        {"smb://host/share", ""},
    };
    for (const TCase& c : cases) {
        Opened.clear();
        emit View.anchorClicked(QUrl(c.Link));
        const std::vector<QUrl> expected =
            c.Opened.isEmpty() ? std::vector<QUrl>{} : std::vector<QUrl>{QUrl(c.Opened)};
        EXPECT_EQ(Opened, expected) << c.Link.toStdString();
    }
}

// The decision alone, before any request: only http(s) on the page's host.
TEST(AdsResourceRuleTest, SameHostOverHttpOnly) {
    const QUrl page(QStringLiteral("http://ads.example:8080/Adv/Main/ad.html"));
    struct TCase {
        const char* Url;
        bool Allowed;
    };
    const TCase cases[] = {
        {"http://ads.example:8080/img/a.png", true},
        {"http://ADS.example:8080/img/a.png", true},
        {"https://ads.example/img/a.png", true},
        {"http://ads.example/img/a.png", true},
        {"http://ads.example:25/img/a.png", false},
        {"http://other.example:8080/img/a.png", false},
        {"http://ads.example.other:8080/img/a.png", false},
        {"file:///etc/hostname", false},
        {"file://ads.example/etc/hostname", false},
        {"qrc:/img/a.png", false},
        {"data:image/png;base64,AAAA", false},
        {"ftp://ads.example/img/a.png", false},
        {"/etc/hostname", false}, // not resolved against the page: no host
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IsAdsResourceAllowed(QUrl(QString::fromLatin1(c.Url)), page), c.Allowed) << c.Url;
}

} // namespace
