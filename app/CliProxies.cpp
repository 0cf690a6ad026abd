#include "app/CliProxies.h"

#include <map>

namespace {

// Adds proxy unless its key is taken; the error names the source that took it.
bool AddOnce(TProxy proxy, const std::string& source, std::vector<TProxy>& proxies,
             std::map<std::string, std::string>& sourceOfKey, std::string& error) {
    const auto [it, added] = sourceOfKey.emplace(MaskedProxyUrl(proxy), source);
    if (!added) {
        error = source + ": the same proxy as " + it->second;
        return false;
    }
    proxies.push_back(std::move(proxy));
    return true;
}

bool ReadUrl(const std::string& url, std::vector<TProxy>& proxies,
             std::map<std::string, std::string>& sourceOfKey, std::string& error) {
    const std::string source = "--proxy \"" + MaskedProxyText(url) + "\"";
    TProxyParse parse = ParseProxyUrl(url);
    if (!parse.Proxy) {
        error = source + ": " + parse.Error;
        return false;
    }
    return AddOnce(std::move(*parse.Proxy), source, proxies, sourceOfKey, error);
}

bool ReadFile(const std::string& path, std::vector<TProxy>& proxies,
              std::map<std::string, std::string>& sourceOfKey, std::string& error) {
    const std::string source = "--proxy-file " + path;
    TProxyListReading reading = ReadProxyFile(path);
    if (!reading.FileError.empty()) {
        error = source + ": " + reading.FileError;
        return false;
    }
    if (!reading.Errors.empty()) {
        error = source + ": " + DescribeProxyLineError(reading.Errors.front());
        if (reading.Errors.size() > 1)
            error += " (and " + std::to_string(reading.Errors.size() - 1) + " more bad lines)";
        return false;
    }
    // Asking straight instead would show the user's own address.
    if (reading.Proxies.empty()) {
        error = source + ": no proxy in the file";
        return false;
    }
    for (TProxy& proxy : reading.Proxies) {
        if (!AddOnce(std::move(proxy), source, proxies, sourceOfKey, error))
            return false;
    }
    return true;
}

} // namespace

bool TProxyOptions::Take(const std::vector<std::string>& args, std::size_t& i,
                         std::optional<std::string>& error) {
    const std::string& arg = args[i];
    if (arg != "--proxy" && arg != "--proxy-file")
        return false;
    if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return true;
    }
    Sources.push_back(TSource{arg == "--proxy-file", args[++i]});
    return true;
}

std::optional<std::shared_ptr<TProxyRotation>> ReadProxyOptions(const TProxyOptions& options,
                                                                std::string& error) {
    std::vector<TProxy> proxies;
    std::map<std::string, std::string> sourceOfKey;
    for (const TProxyOptions::TSource& source : options.Sources) {
        const bool read = source.IsFile ? ReadFile(source.Text, proxies, sourceOfKey, error)
                                        : ReadUrl(source.Text, proxies, sourceOfKey, error);
        if (!read)
            return std::nullopt;
    }
    if (proxies.empty())
        return std::shared_ptr<TProxyRotation>();
    return std::make_shared<TProxyRotation>(std::move(proxies));
}
