#include "engine/ProxyList.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>

namespace {

// SOCKS5 carries a user name and a password of at most 255 bytes each; the
// same bound holds for HTTP proxies, so a list means the same to both.
constexpr std::size_t KMaxCredentialBytes = 255;
constexpr std::size_t KMaxHostBytes = 253;
constexpr std::size_t KMaxLabelBytes = 63;
constexpr std::string_view KBlanks = " \t\r\v\f";
constexpr std::string_view KUtf8Bom = "\xEF\xBB\xBF";

struct TSchemeName {
    std::string_view Name;
    TProxyScheme Scheme;
};

constexpr TSchemeName KSchemes[] = {
    {"socks5", TProxyScheme::Socks5},
    {"socks5h", TProxyScheme::Socks5h},
    {"http", TProxyScheme::Http},
};

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(KBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(KBlanks) - first + 1);
}

// A number from 1 to max written in digits only.
std::optional<int> ReadNumber(std::string_view text, int max) {
    int value = 0;
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), IsDigit)) {
        return std::nullopt;
    }
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value >= 1 && value <= max ? std::optional<int>(value) : std::nullopt;
}

bool IsDottedQuad(std::string_view host) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view part = host.substr(start, dot - start);
        const bool zero = part == "0";
        if (!zero && (part.empty() || part[0] == '0' || !ReadNumber(part, 255))) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        start = dot + 1;
    }
}

bool IsLabel(std::string_view label) {
    if (label.empty() || label.size() > KMaxLabelBytes || label.front() == '-' ||
        label.back() == '-') {
        return false;
    }
    return std::all_of(label.begin(), label.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' ||
               c == '_';
    });
}

int HexValue(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX decoded; nullopt for a '%' not followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string PercentEncode(std::string_view text) {
    constexpr char KHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += KHex[c >> 4];
            out += KHex[c & 15];
        }
    }
    return out;
}

// One decoded part of user:password; what is wrong with it, or "".
std::string ReadCredential(std::string_view raw, std::string_view what, std::string& value) {
    if (std::any_of(raw.begin(), raw.end(),
                    [](char c) { return c == ' ' || IsControl(static_cast<unsigned char>(c)); })) {
        return "a blank or control character in the " + std::string(what) + " (percent-encode it)";
    }
    const auto decoded = PercentDecode(raw);
    if (!decoded) {
        return "a '%' in the " + std::string(what) + " without two hex digits after it";
    }
    if (decoded->empty()) {
        return "an empty " + std::string(what);
    }
    if (decoded->find('\0') != std::string::npos) {
        return "a zero byte (%00) in the " + std::string(what);
    }
    if (decoded->size() > KMaxCredentialBytes) {
        return "a " + std::string(what) + " longer than 255 bytes";
    }
    value = *decoded;
    return {};
}

// user:password into proxy; what is wrong, or "".
std::string ReadUserInfo(std::string_view userInfo, TProxy& proxy) {
    const std::size_t colon = userInfo.find(':');
    if (colon == std::string_view::npos) {
        return "a user name without a password (write user:password@)";
    }
    std::string why = ReadCredential(userInfo.substr(0, colon), "user name", proxy.User);
    if (why.empty()) {
        why = ReadCredential(userInfo.substr(colon + 1), "password", proxy.Password);
    }
    return why;
}

// host:port into proxy; what is wrong, or "".
std::string ReadHostPort(std::string_view hostPort, TProxy& proxy) {
    if (!hostPort.empty() && hostPort.front() == '[') {
        return "IPv6 addresses are not supported: name the proxy by an IPv4 address or a host name";
    }
    const std::size_t colon = hostPort.rfind(':');
    if (colon == std::string_view::npos) {
        return "no port after the host (write host:port)";
    }
    const std::string_view host = hostPort.substr(0, colon);
    if (host.empty()) {
        return "no host before the port";
    }
    if (!IsPlainHostName(host)) {
        return "the host is not a host name or an IPv4 address";
    }
    const auto port = ReadNumber(hostPort.substr(colon + 1), 65535);
    if (!port) {
        return "the port is not a number from 1 to 65535";
    }
    proxy.Host = LowerAscii(host);
    proxy.Port = *port;
    return {};
}

TProxyParse Failed(std::string why) {
    return TProxyParse{std::nullopt, std::move(why)};
}

// The line's URL, without blanks and a trailing " # comment"; nullopt when
// something else follows the URL.
std::optional<std::string_view> UrlOfLine(std::string_view line) {
    const std::size_t blank = line.find_first_of(KBlanks);
    if (blank == std::string_view::npos) {
        return line;
    }
    const std::string_view rest = Trim(line.substr(blank));
    if (rest.empty() || rest.front() != '#') {
        return std::nullopt;
    }
    return line.substr(0, blank);
}

// The whole of a file of at most MaxProxyFileBytes into content; why not, or "".
std::string ReadSmallFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "cannot read " + path + ": " + std::strerror(errno);
    }
    content.assign(MaxProxyFileBytes + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad()) {
        return "cannot read " + path;
    }
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (content.size() > MaxProxyFileBytes) {
        return path + " is larger than 1 MiB: no proxy list";
    }
    return {};
}

} // namespace

bool IsPlainHostName(std::string_view host) {
    if (host.empty() || host.size() > KMaxHostBytes) {
        return false;
    }
    bool allDigitsAndDots = true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view label = host.substr(start, dot - start);
        if (!IsLabel(label)) {
            return false;
        }
        allDigitsAndDots = allDigitsAndDots && std::all_of(label.begin(), label.end(), IsDigit);
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    // "127.1" or "300.1.1.1" would be read as some address by the resolver:
    // numbers must make a whole, proper address.
    return !allDigitsAndDots || IsDottedQuad(host);
}

