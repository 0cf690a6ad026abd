#include "ui/AdsPage.h"

#include "engine/Unit_Functions.h"
#include "ui/GbkQt.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QThread>

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

} // namespace

QString DecodeAdsPage(const QByteArray& body) {
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(body);
    if (!utf8.hasError())
        return text;
    return GbkToQString(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
}

TAdsPage::TAdsPage(QTextBrowser* view, QObject* parent)
    : QObject(parent), FView(view), FNetwork(new QNetworkAccessManager(this)) {
    // The panel never navigates by itself: a link goes to the user's browser.
    FView->setOpenLinks(false);
    FView->setOpenExternalLinks(false);
    connect(FView, &QTextBrowser::anchorClicked, this, &TAdsPage::OpenLink);
}

void TAdsPage::ShowBlank() {
    FView->clear();
    FAddress = BlankAddress;
    FPageUrl = QUrl();
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
    QNetworkRequest request(url);
    request.setTransferTimeout(RequestBoundMs);
    QNetworkReply* reply = FNetwork->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        reply->deleteLater();
        const bool ok = reply->error() == QNetworkReply::NoError;
        PageArrived(url, ok ? reply->readAll() : QByteArray(), ok);
    });
}

void TAdsPage::PageArrived(const QUrl& url, const QByteArray& body, bool ok) {
    if (ok) {
        FView->setHtml(DecodeAdsPage(body));
        FAddress = url.toString();
        FPageUrl = url;
    }
    emit Finished(ok);
}

void TAdsPage::OpenLink(const QUrl& link) {
    const QUrl target = link.isRelative() && FPageUrl.isValid() ? FPageUrl.resolved(link) : link;
    QDesktopServices::openUrl(target);
}
