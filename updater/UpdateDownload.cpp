#include "updater/UpdateDownload.h"

#include "updater/UpdateFolders.h"
#include "updater/UpdaterText.h"

#include <cstdio>
#include <system_error>

using webupdater::kCrLf;
using webupdater::kLfCr;

namespace {

// The download service's notification codes the log names.
struct TBindStatus {
    int Code;
    const char* Name;
};
constexpr TBindStatus kConnecting{2, "BINDSTATUS_CONNECTING"};
constexpr TBindStatus kBeginDownloadData{4, "BINDSTATUS_BEGINDOWNLOADDATA"};
constexpr TBindStatus kDownloadingData{5, "BINDSTATUS_DOWNLOADINGDATA"};
constexpr TBindStatus kEndDownloadData{6, "BINDSTATUS_ENDDOWNLOADDATA"};

std::string NotificationLines(const TBindStatus& status, const std::string& statusText,
                              int progress) {
    char head[64];
    std::snprintf(head, sizeof head, "[ %d]:: ", status.Code);
    std::string lines = head + statusText + " - " + std::to_string(progress) + ":100" + kCrLf;
    lines += "Progress: " + std::to_string(progress) + ":  100" + kCrLf;
    lines += "Status: " + statusText + kCrLf;
    lines += kCrLf;
    lines += status.Name;
    return lines;
}

} // namespace

namespace webupdater {

QUrl FileUrl(const std::string& webUrl, const QString& name) {
    QByteArray path;
    for (const QString& segment : name.split(QLatin1Char('/')))
        path += '/' + QUrl::toPercentEncoding(segment);
    QByteArray base = QUrl(GbkToQ(webUrl), QUrl::TolerantMode).toEncoded();
    while (base.endsWith('/'))
        base.chop(1);
    return QUrl::fromEncoded(base + path, QUrl::StrictMode);
}

} // namespace webupdater

TUpdateDownloader::TUpdateDownloader(TUpdateReporter& report) : Report_(report) {}

void TUpdateDownloader::Abort() {
    Aborted_ = true;
    if (AbortCurrent_)
        AbortCurrent_();
}

bool TUpdateDownloader::Download(const QUrl& url, const QString& target, const QString& path,
                                 const THttpBounds& bounds) {
    const std::string address = QToGbk(url.toString());
    const std::string shownTarget = "ApplicationFolder/" + QToGbk(target);
    Report_.WriteLog("Trying to download: " + address + "  To: " + shownTarget);

    std::string notifications;
    int lastProgress = 0;
    bool begun = false;
    auto notify = [&](const TBindStatus& status, int progress) {
        if (!notifications.empty())
            notifications += kCrLf;
        notifications += NotificationLines(status, address, progress);
        lastProgress = progress;
    };

    std::error_code ec;
    std::filesystem::create_directories(webupdater::FsPath(path).parent_path(), ec);

    THttpRequest request;
    request.Url = url;
    request.Bounds = bounds;
    request.OnStarted = [&](std::function<void()> abort) {
        AbortCurrent_ = std::move(abort);
        notify(kConnecting, 0);
    };
    request.OnProgress = [&](std::int64_t received, std::int64_t total) {
        const int percent = total > 0 ? static_cast<int>(received * 100 / total) : 0;
        if (!begun) {
            begun = true;
            notify(kBeginDownloadData, percent);
        } else if (percent != lastProgress) {
            notify(kDownloadingData, percent);
        }
    };
    const THttpResult result = HttpGetToFile(request, path);
    AbortCurrent_ = nullptr;
    if (!result.Ok || Aborted_) {
        Report_.WriteLog("Download failed: " + address + "  (" + QToGbk(result.ErrorText) + ")");
        if (result.TooLarge)
            Report_.ReportError(8, address + kLfCr + "larger than " +
                                       std::to_string(bounds.MaxBytes) + " bytes");
        else
            Report_.ReportError(8, address);
        return false;
    }
    notify(kEndDownloadData, 100);
    Report_.SetProgress(lastProgress);
    Report_.WriteLog(notifications + kLfCr + "Downloading " + address + "  To: " + shownTarget +
                     " was successful.");
    return true;
}