std::string_view ProxySchemeName(TProxyScheme scheme) {
    for (const TSchemeName& entry : KSchemes) {
        if (entry.Scheme == scheme) {
            return entry.Name;
        }
    }
    return "socks5";
}

std::string MaskedProxyUrl(const TProxy& proxy) {
    std::string url(ProxySchemeName(proxy.Scheme));
    url += "://";
    if (!proxy.User.empty() || !proxy.Password.empty()) {
        url += PercentEncode(proxy.User) + ":***@";
    }
    return url + proxy.Host + ":" + std::to_string(proxy.Port);
}

std::string MaskedProxyText(std::string_view text) {
    const std::size_t schemeEnd = text.find("://");
    const std::size_t start = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
    const std::size_t at = text.rfind('@');
    std::string out;
    if (at != std::string_view::npos && at >= start) {
        const std::string_view userInfo = text.substr(start, at - start);
        const std::size_t colon = userInfo.find(':');
        out.append(text.substr(0, start));
        out.append(colon == std::string_view::npos ? std::string_view()
                                                   : userInfo.substr(0, colon + 1));
        out.append("***");
        out.append(text.substr(at));
    } else {
        out.assign(text);
    }
    std::replace_if(
        out.begin(), out.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); },
        '?');
    return out;
}

TProxyParse ParseProxyUrl(std::string_view text) {
    try {
        if (text.empty()) {
            return Failed("no proxy URL");
        }
        const std::size_t schemeEnd = text.find("://");
        if (schemeEnd == std::string_view::npos) {
            return Failed("no scheme: write socks5://, socks5h:// or http:// before host:port");
        }
        const std::string scheme = LowerAscii(text.substr(0, schemeEnd));
        const auto known = std::find_if(std::begin(KSchemes), std::end(KSchemes),
                                        [&](const TSchemeName& s) { return s.Name == scheme; });
        if (known == std::end(KSchemes)) {
            return Failed("the scheme is not one of socks5, socks5h, http");
        }
        TProxy proxy;
        proxy.Scheme = known->Scheme;
        std::string_view rest = text.substr(schemeEnd + 3);
        const std::size_t at = rest.rfind('@');
        const std::string_view userInfo =
            at == std::string_view::npos ? std::string_view() : rest.substr(0, at);
        if (at != std::string_view::npos) {
            rest.remove_prefix(at + 1);
        }
        const std::size_t authorityEnd = rest.find_first_of("/?#");
        if (authorityEnd != std::string_view::npos) {
            if (rest.substr(authorityEnd) != "/") {
                return Failed("a path, query or fragment after host:port");
            }
            rest = rest.substr(0, authorityEnd);
        }
        std::string why = ReadHostPort(rest, proxy);
        if (why.empty() && at != std::string_view::npos) {
            why = ReadUserInfo(userInfo, proxy);
        }
        if (!why.empty()) {
            return Failed(std::move(why));
        }
        return TProxyParse{std::move(proxy), {}};
    } catch (...) {
        return Failed("out of memory");
    }
}

std::string DescribeProxyFault(TProxyFault fault, const TProxy& proxy) {
    const std::string name = "proxy " + MaskedProxyUrl(proxy);
    switch (fault) {
    case TProxyFault::None:
        break;
    case TProxyFault::Unreachable:
        return name + " unreachable";
    case TProxyFault::HandshakeRefused:
        return name + " refused the handshake";
    case TProxyFault::AuthRefused:
        return proxy.User.empty() ? name + " asks for a user name and password"
                                  : name + " refused the user name and password";
    }
    return {};
}

std::string DescribeProxyLineError(const TProxyLineError& error) {
    return "line " + std::to_string(error.Line) + ": \"" + error.Text + "\": " + error.Why;
}

TProxyListReading ReadProxyLines(std::string_view text) {
    TProxyListReading reading;
    try {
        if (text.substr(0, KUtf8Bom.size()) == KUtf8Bom) {
            text.remove_prefix(KUtf8Bom.size());
        }
        std::map<std::string, int> lineOfKey;
        int lineNumber = 0;
        for (std::size_t start = 0; start <= text.size(); ++lineNumber) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            const std::string_view line = Trim(text.substr(start, end - start));
            start = end + 1;
            if (line.empty() || line.front() == '#') {
                continue;
            }
            const auto url = UrlOfLine(line);
            TProxyParse parse =
                url ? ParseProxyUrl(*url) : Failed("text after the URL that is not a # comment");
            if (parse.Proxy) {
                const auto [it, added] =
                    lineOfKey.emplace(MaskedProxyUrl(*parse.Proxy), lineNumber + 1);
                if (added) {
                    reading.Proxies.push_back(std::move(*parse.Proxy));
                    continue;
                }
                parse.Error = "the same proxy as line " + std::to_string(it->second);
            }
            reading.Errors.push_back(
                TProxyLineError{lineNumber + 1, MaskedProxyText(line), std::move(parse.Error)});
        }
    } catch (...) {
        reading.FileError = "out of memory";
    }
    return reading;
}

TProxyListReading ReadProxyFile(const std::string& path) {
    TProxyListReading reading;
    try {
        std::string content;
        reading.FileError = ReadSmallFile(path, content);
        if (reading.FileError.empty()) {
            reading = ReadProxyLines(content);
        }
    } catch (...) {
        reading.FileError = "out of memory";
    }
    return reading;
}
