#include "engine/zone/ZoneReader.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr unsigned ReadBufferBytes = 256 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

bool IsTtl(std::string_view token) {
    if (token.empty() || token[0] < '0' || token[0] > '9')
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) {
        return (c >= '0' && c <= '9') || std::strchr("smhdwSMHDW", c) != nullptr;
    });
}

bool IsClass(std::string_view token) {
    for (std::string_view known : {"in", "ch", "hs", "cs"}) {
        if (EqualsIgnoringCase(token, known))
            return true;
    }
    return false;
}

bool IsNameText(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '*' || c == '@' || c == '/';
    });
}

bool IsTypeText(std::string_view type) {
    return !type.empty() && std::all_of(type.begin(), type.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

std::vector<std::string_view> Tokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsBlank(line[at]))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && !IsBlank(line[at]))
            ++at;
        if (at > start)
            tokens.push_back(line.substr(start, at - start));
    }
    return tokens;
}

// The text before a comment; quoted text keeps its semicolons.
std::string_view WithoutComment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

// The state of one zone as its lines come.
class TZoneParser {
public:
    TZoneParser(TZoneReading& reading, const std::function<void(std::string_view)>& delegated)
        : FReading(reading), FDelegated(delegated) {}

    void Line(std::string_view physical) {
        ++FReading.Lines;
        std::string_view text = WithoutComment(physical);
        if (!FPending.empty()) {
            FPending += ' ';
            FPending.append(text);
        } else if (text.find('(') != std::string_view::npos) {
            FPendingLine = FReading.Lines;
            FPending.assign(text);
        } else {
            Logical(text, FReading.Lines);
            return;
        }
        // Records in parentheses span lines until the closing one.
        const auto opened = std::count(FPending.begin(), FPending.end(), '(');
        const auto closed = std::count(FPending.begin(), FPending.end(), ')');
        if (closed < opened)
            return;
        std::replace(FPending.begin(), FPending.end(), '(', ' ');
        std::replace(FPending.begin(), FPending.end(), ')', ' ');
        const std::string joined = std::move(FPending);
        FPending.clear();
        Logical(joined, FPendingLine);
    }

    void End() {
        if (!FPending.empty())
            Problem(FPendingLine, "a parenthesis that is never closed");
        FPending.clear();
        // A download without SOA or $ORIGIN: its apex is what every
        // delegated name ends in.
        if (FReading.Origin.empty())
            FReading.Origin = FCommonSuffix;
    }

private:
    void Problem(std::size_t line, std::string reason) {
        ++FReading.ProblemCount;
        if (FReading.Problems.size() < MaxZoneProblems)
            FReading.Problems.push_back({line, std::move(reason)});
    }

    // The owner as a fully qualified name without its final dot; nothing
    // (with the problem said) when it cannot be made one.
    std::optional<std::string> Absolute(std::string_view name, std::size_t line) {
        if (name == "@") {
            if (FOrigin.empty()) {
                Problem(line, "'@' without $ORIGIN");
                return std::nullopt;
            }
            return FOrigin;
        }
        if (!IsNameText(name)) {
            // Appended, not added up: GCC 12 at -O2 warns of an overlap in
            // such a sum (a false alarm, but a warning all the same).
            Problem(line, std::string("'").append(name).append("' is not a name"));
            return std::nullopt;
        }
        if (name.back() == '.') {
            std::string absolute = Lower(name);
            while (!absolute.empty() && absolute.back() == '.')
                absolute.pop_back();
            return absolute;
        }
        if (FOrigin.empty()) {
            Problem(line, "the relative name '" + std::string(name) + "' without $ORIGIN");
            return std::nullopt;
        }
        return Lower(name) + "." + FOrigin;
    }

    void Directive(const std::vector<std::string_view>& tokens, std::size_t line) {
        if (EqualsIgnoringCase(tokens[0], "$ORIGIN") && tokens.size() >= 2) {
            if (std::optional<std::string> origin = Absolute(tokens[1], line)) {
                FOrigin = *origin;
                if (FReading.Origin.empty())
                    FReading.Origin = FOrigin;
            }
        } else if (EqualsIgnoringCase(tokens[0], "$TTL") && tokens.size() >= 2) {
            if (!IsTtl(tokens[1]))
                Problem(line, "$TTL '" + std::string(tokens[1]) + "' is not a time");
        } else {
            Problem(line, "the directive " + std::string(tokens[0]) + " is not read here");
        }
    }

