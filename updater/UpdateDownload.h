#pragma once

// The run's downloads: one address into one file, logged the way the run
// logs a download, with the notifications it went through.

#include "updater/HttpGet.h"
#include "updater/UpdateReporter.h"

#include <QNetworkAccessManager>
#include <QPointer>

#include <QString>

class QNetworkReply;

class TUpdateDownloader {
public:
    explicit TUpdateDownloader(TUpdateReporter& report);

    // Downloads url into path, creating its folder. target is the name
    // the log shows below the program's folder. A failed download is logged
    // and reported (kind 8); false then.
    bool Download(const QString& url, const QString& target, const QString& path,
                  const THttpBounds& bounds);
    // Ends the download under way as a failure, and every later one.
    void Abort();

private:
    TUpdateReporter& Report_;
    QNetworkAccessManager Http_;
    QPointer<QNetworkReply> CurrentReply_;
    bool Aborted_ = false;
};
