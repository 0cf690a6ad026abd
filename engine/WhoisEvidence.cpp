#include "engine/WhoisEvidence.h"

#include "engine/Unit_Functions.h"

#include <algorithm>
#include <array>

namespace {

using enum TEvidenceKind;

enum class TLabelMatch {
    Part,  // anywhere in the label, also inside a word
    Word,  // a whole word of the label
    Whole, // the label and nothing else
    End,   // the label's end
};

struct TLabelRule {
    TEvidenceKind Kind;
    std::string_view Text; // lower-case
    TLabelMatch Match = TLabelMatch::Part;
};

using enum TLabelMatch;

// The labels registries give each fact, in the languages their replies use.
// The first rule whose label matches decides the line's kind; its value must
// then hold what that kind needs (a year, a host name, a status that is no
// "available"), else the line shows nothing.
constexpr auto LabelRules = std::to_array<TLabelRule>({
    {Date, "creat"},
    {Date, "registered"},
    {Date, "registration date"},
    {Date, "expir"},
    {Date, "paid-till"},
    {Date, "free-date"},
    {Date, "valid"},
    {Date, "renew"},
    {Date, "updated"},
    {Date, "changed"},
    {Date, "modified"},
    {Date, "last update"},
    {Date, "last-update"},
    {Date, "activated"},
    {Date, "vencimiento"},
    {Date, "fecha"},
    {Date, "date"},
    {Registrar, "registrar"},
    {Registrar, "registration service provider"},
    {Registrar, "sponsoring"},
    {NameServer, "name server"},
    {NameServer, "nameserver"},
    {NameServer, "name-server"},
    {NameServer, "nserver"},
    {NameServer, "dns_name"},
    {NameServer, "domain servers"},
    {NameServer, "dns", Word},
    {NameServer, "ns", Word},
    {Status, "status", End},
    {Status, "state", Whole},
    {Status, "domain state", Whole},
    {Holder, "registrant"},
    {Holder, "holder"},
    {Holder, "owner"},
    {Holder, "titular"},
    {Holder, "titulaire"},
    {Holder, "admin-c"},
    {Holder, "tech-c"},
    {Holder, "administrative contact"},
    {Holder, "technical contact"},
    {Holder, "contact administratif"},
    {Holder, "contact technique"},
});

// Labels of the reply or the database, not of the name's record: "Last update
// of WHOIS database", "query_status".
constexpr auto NotRecordLabels = std::to_array<std::string_view>({
    "database",
    "whois",
    "rdds",
    "query",
});

// A status in these words says the name is not held.
constexpr auto FreeStatusWords = std::to_array<std::string_view>({
    "avail",
    "free",
    "not ",
    "unassigned",
    "no object",
    "no match",
});

// A label longer than this, or of more words, is a sentence, not a label.
constexpr std::size_t LongestLabelBytes = 40;
constexpr std::size_t MostLabelWords = 6;
// Evidence lines are shown to people; this much is enough to recognise one.
constexpr std::size_t EvidenceLineBytes = 120;

struct TLabelled {
    std::string Label; // lower-case, single blanks, no dots or blanks around
    std::string Value; // lower-case, trimmed; "" when the line has none
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool IsCommentLine(std::string_view trimmed) {
    return !trimmed.empty() && std::string_view("%#;>").find(trimmed.front()) != std::string::npos;
}

// Blanks and tabs made single blanks; dots, stars and blanks taken off both
// ends (the dot leaders of "Registration date ........:").
std::string CleanLabel(std::string_view raw) {
    std::string label;
    for (const char c : raw) {
        if (!IsBlank(c))
            label += c;
        else if (!label.empty() && label.back() != ' ')
            label += ' ';
    }
    const auto isEdge = [](char c) { return c == ' ' || c == '.' || c == '*'; };
    const auto first = std::find_if_not(label.begin(), label.end(), isEdge);
    const auto last = std::find_if_not(label.rbegin(), label.rend(), isEdge).base();
    return first < last ? std::string(first, last) : std::string();
}

bool IsLabel(std::string_view label) {
    return !label.empty() && label.size() <= LongestLabelBytes &&
           static_cast<std::size_t>(std::count(label.begin(), label.end(), ' ')) < MostLabelWords;
}

// Where the label ends: the first colon that does not start "//" (a URL's),
// or the first '#' ("Nom de domaine#. . . value").
std::size_t SeparatorAt(std::string_view line) {
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '#' || (line[at] == ':' && line.substr(at + 1, 2) != "//"))
            return at;
    }
    return std::string_view::npos;
}

