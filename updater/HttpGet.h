#pragma once

// One HTTP GET into a file, run to completion on the calling (user-interface)
// thread: a local event loop keeps the windows responsive while it waits.
// Every request is bounded so that a silent or endless server ends as an
// ordinary failed download. An https:// address has its certificate checked
// against the system's authorities and, when TAVIREL_UPDATE_CA_FILE names a
// PEM file, the authorities it holds as well.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

struct THttpBounds {
    int IdleMs = 10'000;          // no connection or no byte for this long
    int WholeMs = 10 * 60 * 1000; // the whole request
    std::int64_t MaxBytes = -1;   // body size cap; negative: none
};

struct THttpResult {
    bool Ok = false;
    QString ErrorText;     // why it failed, for the log
    bool TooLarge = false; // it failed on Bounds.MaxBytes
};

struct THttpRequest {
    QUrl Url;
    std::vector<std::pair<QByteArray, QByteArray>> Headers;
    THttpBounds Bounds;
    // Bytes received and expected (-1 when the server did not say).
    std::function<void(std::int64_t, std::int64_t)> OnProgress;
    // Called once with the running reply, so that the caller can abort it.
    std::function<void(QNetworkReply*)> OnStarted;
};

// The body is written to a temporary file beside the target and put in place
// only when the whole body arrived with a success status: a failed download
// leaves the target as it was. Whole means as long as its Content-Length
// says, or ended by the last chunk of a chunked body, from one answer: a
// request that went out again after its answer had begun fails, since the
// transport would join the second answer's body to the first.
THttpResult HttpGetToFile(QNetworkAccessManager& manager, const THttpRequest& request,
                          const QString& targetPath);
