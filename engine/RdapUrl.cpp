#include "engine/RdapUrl.h"

#include "engine/DomainName.h"
#include "engine/Unit_Functions.h"

#include <curl/curl.h>

#include <arpa/inet.h>

#include <memory>
#include <optional>

namespace {

constexpr const char* RdapPort = "443";

struct TUrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using TUrl = std::unique_ptr<CURLU, TUrlCleanup>;

// The URL as libcurl reads it, its path left as written; null when it is no
// URL of a scheme libcurl knows.
TUrl ParsedUrl(std::string_view text) {
    TUrl url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(),
                             CURLU_PATH_AS_IS) != CURLUE_OK)
        return nullptr;
    return url;
}

// A part of the URL; "" when it has none.
std::string Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr)
        return {};
    std::string out(text);
    curl_free(text);
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path percent-decoded once, as a server reads it; nothing when it holds
// a broken escape, or a slash, backslash or NUL written as one (or a
// backslash at all): servers split such a path differently.
std::optional<std::string> DecodedPath(std::string_view path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\')
            return std::nullopt;
        if (c != '%') {
            out += c;
            continue;
        }
        const int high = i + 2 < path.size() ? HexValue(path[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(path[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        const char decoded = static_cast<char>(high * 16 + low);
        if (decoded == '/' || decoded == '\\' || decoded == '\0')
            return std::nullopt;
        out += decoded;
        i += 2;
    }
    return out;
}

// RFC 3986, 5.2.4: "." and ".." segments resolved.
std::string RemoveDotSegments(std::string input) {
    std::string output;
    const auto dropLastSegment = [&output] {
        const std::size_t slash = output.rfind('/');
        output.resize(slash == std::string::npos ? 0 : slash);
    };
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.erase(0, 3);
        } else if (input.starts_with("./")) {
            input.erase(0, 2);
        } else if (input.starts_with("/./")) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../")) {
            input.erase(0, 3);
            dropLastSegment();
        } else if (input == "/..") {
            input = "/";
            dropLastSegment();
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const std::size_t end = input.find('/', 1);
            output.append(input, 0, end);
            input.erase(0, end == std::string::npos ? input.size() : end);
        }
    }
    return output;
}

// The parts a URL is compared by; nothing when its path cannot be judged.
struct TComparedUrl {
    std::string Scheme, Host, Port, Path;
};

std::optional<TComparedUrl> ComparedUrl(std::string_view text) {
    const TUrl url = ParsedUrl(text);
    if (!url)
        return std::nullopt;
    std::optional<std::string> path = DecodedPath(Part(url.get(), CURLUPART_PATH));
    if (!path)
        return std::nullopt;
    return TComparedUrl{
        LowerAscii(Part(url.get(), CURLUPART_SCHEME)), LowerAscii(Part(url.get(), CURLUPART_HOST)),
        Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT), RemoveDotSegments(std::move(*path))};
}

bool IsAddressLiteral(const std::string& host) {
    in_addr address{};
    // inet_aton reads every form an address may be written in ("127.1",
    // "0x7f.0.0.1", "2130706433").
    return host.starts_with('[') || ::inet_aton(host.c_str(), &address) != 0;
}

} // namespace

std::string RdapBaseFormProblem(std::string_view base) {
    const std::string quoted = std::string("'").append(base.substr(0, 100)).append("'");
    const TUrl url = ParsedUrl(base);
    const std::string scheme = url ? LowerAscii(Part(url.get(), CURLUPART_SCHEME)) : "";
    if (scheme != "https" && scheme != "http")
        return quoted + " is not an http(s) URL";
    if (!Part(url.get(), CURLUPART_USER).empty())
        return quoted + " carries a user name";
    const std::string host = LowerAscii(Part(url.get(), CURLUPART_HOST));
    if (IsAddressLiteral(host))
        return quoted + " names an address, not a host name (a local server is reached "
                        "through TAVIREL_RDAP_BASE)";
    if (!IsHostName(host))
        return quoted + " names no host name";
    const std::string port = Part(url.get(), CURLUPART_PORT);
    if (!port.empty() && port != RdapPort)
        return quoted + " names port " + port + "; RDAP is asked on port 443 only";
    return "";
}

bool IsUrlUnderBase(std::string_view url, std::string_view base) {
    const std::optional<TComparedUrl> asked = ComparedUrl(url);
    std::optional<TComparedUrl> under = ComparedUrl(base);
    if (!asked || !under)
        return false;
    if (!under->Path.ends_with('/'))
        under->Path += '/';
    return asked->Scheme == under->Scheme && asked->Host == under->Host &&
           asked->Port == under->Port && asked->Path.starts_with(under->Path);
}