// "[Created on] 2001/03/27", also after a list letter ("a [Domain Name] x").
std::optional<TLabelled> BracketLabelled(std::string_view line) {
    if (line.size() > 2 && line[1] == ' ' && line[0] >= 'a' && line[0] <= 'z')
        line = TrimText(line.substr(1));
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos || close > LongestLabelBytes + 1)
        return std::nullopt;
    return TLabelled{CleanLabel(line.substr(1, close - 1)),
                     std::string(TrimText(line.substr(close + 1)))};
}

// "domain-name         plac.sk": one word of label letters, then a tab or a
// run of blanks. A word with a dot is the end of a sentence ("registrar.  Users").
std::optional<TLabelled> ColumnLabelled(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && (IsAlnum(line[end]) || line[end] == '-' || line[end] == '_'))
        ++end;
    const bool column =
        end > 0 && end < line.size() && (line[end] == '\t' || line.substr(end, 2) == "  ");
    if (!column)
        return std::nullopt;
    return TLabelled{std::string(line.substr(0, end)), std::string(TrimText(line.substr(end)))};
}

// rwhois writes the record's class first: "domain:Created:20090324".
void TakeRwhoisAttribute(TLabelled& labelled) {
    if (labelled.Label != "domain")
        return;
    const std::string_view value = labelled.Value;
    std::size_t end = 0;
    while (end < value.size() &&
           ((value[end] >= 'a' && value[end] <= 'z') || value[end] == '-' || value[end] == ';'))
        ++end;
    if (end == 0 || end == value.size() || value[end] != ':')
        return;
    labelled =
        TLabelled{CleanLabel(value.substr(0, end)), std::string(TrimText(value.substr(end + 1)))};
}

// The label and value of one lower-cased line; none for a blank line, a
// comment, or a line that is no "label value" (a sentence, a bare value).
std::optional<TLabelled> ReadLabelledLine(std::string_view line) {
    line = TrimText(line);
    if (line.empty() || IsCommentLine(line))
        return std::nullopt;
    std::optional<TLabelled> labelled = BracketLabelled(line);
    if (!labelled) {
        const std::size_t separator = SeparatorAt(line);
        if (separator != std::string_view::npos) {
            labelled = TLabelled{CleanLabel(line.substr(0, separator)),
                                 std::string(TrimText(line.substr(separator + 1)))};
            TakeRwhoisAttribute(*labelled);
        } else {
            labelled = ColumnLabelled(line);
        }
    }
    if (!labelled || !IsLabel(labelled->Label))
        return std::nullopt;
    return labelled;
}

bool HasWord(std::string_view label, std::string_view word) {
    for (std::size_t at = label.find(word); at != std::string_view::npos;
         at = label.find(word, at + 1)) {
        const std::size_t end = at + word.size();
        if ((at == 0 || !IsAlnum(label[at - 1])) && (end == label.size() || !IsAlnum(label[end])))
            return true;
    }
    return false;
}

bool RuleMatches(const TLabelRule& rule, std::string_view label) {
    switch (rule.Match) {
    case Word:
        return HasWord(label, rule.Text);
    case Whole:
        return label == rule.Text;
    case End:
        return label.ends_with(rule.Text);
    case Part:
        break;
    }
    return Contains(label, rule.Text);
}

