#include "engine/RegistryDataUpdate.h"

#include "engine/RegistryData.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr long MaxRedirects = 3;

struct TCurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// What the write callback gathers; Oversize stops the transfer.
struct TBodySink {
    std::string Body;
    std::size_t MaxBytes = 0;
    bool Oversize = false;
};

std::size_t GatherBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<TBodySink*>(user);
    const std::size_t bytes = size * count;
    if (sink->Body.size() + bytes > sink->MaxBytes) {
        sink->Oversize = true;
        return 0; // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    sink->Body.append(data, bytes);
    return bytes;
}

bool HasScheme(const std::string& url, const char* scheme) {
    return url.size() > std::strlen(scheme) &&
           strncasecmp(url.c_str(), scheme, std::strlen(scheme)) == 0;
}

std::string SizeText(std::size_t bytes) {
    return std::to_string(bytes) + " bytes";
}

class TTempFile {
public:
    explicit TTempFile(std::string path) : FPath(std::move(path)) {}
    ~TTempFile() {
        if (!FKept)
            ::unlink(FPath.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Path() const { return FPath; }
    void Keep() { FKept = true; }

private:
    std::string FPath;
    bool FKept = false;
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool DownloadBounded(const std::string& url, bool allowPlainHttp, const TDownloadBounds& bounds,
                     std::string& body, std::string& error) {
    body.clear();
    if (!HasScheme(url, "https://") && !(allowPlainHttp && HasScheme(url, "http://"))) {
        error = "'" + url + "' is not an https" + (allowPlainHttp ? " or http" : "") + " URL";
        return false;
    }
    const std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
    if (!curl) {
        error = "the HTTP library could not start";
        return false;
    }
    const char* schemes = allowPlainHttp ? "http,https" : "https";
    TBodySink sink;
    sink.MaxBytes = bounds.MaxBytes;
    char curlError[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, schemes);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, schemes);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(bounds.Connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(bounds.Whole.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bounds.MaxBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "tavirelbrisvane");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, GatherBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError);

    const CURLcode rc = curl_easy_perform(h);
    if (sink.Oversize || rc == CURLE_FILESIZE_EXCEEDED) {
        error = url + " sent more than " + SizeText(bounds.MaxBytes);
        return false;
    }
    if (rc != CURLE_OK) {
        error = url + ": " + (curlError[0] != '\0' ? curlError : curl_easy_strerror(rc));
        return false;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        error = url + " answered with status " + std::to_string(status);
        return false;
    }
    body = std::move(sink.Body);
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    std::string pattern = path + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    TTempFile temp(pattern);
    const bool written = WriteAll(fd, bytes) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        error = "cannot write " + temp.Path() + ": " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    if (::rename(temp.Path().c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        return false;
    }
    temp.Keep();
    return true;
}

TBootstrapUpdate UpdateRdapBootstrap(const std::string& url, bool allowPlainHttp,
                                     const std::string& userFolder, const TDownloadBounds& bounds) {
    TBootstrapUpdate update;
    if (userFolder.empty()) {
        update.Message = "no data folder: neither XDG_DATA_HOME nor HOME names one";
        return update;
    }
    update.File = userFolder + "/" + RdapBootstrapFileName;
    std::string body, error;
    if (!DownloadBounded(url, allowPlainHttp, bounds, body, error)) {
        update.Message = error + "; " + update.File + " is left as it was";
        return update;
    }
    TRdapBootstrap bootstrap;
    if (!ReadRdapBootstrap(body, bootstrap, error)) {
        update.Message = url + " is not an RDAP bootstrap file: " + error + "; " + update.File +
                         " is left as it was";
        return update;
    }
    std::error_code code;
    fs::create_directories(userFolder, code);
    if (code) {
        update.Message = "cannot create " + userFolder + ": " + code.message();
        return update;
    }
    if (!WriteFileAtomically(update.File, body, error)) {
        update.Message = error;
        return update;
    }
    update.Ok = true;
    update.Tlds = bootstrap.Bases.size();
    update.Publication = bootstrap.Publication.empty() ? "unknown" : bootstrap.Publication;
    update.Message = "saved " + SizeText(body.size()) + " from " + url + " to " + update.File +
                     ": RDAP bases for " + std::to_string(update.Tlds) + " TLDs, published " +
                     update.Publication;
    return update;
}
