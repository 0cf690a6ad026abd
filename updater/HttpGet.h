#pragma once

// One HTTP GET into a file with libcurl, run to completion on the calling
// (user-interface) thread: a local event loop serves libcurl's sockets and
// keeps the windows responsive while it waits. Every request is bounded so
// that a silent or endless server ends as an ordinary failed download. An
// https:// address has its certificate checked against the system's
// authorities and, when TAVIREL_UPDATE_CA_FILE names a PEM file, the
// authorities it holds as well; an https:// download never follows a
// redirect to http://. No proxy is used, whatever the environment says.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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
    // Called once as the request starts, with what ends it as a failed
    // download. The caller may call that until HttpGetToFile returns, from
    // whatever the event loop runs meanwhile.
    std::function<void(std::function<void()> abort)> OnStarted;
};

// The body is written to a temporary file beside the target and put in place
// only when the whole body arrived with a success status: a failed download
// leaves the target as it was. Whole means exactly as long as its
// Content-Length says, neither cut short nor followed by more bytes before
// the server closes, or ended by the last chunk of a chunked body; without
// either, the body ends where the server closes in order. It comes from one
// answer to one request: a request that went out again fails, and so does a
// connection reset at any point.
THttpResult HttpGetToFile(const THttpRequest& request, const QString& targetPath);
