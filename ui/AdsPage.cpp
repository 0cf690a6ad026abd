#include "ui/AdsPage.h"

#include "batch/GbkQt.h"
#include "engine/Unit_Functions.h"

#include <QDesktopServices>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

constexpr const char* BlankAddress = "about:blank";
// A lookup result of this many characters or fewer is no address ("" or an
// error text); a dotted IPv4 address has at least 7.
constexpr int ShortestAddress = 7;

// "name:port" -> "name"; a bare name stays as it is.
QString HostName(const QString& host) {
    const int colon = host.lastIndexOf(':');
    return colon < 0 ? host : host.left(colon);
}

bool IsHttpScheme(const QUrl& url) {
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int DefaultPort(const QUrl& url) {
    return url.scheme() == QLatin1String("https") ? 443 : 80;
}

// The kinds of resource a page may fetch; anything else is never asked for.
bool IsFetchedKind(int type) {
    return type == QTextDocument::ImageResource || type == QTextDocument::StyleSheetResource;
}

// The resource as the document takes it; null when the body is no such thing.
QVariant DecodeResource(int type, const QByteArray& body) {
    if (type == QTextDocument::StyleSheetResource)
        return DecodeAdsPage(body);
    const QImage image = QImage::fromData(body);
    return image.isNull() ? QVariant() : QVariant(image);
}

} // namespace