    void Logical(std::string_view text, std::size_t line) {
        const std::vector<std::string_view> tokens = Tokens(text);
        if (tokens.empty())
            return;
        if (tokens[0].front() == '$') {
            Directive(tokens, line);
            return;
        }
        std::size_t next = 0;
        std::optional<std::string> owner;
        if (IsBlank(text.front())) {
            if (FLastOwner.empty()) {
                Problem(line, "a record without an owner");
                return;
            }
            owner = FLastOwner;
        } else {
            owner = Absolute(tokens[next++], line);
            if (!owner)
                return;
        }
        // TTL and class come in either order before the type.
        for (int i = 0; i < 2 && next < tokens.size(); ++i) {
            if (IsTtl(tokens[next]) || IsClass(tokens[next]))
                ++next;
        }
        if (next >= tokens.size() || !IsTypeText(tokens[next])) {
            Problem(line,
                    next >= tokens.size()
                        ? "no record type"
                        : std::string("'").append(tokens[next]).append("' is not a record type"));
            return;
        }
        FLastOwner = *owner;
        ++FReading.Records;
        const std::string_view type = tokens[next++];
        const std::size_t rdata = tokens.size() - next;
        if (EqualsIgnoringCase(type, "SOA"))
            Soa(*owner, tokens, next, line);
        else if (EqualsIgnoringCase(type, "NS"))
            Ns(*owner, rdata, line);
    }

    void Soa(const std::string& owner, const std::vector<std::string_view>& tokens,
             std::size_t rdata, std::size_t line) {
        if (tokens.size() - rdata != 7) {
            Problem(line, "an SOA record needs 7 fields, this one has " +
                              std::to_string(tokens.size() - rdata));
            return;
        }
        if (FReading.Origin.empty())
            FReading.Origin = owner;
        if (FOrigin.empty())
            FOrigin = owner;
        if (owner != FReading.Origin || FReading.Serial)
            return;
        const std::string_view serial = tokens[rdata + 2];
        std::uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(serial.data(), serial.data() + serial.size(), value);
        if (error != std::errc{} || end != serial.data() + serial.size())
            Problem(line, "the SOA serial '" + std::string(serial) + "' is not a number");
        else
            FReading.Serial = value;
    }

    void Ns(const std::string& owner, std::size_t rdata, std::size_t line) {
        if (rdata < 1) {
            Problem(line, "an NS record without a name server");
            return;
        }
        const bool apex = FReading.Origin.empty() ? owner.find('.') == std::string::npos
                                                  : owner == FReading.Origin;
        if (apex)
            return;
        ++FReading.Delegations;
        // Only a zone without SOA or $ORIGIN so far needs it: the origin,
        // once known, stays.
        if (FReading.Origin.empty())
            NarrowCommonSuffix(owner);
        FDelegated(owner);
    }

    // Keeps the labels every delegated owner's parent ends in.
    void NarrowCommonSuffix(std::string_view owner) {
        const std::size_t dot = owner.find('.');
        const std::string_view parent =
            dot == std::string_view::npos ? std::string_view() : owner.substr(dot + 1);
        if (FReading.Delegations == 1) {
            FCommonSuffix = std::string(parent);
            return;
        }
        while (!FCommonSuffix.empty() && !EndsInLabels(parent, FCommonSuffix)) {
            const std::size_t next = FCommonSuffix.find('.');
            FCommonSuffix = next == std::string::npos ? "" : FCommonSuffix.substr(next + 1);
        }
    }

    // "b.com" ends in the labels "com"; "bcom" does not.
    static bool EndsInLabels(std::string_view name, std::string_view labels) {
        return name.ends_with(labels) &&
               (name.size() == labels.size() || name[name.size() - labels.size() - 1] == '.');
    }

    TZoneReading& FReading;
    const std::function<void(std::string_view)>& FDelegated;
    std::string FOrigin;
    std::string FCommonSuffix;
    std::string FLastOwner;
    std::string FPending;
    std::size_t FPendingLine = 0;
};

} // namespace

TZoneReading ReadZoneText(std::string_view text,
                          const std::function<void(std::string_view owner)>& delegated) {
    TZoneReading reading;
    TZoneParser parser(reading, delegated);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        parser.Line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    parser.End();
    return reading;
}

TZoneReading ReadZoneFile(const std::string& path,
                          const std::function<void(std::string_view owner)>& delegated,
                          const TZoneProgress& progress) {
    TZoneReading reading;
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) {
        reading.Error = "cannot open " + path + ": " + std::strerror(errno);
        return reading;
    }
    gzbuffer(file, ReadBufferBytes);
    TZoneParser parser(reading, delegated);
    std::vector<char> buffer(64 * 1024);
    std::string longLine;
    std::size_t pieces = 0;
    while (gzgets(file, buffer.data(), static_cast<int>(buffer.size())) != nullptr) {
        if (progress && ++pieces % ZoneProgressLines == 0 &&
            !progress(static_cast<std::uint64_t>(std::max<z_off_t>(gzoffset(file), 0)))) {
            reading.Error = "reading of " + path + " cancelled";
            gzclose(file);
            return reading;
        }
        std::string_view piece(buffer.data());
        const bool ended = !piece.empty() && piece.back() == '\n';
        if (ended)
            piece.remove_suffix(1);
        if (!ended || !longLine.empty()) {
            longLine.append(piece);
            if (!ended)
                continue;
            parser.Line(longLine);
            longLine.clear();
            continue;
        }
        parser.Line(piece);
    }
    if (!longLine.empty())
        parser.Line(longLine);
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    if (code != Z_OK && code != Z_STREAM_END)
        reading.Error = path + " cannot be read to its end: " + message;
    gzclose(file);
    parser.End();
    return reading;
}
