#pragma once

// The advertising page of the main window: an HTML page from the advertising
// host shown in a text browser, with no script engine in the process. The
// page reaches nothing but its own host: its images and style sheets come
// over HTTP or HTTPS from that host, bounded like the page, while whatever
// else it names (local files, other hosts, other schemes) is left out. Only
// http and https links are handed to the user's web browser.

#include <QHash>
#include <QObject>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <string>

class QNetworkAccessManager;

// A text browser that takes every resource of its document from one source.
// The document's own loader is never reached: it would open local files (on
// the UI thread, however large) for any name a page gives.
class TAdsBrowser : public QTextBrowser {
    Q_OBJECT

public:
    // Gives the resource of a QTextDocument::ResourceType for a name as the
    // document wrote it; a null value stands for "not available".
    using TResourceSource = std::function<QVariant(int type, const QUrl& name)>;

    explicit TAdsBrowser(QWidget* parent = nullptr);

    void SetResourceSource(TResourceSource source) { FSource = std::move(source); }

    // What a resource that is refused, failed or still on its way stands as:
    // a transparent 1 x 1 image, or an empty text. Never null, because for a
    // null value the document and its image handler read the name as a local
    // file themselves.
    static QVariant StandIn(int type);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    TResourceSource FSource;
};

// True for a resource the page may fetch: url, already resolved against the
// page's address, is http or https on the page's host, on the page's port or
// the scheme's own.
bool IsAdsResourceAllowed(const QUrl& url, const QUrl& page);

// True for a link the user's web browser may open: http or https with a host.
bool IsOpenableLink(const QUrl& link);

class TAdsPage : public QObject {
    Q_OBJECT

public:
    // The page asked of the advertising host.
    static constexpr const char* PagePath = "/Adv/Main/ad.html";
    // The bounds of every request of the panel (the page and each of its
    // resources): this long without a byte, this long in all, or a body
    // larger than MaxBodyBytes, and the request fails like any other.
    static constexpr int RequestBoundMs = 10000;
    static constexpr int WholeRequestBoundMs = 30000;
    static constexpr qint64 MaxBodyBytes = 1 << 20;
    // Resources one page may fetch; those it names beyond are left out.
    static constexpr int MaxResources = 64;

    using TLinkOpener = std::function<void(const QUrl& link)>;

    // network carries the requests; null: the page makes a manager of its own.
    explicit TAdsPage(TAdsBrowser* view, QObject* parent = nullptr,
                      QNetworkAccessManager* network = nullptr);

    // Where a clicked http or https link goes (QDesktopServices::openUrl
    // unless changed).
    void SetLinkOpener(TLinkOpener opener) { FOpenLink = std::move(opener); }

    // Shows the empty page, "about:blank".
    void ShowBlank();
    // Looks the host ("name" or "name:port") up off the UI thread, so a slow
    // name service cannot freeze the window; when the address found has more
    // than 6 characters, loads the page from that host over HTTP.
    void LoadFromHost(const QString& host);

    // The address shown now: "about:blank" or the page's URL once it arrived.
    QString Address() const { return FAddress; }

signals:
    // The lookup and, when made, the request have ended; shown tells whether
    // the page is on the panel.
    void Finished(bool shown);
    // The request for one of the page's resources has ended; the page is
    // shown again with it when it arrived.
    void ResourceFinished(const QUrl& url, bool arrived);

private:
    struct TResource {
        bool Done = false;
        QVariant Value; // null: refused or failed
    };
    using TBodyHandler = std::function<void(bool ok, const QByteArray& body)>;

    void HostResolved(const QString& host, const std::string& address);
    void PageArrived(const QUrl& url, const QByteArray& body, bool ok);
    QVariant Resource(int type, const QUrl& name);
    void FetchResource(int type, const QUrl& url);
    void ResourceArrived(int type, const QUrl& url, const QByteArray& body, bool ok);
    void ShowPageAgain();
    void Fetch(const QUrl& url, bool followRedirects, TBodyHandler done);
    void ForgetPage();
    void OpenLink(const QUrl& link);

    TAdsBrowser* FView;
    QNetworkAccessManager* FNetwork;
    TLinkOpener FOpenLink;
    QString FAddress;
    QUrl FPageUrl;
    QString FPageHtml;
    // The resources the shown page named, by resolved address.
    QHash<QUrl, TResource> FResources;
    int FFetchCount = 0;
    // Counts the pages shown, so that a late reply for an earlier page is
    // dropped.
    int FPageNumber = 0;
    bool FShowAgainQueued = false;
};

// The page's bytes as text: UTF-8 when they are valid UTF-8, else GBK.
QString DecodeAdsPage(const QByteArray& body);