// A year of the registry era written alone ("2009", "13-may-2009") or opening
// a date without separators ("20090324").
bool HoldsYear(std::string_view value) {
    for (std::size_t at = 0; at < value.size();) {
        if (!IsDigit(value[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < value.size() && IsDigit(value[end]))
            ++end;
        const std::string_view digits = value.substr(at, end - at);
        if (digits.size() == 4 && digits >= "1985" && digits <= "2099")
            return true;
        if (digits.size() == 8 && (digits.starts_with("19") || digits.starts_with("20")))
            return true;
        at = end;
    }
    return false;
}

// A host name: the value's first word holds a dot between letters or digits.
bool OpensWithHostName(std::string_view value) {
    const std::string_view word = value.substr(0, value.find(' '));
    const std::size_t dot = word.find('.');
    return dot != std::string_view::npos && dot > 0 && dot + 1 < word.size() &&
           IsAlnum(word[dot + 1]);
}

bool ValueShows(TEvidenceKind kind, std::string_view value) {
    switch (kind) {
    case Date:
        return HoldsYear(value);
    case NameServer:
        return OpensWithHostName(value);
    case Status:
        return std::none_of(FreeStatusWords.begin(), FreeStatusWords.end(),
                            [&](std::string_view word) { return Contains(value, word); });
    case Registrar:
    case Holder:
        break;
    }
    return std::any_of(value.begin(), value.end(), IsAlnum);
}

std::optional<TEvidenceKind> FactOf(const TLabelled& labelled) {
    const std::string_view label = labelled.Label;
    for (const TLabelRule& rule : LabelRules) {
        if (!RuleMatches(rule, label))
            continue;
        const bool ofTheRecord =
            rule.Kind == Registrar || rule.Kind == NameServer || rule.Kind == Holder ||
            std::none_of(NotRecordLabels.begin(), NotRecordLabels.end(),
                         [&](std::string_view word) { return Contains(label, word); });
        if (ofTheRecord && ValueShows(rule.Kind, labelled.Value))
            return rule.Kind;
        return std::nullopt;
    }
    return std::nullopt;
}

// At most bytes, never splitting a two-byte GBK character.
std::string CutGbk(std::string_view text, std::size_t bytes) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t width = static_cast<unsigned char>(text[end]) >= 0x81 ? 2 : 1;
        if (end + width > bytes)
            break;
        end += width;
    }
    return std::string(text.substr(0, std::min(end, text.size())));
}

std::string ShownLine(std::string_view line, std::size_t bytes) {
    std::string shown(TrimText(line));
    std::replace(shown.begin(), shown.end(), '\t', ' ');
    return CutGbk(shown, bytes);
}

bool IsRuler(std::string_view line) {
    return std::none_of(line.begin(), line.end(),
                        [](char c) { return IsAlnum(c) || static_cast<unsigned char>(c) >= 0x80; });
}

template <class TVisit> void ForEachLine(std::string_view text, TVisit&& visit) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (visit(line, text))
            return;
    }
}

} // namespace

std::string_view EvidenceWord(TEvidenceKind kind) {
    switch (kind) {
    case Date:
        return "date";
    case Registrar:
        return "registrar";
    case NameServer:
        return "name server";
    case Status:
        return "status";
    case Holder:
        break;
    }
    return "holder";
}

std::optional<TEvidence> FindRegistrationEvidence(std::string_view reply) {
    const std::string lower = LowerAscii(reply);
    std::optional<TEvidence> found;
    ForEachLine(lower, [&](std::string_view line, std::string_view rest) {
        std::optional<TLabelled> labelled = ReadLabelledLine(line);
        if (!labelled)
            return false;
        // "Registrant:" alone on its line: the value is the next line.
        if (labelled->Value.empty()) {
            const std::string_view next = TrimText(rest.substr(0, rest.find('\n')));
            if (next.empty() || IsCommentLine(next))
                return false;
            labelled->Value = std::string(next);
        }
        const std::optional<TEvidenceKind> kind = FactOf(*labelled);
        if (!kind)
            return false;
        // The same line as the server sent it, not lower-cased.
        const std::size_t at = static_cast<std::size_t>(line.data() - lower.data());
        found = TEvidence{*kind, ShownLine(reply.substr(at, line.size()), EvidenceLineBytes)};
        return true;
    });
    return found;
}

std::string FirstMeaningfulLine(std::string_view reply) {
    std::string meaningful;
    std::string firstNonBlank;
    ForEachLine(reply, [&](std::string_view line, std::string_view) {
        const std::string_view trimmed = TrimText(line);
        if (trimmed.empty())
            return false;
        if (firstNonBlank.empty())
            firstNonBlank = ShownLine(trimmed, MeaningfulLineBytes);
        if (IsCommentLine(trimmed) || IsRuler(trimmed))
            return false;
        meaningful = ShownLine(trimmed, MeaningfulLineBytes);
        return true;
    });
    return meaningful.empty() ? firstNonBlank : meaningful;
}
