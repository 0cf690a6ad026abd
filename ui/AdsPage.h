#pragma once

// The advertising page of the main window: an HTML page from the advertising
// host shown in a text browser, with no script engine in the process. Links
// open in the user's web browser.

#include <QObject>
#include <QString>
#include <QUrl>

#include <string>

class QNetworkAccessManager;
class QTextBrowser;

class TAdsPage : public QObject {
    Q_OBJECT

public:
    // The page asked of the advertising host.
    static constexpr const char* PagePath = "/Adv/Main/ad.html";
    // A request that takes longer fails like any other, and the panel stays blank.
    static constexpr int RequestBoundMs = 10000;

    explicit TAdsPage(QTextBrowser* view, QObject* parent = nullptr);

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

private:
    void HostResolved(const QString& host, const std::string& address);
    void PageArrived(const QUrl& url, const QByteArray& body, bool ok);
    void OpenLink(const QUrl& link);

    QTextBrowser* FView;
    QNetworkAccessManager* FNetwork;
    QString FAddress;
    QUrl FPageUrl;
};

// The page's bytes as text: UTF-8 when they are valid UTF-8, else GBK.
QString DecodeAdsPage(const QByteArray& body);
