#include "engine/RegistryLimits.h"

#include "engine/DataFolder.h"
#include "engine/IntegerText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>

namespace {

std::vector<std::string> FieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

std::optional<double> RateOf(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value <= 0)
        return std::nullopt;
    return value;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "" when the line is read into limits, else why not.
std::string ReadLine(const std::string& line, TRegistryLimits& limits) {
    const std::vector<std::string> fields = FieldsOf(line);
    if (fields.size() < 4)
        return "expected host, per_second, per_day and source, tab-separated";
    const std::string host = LowerCase(fields[0]);
    if (host.empty())
        return "no host";
    TRegistryLimit limit;
    if (!fields[1].empty() && !(limit.PerSecond = RateOf(fields[1])))
        return "per_second '" + fields[1] + "' is not a rate above 0";
    if (!fields[2].empty()) {
        const std::optional<std::int32_t> perDay = ParseIntegerText(fields[2]);
        if (!perDay || *perDay < 1)
            return "per_day '" + fields[2] + "' is not a whole number above 0";
        limit.PerDay = *perDay;
    }
    if (!limit.PerSecond && !limit.PerDay)
        return "neither a rate nor a daily budget";
    limit.Source = fields[3];
    limits.ByHost[host] = std::move(limit);
    return "";
}

} // namespace

const TRegistryLimit* TRegistryLimits::Find(const std::string& server) const {
    const auto found = ByHost.find(LowerCase(server.substr(0, server.find(':'))));
    return found == ByHost.end() ? nullptr : &found->second;
}

TRegistryLimits LoadRegistryLimits(const std::filesystem::path& file) {
    TRegistryLimits limits;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        limits.Problems.push_back(file.string() + ": cannot be read");
        return limits;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (number == 1 || line.empty() || line[0] == '#')
            continue;
        if (std::string why = ReadLine(line, limits); !why.empty())
            limits.Problems.push_back("line " + std::to_string(number) + ": " + why);
    }
    return limits;
}

const TRegistryLimits& ProgramRegistryLimits() {
    static const TRegistryLimits limits =
        LoadRegistryLimits(ProgramDataFolder() / "registry-limits.tsv");
    return limits;
}
