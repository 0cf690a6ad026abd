#pragma once

// The run's downloads: one address into one file, logged the way the run
// logs a download, with the notifications it went through.

#include "updater/HttpGet.h"
#include "updater/UpdateReporter.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>

namespace webupdater {
// The address of a file below the update server's folder webUrl: each
// segment of name percent-encoded, so that "?", "#", "%" and the like stay
// part of the file's name.
QUrl FileUrl(const std::string& webUrl, const QString& name);
} // namespace webupdater

class TUpdateDownloader {
public:
    explicit TUpdateDownloader(TUpdateReporter& report);

    // Downloads url into path, creating its folder. target is the name
    // the log shows below the program's folder. A failed download is logged
    // and reported (kind 8), one larger than bounds.MaxBytes with that
    // bound after its address; false then.
    bool Download(const QUrl& url, const QString& target, const QString& path,
                  const THttpBounds& bounds);
    // Ends the download under way as a failure, and every later one.
    void Abort();

private:
    TUpdateReporter& Report_;
    std::function<void()> AbortCurrent_; // while a download runs
    bool Aborted_ = false;
};