QString DecodeAdsPage(const QByteArray& body) {
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(body);
    if (!utf8.hasError())
        return text;
    return GbkToQString(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
}

bool IsAdsResourceAllowed(const QUrl& url, const QUrl& page) {
    if (!url.isValid() || !IsHttpScheme(url) || !IsHttpScheme(page))
        return false;
    if (url.host().isEmpty() || url.host().compare(page.host(), Qt::CaseInsensitive) != 0)
        return false;
    const int port = url.port(DefaultPort(url));
    return port == page.port(DefaultPort(page)) || port == DefaultPort(url);
}

bool IsOpenableLink(const QUrl& link) {
    return link.isValid() && IsHttpScheme(link) && !link.host().isEmpty();
}

// --- TAdsBrowser --------------------------------------------------------------

TAdsBrowser::TAdsBrowser(QWidget* parent) : QTextBrowser(parent) {}

QVariant TAdsBrowser::StandIn(int type) {
    if (type != QTextDocument::ImageResource)
        return QString();
    static const QImage blank = [] {
        QImage image(1, 1, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        return image;
    }();
    return blank;
}

QVariant TAdsBrowser::loadResource(int type, const QUrl& name) {
    QVariant value = FSource ? FSource(type, name) : QVariant();
    return value.isNull() ? StandIn(type) : value;
}

// --- TAdsPage -----------------------------------------------------------------

TAdsPage::TAdsPage(TAdsBrowser* view, QObject* parent, QNetworkAccessManager* network)
    : QObject(parent), FView(view), FNetwork(network ? network : new QNetworkAccessManager(this)),
      FOpenLink([](const QUrl& link) { QDesktopServices::openUrl(link); }) {
    // The panel never navigates by itself: a link goes to the user's browser.
    FView->setOpenLinks(false);
    FView->setOpenExternalLinks(false);
    // The view may outlive the page; it then finds nothing.
    FView->SetResourceSource([page = QPointer<TAdsPage>(this)](int type, const QUrl& name) {
        return page ? page->Resource(type, name) : QVariant();
    });
    connect(FView, &QTextBrowser::anchorClicked, this, &TAdsPage::OpenLink);
}

void TAdsPage::ShowBlank() {
    ForgetPage();
    FView->clear();
    FAddress = BlankAddress;
}

void TAdsPage::ForgetPage() {
    ++FPageNumber;
    FPageUrl = QUrl();
    FPageHtml.clear();
    FResources.clear();
    FFetchCount = 0;
}

void TAdsPage::LoadFromHost(const QString& host) {
    auto address = std::make_shared<std::string>();
    const std::string name = HostName(host).toStdString();
    // The thread object is nobody's child: a window closed during a slow
    // lookup drops the connection below, and the thread still ends cleanly.
    QThread* lookup = QThread::create([address, name] { *address = GetHostIP(name); });
    connect(lookup, &QThread::finished, this,
            [this, host, address] { HostResolved(host, *address); });
    connect(lookup, &QThread::finished, lookup, &QObject::deleteLater);
    lookup->start();
}

void TAdsPage::HostResolved(const QString& host, const std::string& address) {
    if (static_cast<int>(address.size()) < ShortestAddress) {
        emit Finished(false);
        return;
    }
    const QUrl url(QStringLiteral("http://") + host + QString::fromLatin1(PagePath));
    Fetch(url, true, [this, url](bool ok, const QByteArray& body) { PageArrived(url, body, ok); });
}

void TAdsPage::PageArrived(const QUrl& url, const QByteArray& body, bool ok) {
    if (ok) {
        ForgetPage();
        FPageUrl = url;
        FPageHtml = DecodeAdsPage(body);
        FAddress = url.toString();
        FView->setHtml(FPageHtml);
    }
    emit Finished(ok);
}

QVariant TAdsPage::Resource(int type, const QUrl& name) {
    if (!FPageUrl.isValid())
        return {};
    // A bare path is a path on the advertising host, as in any web browser,
    // never a file of this machine.
    const QUrl url = FPageUrl.resolved(name);
    const auto known = FResources.constFind(url);
    if (known != FResources.constEnd())
        return known->Value;
    if (!IsFetchedKind(type) || !IsAdsResourceAllowed(url, FPageUrl) ||
        FFetchCount >= MaxResources) {
        FResources.insert(url, TResource{true, {}});
        return {};
    }
    FetchResource(type, url);
    return {};
}

void TAdsPage::FetchResource(int type, const QUrl& url) {
    FResources.insert(url, TResource{false, {}});
    ++FFetchCount;
    const int page = FPageNumber;
    // A resource may not move to another address: a redirect fails it.
    Fetch(url, false, [this, page, type, url](bool ok, const QByteArray& body) {
        if (page == FPageNumber)
            ResourceArrived(type, url, body, ok);
    });
}

void TAdsPage::ResourceArrived(int type, const QUrl& url, const QByteArray& body, bool ok) {
    const QVariant value = ok ? DecodeResource(type, body) : QVariant();
    FResources.insert(url, TResource{true, value});
    if (!value.isNull())
        ShowPageAgain();
    emit ResourceFinished(url, !value.isNull());
}

void TAdsPage::ShowPageAgain() {
    // The document asks for each resource once; setting the page again makes
    // it ask anew and take what has arrived. Several arrivals in one turn of
    // the event loop cost one new layout.
    if (FShowAgainQueued)
        return;
    FShowAgainQueued = true;
    const int page = FPageNumber;
    QTimer::singleShot(0, this, [this, page] {
        FShowAgainQueued = false;
        if (page == FPageNumber)
            FView->setHtml(FPageHtml);
    });
}

void TAdsPage::Fetch(const QUrl& url, bool followRedirects, TBodyHandler done) {
    QNetworkRequest request(url);
    request.setTransferTimeout(RequestBoundMs);
    if (!followRedirects)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = FNetwork->get(request);
    QTimer::singleShot(WholeRequestBoundMs, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxBodyBytes || total > MaxBodyBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool ok = reply->error() == QNetworkReply::NoError && status / 100 == 2;
        const QByteArray body = ok ? reply->read(MaxBodyBytes + 1) : QByteArray();
        done(ok && body.size() <= MaxBodyBytes, body);
    });
}

void TAdsPage::OpenLink(const QUrl& link) {
    const QUrl target = FPageUrl.isValid() ? FPageUrl.resolved(link) : link;
    if (IsOpenableLink(target) && FOpenLink)
        FOpenLink(target);
}
